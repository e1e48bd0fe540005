#include "command_line.h"

#include <algorithm>

namespace {

bool NeedsQuotes(const WideString& argument) {
  if (argument.empty()) return true;
  for (const WCHAR c : argument)
    if (c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '"') return true;
  return false;
}

}  // namespace

size_t SplitProgramName(const WideString& line, size_t i, WideString& program) {
  if (line[i] == '"') {
    const size_t close = line.find('"', i + 1);
    const size_t end = close == WideString::npos ? line.size() : close;
    program = line.substr(i + 1, end - i - 1);
    return close == WideString::npos ? end : close + 1;
  }
  const size_t start = i;
  while (i < line.size() && !IsBlank(line[i])) ++i;
  program = line.substr(start, i - start);
  return i;
}

std::vector<WideString> SplitCommandLine(const WideString& line) {
  std::vector<WideString> tokens;
  if (line.empty()) return tokens;
  tokens.emplace_back();
  size_t i = SplitProgramName(line, 0, tokens.back());
  while (i < line.size() && IsBlank(line[i])) ++i;
  if (i == line.size()) return tokens;

  WideString token;
  int quotes = 0;          // quotes seen in the current quoted run, 0 = outside
  size_t backslashes = 0;  // run of backslashes just copied into token
  while (i < line.size()) {
    const WCHAR c = line[i];
    if (IsBlank(c) && quotes == 0) {
      tokens.push_back(token);
      token.clear();
      backslashes = 0;
      while (i < line.size() && IsBlank(line[i])) ++i;
      if (i == line.size()) return tokens;
      continue;
    }
    if (c == '\\') {
      token += c;
      ++backslashes;
      ++i;
      continue;
    }
    if (c != '"') {
      token += c;
      backslashes = 0;
      ++i;
      continue;
    }
    // A quote: the backslashes before it are halved.
    token.resize(token.size() - backslashes / 2);
    if (backslashes % 2 == 1) {
      token.back() = '"';
    } else {
      ++quotes;
    }
    backslashes = 0;
    ++i;
    // A run of quotes: every third one is literal, and two close the part.
    while (i < line.size() && line[i] == '"') {
      if (++quotes == 3) {
        token += '"';
        quotes = 0;
      }
      ++i;
    }
    if (quotes == 2) quotes = 0;
  }
  tokens.push_back(token);
  return tokens;
}

std::vector<WideString> SplitArgumentVector(const WideString& line) {
  std::vector<WideString> tokens;
  if (line.empty()) return tokens;
  bool quoted = false;
  size_t i = 0;
  tokens.emplace_back();
  for (; i < line.size() && (quoted || !IsBlank(line[i])); ++i) {
    if (line[i] == '"') {
      quoted = !quoted;
    } else {
      tokens.back() += line[i];
    }
  }
  for (;;) {
    while (i < line.size() && IsBlank(line[i])) ++i;
    if (i == line.size()) return tokens;
    WideString token;
    quoted = false;
    for (;;) {
      size_t backslashes = 0;
      while (i < line.size() && line[i] == '\\') {
        ++backslashes;
        ++i;
      }
      // 2n backslashes before a quote give n and let the quote open or close
      // a part (or, doubled inside one, stand for itself); 2n+1 give n and a
      // literal quote. Backslashes before anything else are as they stand.
      bool literal = true;
      if (i < line.size() && line[i] == '"') {
        if (backslashes % 2 == 0) {
          if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
            ++i;
          } else {
            literal = false;
            quoted = !quoted;
          }
        }
        backslashes /= 2;
      }
      token.append(backslashes, '\\');
      if (i == line.size() || (!quoted && IsBlank(line[i]))) break;
      if (literal) token += line[i];
      ++i;
    }
    tokens.push_back(token);
  }
}

void AppendQuotedArgument(WideString& line, const WideString& argument) {
  if (!NeedsQuotes(argument)) {
    line += argument;
    return;
  }
  line += '"';
  size_t backslashes = 0;
  for (const WCHAR c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    // Backslashes followed by a quote are doubled, and the quote escaped.
    const size_t copies = c == '"' ? backslashes * 2 + 1 : backslashes;
    line.append(copies, '\\');
    line += c;
    backslashes = 0;
  }
  line.append(backslashes * 2, '\\');
  line += '"';
}

void AppendProgramName(WideString& line, const WideString& program) {
  const bool quoted = program.empty() ||
                      program.find_first_of(WideString(1, ' ') + WCHAR('\t')) != WideString::npos;
  if (quoted) line += '"';
  line += program;
  if (quoted) line += '"';
}

WideString JoinCommandLine(const std::vector<WideString>& tokens) {
  WideString line;
  for (size_t i = 0; i < tokens.size(); ++i) {
    if (i == 0) {
      AppendProgramName(line, tokens[i]);
      continue;
    }
    line += ' ';
    AppendQuotedArgument(line, tokens[i]);
  }
  return line;
}
