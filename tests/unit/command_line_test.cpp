#include "command_line.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "test_text.h"

namespace {

struct SplitCase {
  const char* line;
  std::vector<const char*> tokens;
};

// The documented examples of the Windows rules, behind a program name, and
// the program name's own rule: quotes group, backslashes stay.
const SplitCase kSplitCases[] = {
    {"p \"abc\" d e", {"p", "abc", "d", "e"}},
    {"p a\\\\b d\"e f\"g h", {"p", "a\\\\b", "de fg", "h"}},
    {"p a\\\\\\\"b c d", {"p", "a\\\"b", "c", "d"}},
    {"p a\\\\\\\\\"b c\" d e", {"p", "a\\\\b c", "d", "e"}},
    {"p a\"b\"\" c d", {"p", "ab\"", "c", "d"}},
    {"p \"a\"\"\"b\"", {"p", "a\"b"}},
    {"p \"\" x", {"p", "", "x"}},
    {"p \"\"", {"p", ""}},
    {"p a\\ \\\\", {"p", "a\\", "\\\\"}},
    {"p \t a \t b \t", {"p", "a", "b"}},
    {"p a\nb\vc", {"p", "a\nb\vc"}},
    {"\"C:\\Program Files\\x.exe\" a", {"C:\\Program Files\\x.exe", "a"}},
    {"\"C:\\dir\\\"x y", {"C:\\dir\\", "x", "y"}},
    {"\"a b\"c d", {"a b", "c", "d"}},
    {"C:\\a\\\"b c", {"C:\\a\\\"b", "c"}},
    {"\"unclosed program", {"unclosed program"}},
    {" leading", {"", "leading"}},
    {"", {}},
};

TEST(SplitCommandLine, FollowsTheWindowsRules) {
  for (const SplitCase& c : kSplitCases) {
    std::vector<WideString> expected;
    for (const char* token : c.tokens) expected.push_back(W(token));
    EXPECT_EQ(SplitCommandLine(W(c.line)), expected) << "line: " << c.line;
  }
}

// Where the C runtime's argv differs from CommandLineToArgvW: a doubled
// quote inside a quoted part, which goes on, and quotes inside the program
// name, which does not end there. The first is the runtime's documented
// example.
const SplitCase kRuntimeSplitCases[] = {
    {"p a\"b\"\" c d", {"p", "ab\" c d"}},     {"p \"a\"\" b\"", {"p", "a\" b"}},
    {"p \"a\"\"b\" c", {"p", "a\"b", "c"}},    {"\"a b\"c d", {"a bc", "d"}},
    {"\"C:\\dir\\\"x y", {"C:\\dir\\x", "y"}}, {"C:\\a\\\"b c", {"C:\\a\\b c"}},
};

TEST(SplitArgumentVector, FollowsTheRuntimesRules) {
  std::vector<std::string> differing;
  for (const SplitCase& c : kRuntimeSplitCases) {
    std::vector<WideString> expected;
    for (const char* token : c.tokens) expected.push_back(W(token));
    EXPECT_EQ(SplitArgumentVector(W(c.line)), expected) << "line: " << c.line;
    EXPECT_NE(SplitCommandLine(W(c.line)), expected) << "line: " << c.line;
    differing.push_back(c.line);
  }
  // Everywhere else the two agree.
  for (const SplitCase& c : kSplitCases) {
    if (std::find(differing.begin(), differing.end(), c.line) != differing.end()) continue;
    EXPECT_EQ(SplitArgumentVector(W(c.line)), SplitCommandLine(W(c.line))) << "line: " << c.line;
  }
}

struct QuoteCase {
  const char* argument;
  const char* written;
};

const QuoteCase kQuoteCases[] = {
    {"plain", "plain"},
    {"a\\b\\", "a\\b\\"},
    {"", "\"\""},
    {"a b", "\"a b\""},
    {"tab\there", "\"tab\there\""},
    {"line\nfeed", "\"line\nfeed\""},
    {"v\vt", "\"v\vt\""},
    {"say \"hi\"", "\"say \\\"hi\\\"\""},
    {"\"", "\"\\\"\""},
    {"x\\\"y", "\"x\\\\\\\"y\""},
    {"end\\ slash\\", "\"end\\ slash\\\\\""},
    {"a\\\\", "a\\\\"},
};

TEST(AppendQuotedArgument, QuotesOnlyWhatNeedsIt) {
  for (const QuoteCase& c : kQuoteCases) {
    WideString line;
    AppendQuotedArgument(line, W(c.argument));
    EXPECT_EQ(line, W(c.written)) << "argument: " << c.argument;
  }
}

// Any argument list, written behind a program name, splits back into exactly
// the same arguments, by either split: a launcher's child may take its argv
// from the C runtime.
TEST(AppendQuotedArgument, RoundTripsThroughTheSplit) {
  const WideString pieces[] = {W(""),
                               W(" "),
                               W("\t"),
                               W("\""),
                               W("\\"),
                               W("\\\\"),
                               W("a"),
                               W("\n"),
                               W("\v"),
                               W("\"\""),
                               W("é"),
                               W("日本"),
                               W("\xF0\x9F\x98\x80"),
                               W("''"),
                               W("#!")};
  std::mt19937 random(20261208);
  std::uniform_int_distribution<size_t> pick(0, std::size(pieces) - 1), length(0, 6), count(0, 5);
  for (int round = 0; round < 5000; ++round) {
    std::vector<WideString> arguments(count(random));
    for (WideString& argument : arguments)
      for (size_t n = length(random); n > 0; --n) argument += pieces[pick(random)];
    WideString line = W("prog");
    for (const WideString& argument : arguments) {
      line += ' ';
      AppendQuotedArgument(line, argument);
    }
    std::vector<WideString> expected = {W("prog")};
    expected.insert(expected.end(), arguments.begin(), arguments.end());
    ASSERT_EQ(SplitCommandLine(line), expected) << "line: " << Narrow(line);
    ASSERT_EQ(SplitArgumentVector(line), expected) << "line: " << Narrow(line);
  }
}

TEST(AppendProgramName, QuotesWhenTheNameHoldsBlanks) {
  for (const char* name : {"C:\\Program Files\\a.exe", "", "plain.exe", "tab\tname", "a\\"}) {
    WideString line;
    AppendProgramName(line, W(name));
    line += W(" arg");
    EXPECT_EQ(SplitCommandLine(line), (std::vector<WideString>{W(name), W("arg")})) << name;
  }
}

// Tokens written by JoinCommandLine split back exactly, the program name by
// its own rule and every later token by the escape rules.
TEST(JoinCommandLine, SplitsBackIntoTheSameTokens) {
  const std::vector<std::vector<const char*>> cases = {
      {"prog"},
      {"C:\\Program Files\\App\\app.exe", "--flag"},
      {"/opt/Wine App/run", "x y", "", "say \"hi\"", "dir\\", "a b\\", "\\\\server\\share\\"},
      {"p", "tab\there", "line\nfeed", "é", "日本語", "\"", "\\\"", ""},
      {"tab\tprogram", "#", "!"},
      {"C:\\dir\\", "trailing"},
  };
  for (const auto& c : cases) {
    std::vector<WideString> tokens;
    for (const char* token : c) tokens.push_back(W(token));
    EXPECT_EQ(SplitCommandLine(JoinCommandLine(tokens)), tokens) << Narrow(JoinCommandLine(tokens));
    EXPECT_EQ(SplitArgumentVector(JoinCommandLine(tokens)), tokens);
  }
  EXPECT_EQ(JoinCommandLine({W("a b"), W("c d"), W("")}), W("\"a b\" \"c d\" \"\""));
  EXPECT_EQ(JoinCommandLine({}), W(""));
}

}  // namespace
