// The command-line rules: arguments written with AppendProgramName and
// AppendQuotedArgument split back to exactly themselves, and for any line
// at all, splitting, writing the tokens again and splitting once more gives
// the same tokens.
//
// Input, first part: the tokens. A 0x00 byte ends a token; 0x01..0x7F is
// that character; 0x80..0xEF picks one of the characters the rules treat
// specially; 0xF0..0xFF takes the next two bytes as any UTF-16 code unit but
// 0 (lone surrogates included). The first token is the program name, its
// quotes dropped. Second part, the whole input as raw code units, is the
// arbitrary line.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "command_line.h"

namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

std::vector<WideString> DecodeTokens(const uint8_t* data, size_t size) {
  static const char16_t kSpecial[] = {'\\', '"', ' ', '\t', '\n', '\v', '\r', 'a', 0x3000, 0xD800};
  std::vector<WideString> tokens(1);
  for (size_t i = 0; i < size; ++i) {
    const uint8_t byte = data[i];
    char16_t c;
    if (byte == 0) {
      tokens.emplace_back();
      continue;
    } else if (byte < 0x80) {
      c = byte;
    } else if (byte < 0xF0) {
      c = kSpecial[(byte - 0x80) % (sizeof kSpecial / sizeof kSpecial[0])];
    } else {
      c = i + 2 < size ? char16_t(data[i + 1] | data[i + 2] << 8) : char16_t(byte);
      i += 2;
      if (c == 0) c = 1;
    }
    tokens.back() += c;
  }
  return tokens;
}

WideString WriteLine(const std::vector<WideString>& tokens) {
  WideString line;
  AppendProgramName(line, tokens[0]);
  for (size_t i = 1; i < tokens.size(); ++i) {
    line += ' ';
    AppendQuotedArgument(line, tokens[i]);
  }
  return line;
}

// The program name, its quotes dropped: the split takes it without escapes,
// so a quote cannot be written into it.
WideString WithoutQuotes(const WideString& text) {
  WideString out;
  for (const char16_t c : text)
    if (c != '"') out += c;
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<WideString> tokens = DecodeTokens(data, size);
  tokens[0] = WithoutQuotes(tokens[0]);
  Check(SplitCommandLine(WriteLine(tokens)) == tokens);

  WideString line;
  for (size_t i = 0; i + 1 < size; i += 2) line += char16_t(data[i] | data[i + 1] << 8);
  const std::vector<WideString> split = SplitCommandLine(line);
  Check(split.empty() == line.empty());
  if (!split.empty()) Check(SplitCommandLine(WriteLine(split)) == split);
  // The same bytes read as the tokens' alphabet, for lines rich in quotes
  // and backslashes.
  WideString rich;
  for (const WideString& token : DecodeTokens(data, size)) rich += token + u" ";
  const std::vector<WideString> richSplit = SplitCommandLine(rich);
  Check(!richSplit.empty());
  Check(SplitCommandLine(WriteLine(richSplit)) == richSplit);
  return 0;
}
