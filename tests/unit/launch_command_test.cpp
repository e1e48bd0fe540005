#include "launch_command.h"

#include <gtest/gtest.h>

#include <random>

#include "command_line.h"
#include "test_text.h"

namespace {

struct FindCase {
  const char* name;
  std::string bytes;
  bool found;
  std::string command;
};

using namespace std::string_literals;

const FindCase kFindCases[] = {
    {"trailer with bytes behind it", "image#!run me\0tail"s, true, "run me"},
    {"two trailers: the last wins", "img#!first\0#!second\0"s, true, "second"},
    {"marker inside the command", "img#!one#!two\0"s, true, "two"},
    {"two markers in a row", "img#!#!cmd\0"s, true, "cmd"},
    {"empty command", "img#!\0"s, true, ""},
    {"CR LF kept", "img#!cmd\r\n\0"s, true, "cmd\r\n"},
    {"marker at offset 0", "#!x\0"s, true, "x"},
    {"image NUL before the marker", "\0\0#!a b\0"s, true, "a b"},
    {"no marker", "just an image\0"s, false, ""},
    {"empty file", ""s, false, ""},
    {"one byte", "#"s, false, ""},
    {"marker only, no terminator", "#!"s, false, ""},
    {"cut-off trailer", "img#!cmd"s, false, ""},
    {"cut-off trailer behind a good one", "img#!good\0#!cut"s, false, ""},
    {"reversed marker", "img!#cmd\0"s, false, ""},
};

TEST(FindLaunchCommand, FindsTheLastTerminatedTrailer) {
  for (const FindCase& c : kFindCases) {
    std::string command = "untouched";
    const bool found = FindLaunchCommand(c.bytes.data(), c.bytes.size(), command);
    EXPECT_EQ(found, c.found) << c.name;
    EXPECT_EQ(command, c.found ? c.command : "untouched") << c.name;
  }
}

TEST(FindLaunchCommand, NeverReadsPastTheBuffer) {
  // A buffer of its own allocation, so that ASan sees any read beyond it.
  for (const char* text : {"#", "#!", "ab#!", "ab#!c", "!#!"}) {
    const std::string bytes = text;
    std::unique_ptr<char[]> exact(new char[bytes.size()]);
    std::copy(bytes.begin(), bytes.end(), exact.get());
    std::string command;
    EXPECT_FALSE(FindLaunchCommand(exact.get(), bytes.size(), command)) << text;
  }
}

// The rule itself, one position at a time from the end.
bool FindByTheRule(const std::string& bytes, std::string& command) {
  for (size_t i = bytes.size() < 2 ? 0 : bytes.size() - 1; i-- > 0;) {
    if (bytes[i] != '#' || bytes[i + 1] != '!') continue;
    const size_t end = bytes.find('\0', i + 2);
    if (end == std::string::npos) return false;
    command = bytes.substr(i + 2, end - i - 2);
    return true;
  }
  return false;
}

// The word-at-a-time scan agrees with the rule wherever the markers fall,
// word boundaries included.
TEST(FindLaunchCommand, AgreesWithTheRuleOnGeneratedBuffers) {
  std::mt19937 random(7);
  const char alphabet[] = {'#', '!', '\0', 'a', '#', '!', 'b', '\0', 'c', 'd', 'e', 'f'};
  std::uniform_int_distribution<size_t> length(0, 70), pick(0, sizeof alphabet - 1), rare(0, 15);
  for (int round = 0; round < 20000; ++round) {
    std::string bytes(length(random), 'x');
    for (char& byte : bytes)
      if (rare(random) == 0) byte = alphabet[pick(random)];
    std::string expected = "none", found = "none";
    const bool expectedFound = FindByTheRule(bytes, expected);
    ASSERT_EQ(FindLaunchCommand(bytes.data(), bytes.size(), found), expectedFound) << round;
    ASSERT_EQ(found, expected) << round;
  }
}

struct BuildCase {
  const char* name;
  const char* command;
  std::vector<const char*> arguments;
  const char* line;
};

const BuildCase kBuildCases[] = {
    {"no arguments", "C:\\app\\x.exe --flag", {}, "C:\\app\\x.exe --flag"},
    {"plain arguments", "C", {"A1", "A2"}, "C A1 A2"},
    {"argument with a space", "C", {"a b"}, "C \"a b\""},
    {"empty argument", "C", {"", "x", ""}, "C \"\" x \"\""},
    {"argument with a quote", "C", {"say \"hi\""}, "C \"say \\\"hi\\\"\""},
    {"empty command", "", {"A1", "A2"}, " A1 A2"},
    {"nothing at all", "", {}, ""},
    {"non-ASCII argument", "C", {"日本"}, "C 日本"},
    {"command kept as written",
     "\"C:\\Program Files\\x.exe\" \"a b\"",
     {"c"},
     "\"C:\\Program Files\\x.exe\" \"a b\" c"},
    {"trailing backslash", "C", {"dir\\", "a b\\"}, "C dir\\ \"a b\\\\\""},
};

TEST(BuildChildCommandLine, AppendsEachArgumentBehindOneSpace) {
  for (const BuildCase& c : kBuildCases) {
    std::vector<WideString> arguments;
    for (const char* argument : c.arguments) arguments.push_back(W(argument));
    EXPECT_EQ(Narrow(BuildChildCommandLine(W(c.command), arguments)), c.line) << c.name;
  }
}

// The child splits its command line and must see the launch command's own
// tokens followed by exactly the launcher's arguments.
TEST(BuildChildCommandLine, ChildReceivesTheArgumentsIntact) {
  const std::vector<WideString> arguments = {
      W(""), W("a b"), W("\"q\""), W("x\\"), W("\\\\\""), W("tab\t"), W("é日"), W("\n"), W("")};
  const WideString line = BuildChildCommandLine(W("\"C:\\My App\\x.exe\" fixed"), arguments);
  std::vector<WideString> expected = {W("C:\\My App\\x.exe"), W("fixed")};
  expected.insert(expected.end(), arguments.begin(), arguments.end());
  EXPECT_EQ(SplitCommandLine(line), expected);
}

}  // namespace
