// The command-line rules that only the tools use: joining tokens, catching
// an unquoted program path with blanks, and where a program is searched.
// Apart from command_line.cpp, which the launcher stub compiles: a linked
// object's functions all stay in a PE image, used or not.
#include <algorithm>

#include "command_line.h"

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

namespace {

void AppendAscii(WideString& text, const char* ascii) {
  while (*ascii) text += WCHAR(*ascii++);
}

bool StartsWith(const WideString& text, const char* ascii) {
  for (size_t i = 0; ascii[i]; ++i)
    if (i >= text.size() || text[i] != WCHAR(ascii[i])) return false;
  return true;
}

bool IsWindowsSeparator(WCHAR c) { return c == '\\' || c == '/'; }

bool HoldsWindowsSeparator(const WideString& text) {
  for (const WCHAR c : text)
    if (IsWindowsSeparator(c)) return true;
  return false;
}

bool StartsWithDrive(const WideString& text) {
  return text.size() >= 2 && text[1] == ':' &&
         ((text[0] >= 'A' && text[0] <= 'Z') || (text[0] >= 'a' && text[0] <= 'z'));
}

// Options, absolute paths and quoted arguments end the words that a path
// with blanks could go on with.
bool IsPlainWord(const WideString& word) {
  return word[0] != '-' && word[0] != '"' && !IsWindowsSeparator(word[0]) && !StartsWithDrive(word);
}

// The next word (a run of non-blanks) at or after from; begin == line.size()
// when there is none.
void NextWord(const WideString& line, size_t from, size_t& begin, size_t& end) {
  begin = from;
  while (begin < line.size() && IsBlank(line[begin])) ++begin;
  end = begin;
  while (end < line.size() && !IsBlank(line[end])) ++end;
}

// The folder part of a path with its closing separator, or nothing.
WideString FolderOf(const WideString& path) {
  size_t i = path.size();
  while (i > 0 && !IsWindowsSeparator(path[i - 1])) --i;
  return path.substr(0, i);
}

WideString InFolder(const WideString& folder, const WideString& name, WCHAR separator) {
  if (folder.empty() || folder.back() == separator || folder.back() == '/') return folder + name;
  return folder + separator + name;
}

std::vector<WideString> SplitList(const WideString& text, WCHAR separator) {
  std::vector<WideString> items(1);
  for (const WCHAR c : text) {
    if (c == separator)
      items.emplace_back();
    else
      items.back() += c;
  }
  return items;
}

std::vector<WideString> WindowsCandidates(const WideString& program, const WideString& launcherPath,
                                          const WideString& pathVariable) {
  WideString name = program;
  if (name.find('.', FolderOf(name).size()) == WideString::npos) AppendAscii(name, ".exe");
  if (!ProgramIsSearched(program, true)) return {name};
  std::vector<WideString> candidates = {FolderOf(launcherPath) + name};
  for (WideString folder : SplitList(pathVariable, ';')) {
    folder.erase(std::remove(folder.begin(), folder.end(), WCHAR('"')), folder.end());
    if (!folder.empty()) candidates.push_back(InFolder(folder, name, '\\'));
  }
  return candidates;
}

// An empty entry, which would stand for the current folder, is left out.
std::vector<WideString> PosixCandidates(const WideString& program, const WideString& pathVariable) {
  if (!ProgramIsSearched(program, false)) return {program};
  std::vector<WideString> candidates;
  for (const WideString& folder : SplitList(pathVariable, ':'))
    if (!folder.empty()) candidates.push_back(InFolder(folder, program, '/'));
  return candidates;
}

}  // namespace

bool ProgramIsSearched(const WideString& program, bool windowsRules) {
  if (!windowsRules) return program.find('/') == WideString::npos;
  const bool relativeToCurrent = StartsWith(program, ".\\") || StartsWith(program, "./") ||
                                 StartsWith(program, "..\\") || StartsWith(program, "../");
  return !program.empty() && !StartsWithDrive(program) && !IsWindowsSeparator(program[0]) &&
         !relativeToCurrent;
}

size_t SpacedProgramPathEnd(const WideString& line) {
  size_t begin, end;
  NextWord(line, 0, begin, end);
  if (begin != 0 || line.empty() || line[0] == '"' || !HoldsWindowsSeparator(line.substr(0, end)))
    return 0;
  for (NextWord(line, end, begin, end); begin < line.size(); NextWord(line, end, begin, end)) {
    const WideString word = line.substr(begin, end - begin);
    if (!IsPlainWord(word)) return 0;
    if (HoldsWindowsSeparator(word)) return end;
  }
  return 0;
}

std::vector<WideString> ProgramCandidates(const WideString& program, const WideString& launcherPath,
                                          const WideString& pathVariable, bool windowsRules) {
  if (program.empty()) return {};
  return windowsRules ? WindowsCandidates(program, launcherPath, pathVariable)
                      : PosixCandidates(program, pathVariable);
}
