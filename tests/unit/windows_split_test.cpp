// Our split against the real CommandLineToArgvW, on the same lines.
#include <gtest/gtest.h>

#include <random>

#include "command_line.h"
#include "test_text.h"
#include "win32.h"

namespace {

std::vector<WideString> RealSplit(const WideString& line) {
  int count = 0;
  LPWSTR* vector = CommandLineToArgvW(line.c_str(), &count);
  std::vector<WideString> tokens;
  for (int i = 0; vector && i < count; ++i) tokens.emplace_back(vector[i]);
  LocalFree(vector);
  return tokens;
}

TEST(WindowsSplit, DocumentedLinesSplitAlike) {
  for (const char* line :
       {"p \"abc\" d e", "p a\\\\b d\"e f\"g h", "p a\\\\\\\"b c d", "p a\\\\\\\\\"b c\" d e",
        "p a\"b\"\" c d", "p \"a\"\"\"b\"", "\"C:\\dir\\\"x y", "\"a b\"c d", "p \"\" x",
        "p \t a \t b \t", "p a\nb\vc", "\"unclosed program", "C:\\a\\\"b c"}) {
    EXPECT_EQ(SplitCommandLine(W(line)), RealSplit(W(line))) << line;
  }
}

TEST(WindowsSplit, GeneratedLinesSplitAlike) {
  const char* pieces[] = {" ", "\t", "\"", "\\", "a", "é", "\"\"", "\\\"", "b c", "\n"};
  std::mt19937 random(8122026);
  std::uniform_int_distribution<size_t> pick(0, std::size(pieces) - 1), length(1, 14);
  for (int round = 0; round < 3000; ++round) {
    std::string line = round % 2 ? "\"prog name\"" : "prog";
    for (size_t n = length(random); n > 0; --n) line += pieces[pick(random)];
    ASSERT_EQ(SplitCommandLine(W(line)), RealSplit(W(line))) << line;
  }
}

}  // namespace
