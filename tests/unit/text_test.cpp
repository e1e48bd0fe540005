#include "text.h"

#include <gtest/gtest.h>

#include <random>

#include "code_page.h"
#include "test_text.h"

namespace {

TEST(IsValidUtf8, AcceptsWellFormedAndRefusesTheRest) {
  const struct {
    std::string bytes;
    bool valid;
  } cases[] = {
      {"", true},
      {"plain ascii", true},
      {"caf\xC3\xA9", true},
      {"\xE6\x97\xA5\xE6\x9C\xAC", true},
      {"\xF0\x9F\x98\x80", true},
      {"caf\xE9", false},           // Latin-1
      {"\xC0\xAF", false},          // overlong "/"
      {"\xE0\x80\xAF", false},      // overlong
      {"\xED\xA0\x80", false},      // encoded surrogate
      {"\xF4\x90\x80\x80", false},  // beyond U+10FFFF
      {"\xC3", false},              // cut short
      {"\x80", false},              // lone continuation
      {"\xF0\x9F\x98", false},      // cut short
  };
  for (const auto& c : cases) EXPECT_EQ(IsValidUtf8(c.bytes), c.valid) << c.bytes;
}

TEST(Utf8ToWide, DecodesAndEscapesStrayBytes) {
  EXPECT_EQ(Utf8ToWide("a\xC3\xA9"), (WideString{'a', 0xE9}));
  EXPECT_EQ(Utf8ToWide("\xF0\x9F\x98\x80"), (WideString{0xD83D, 0xDE00}));
  EXPECT_EQ(Utf8ToWide("\xE9x"), (WideString{0xDCE9, 'x'}));
  EXPECT_EQ(Utf8ToWide("\xED\xA0\x80"), (WideString{0xDCED, 0xDCA0, 0xDC80}));
}

// Any byte string, as a POSIX argument may be, survives the way through
// UTF-16 and back.
TEST(Utf8ToWide, EveryByteStringComesBack) {
  std::mt19937 random(3);
  std::uniform_int_distribution<int> byte(0, 255), length(0, 12);
  for (int round = 0; round < 20000; ++round) {
    std::string bytes(static_cast<size_t>(length(random)), '\0');
    for (char& c : bytes) c = static_cast<char>(byte(random));
    ASSERT_EQ(WideToUtf8(Utf8ToWide(bytes)), bytes);
  }
}

TEST(WideToUtf8, EncodesWellFormedText) {
  EXPECT_EQ(WideToUtf8(WideString{'a', 0xE9, 0x65E5}), "a\xC3\xA9\xE6\x97\xA5");
  EXPECT_EQ(WideToUtf8(WideString{0xD83D, 0xDE00}), "\xF0\x9F\x98\x80");
  EXPECT_EQ(WideToUtf8(WideString{0}), std::string(1, '\0'));
  // Unpaired surrogates outside the escape range: three bytes each.
  EXPECT_EQ(WideToUtf8(WideString{0xD800, 'x'}), "\xED\xA0\x80x");
}

TEST(Latin1ToWide, MapsEachByte) {
  EXPECT_EQ(Latin1ToWide("\xE9\xFF\x01"), (WideString{0xE9, 0xFF, 0x01}));
}

// The same on both hosts: Latin-1 here, code page 1252 under Wine. What the
// page lacks is "?", never a look-alike (U+0101 would best-fit to "a"), and
// a character beyond the BMP is one "?", not two.
TEST(WideToAnsi, ReplacesWhatTheCodePageLacks) {
  EXPECT_EQ(WideToAnsi(WideString{'c', 'a', 'f', 0xE9}), "caf\xE9");
  EXPECT_EQ(WideToAnsi(WideString{0x2603, ' ', 0x0101}), "? ?");
  EXPECT_EQ(WideToAnsi(WideString{'<', 0xD83D, 0xDE00, '>'}), "<?>");
  EXPECT_EQ(WideToAnsi(WideString()), "");
}

TEST(Utf8OrAnsiToWide, TakesUtf8AndFallsBackBytewise) {
  EXPECT_EQ(Utf8OrAnsiToWide("C:\\caf\xC3\xA9\\x.exe"), W("C:\\café\\x.exe"));
  // Not UTF-8: the ANSI code page, where 0xE9 is é too (Latin-1, 1252).
  EXPECT_EQ(Utf8OrAnsiToWide("C:\\caf\xE9\\x.exe"), W("C:\\café\\x.exe"));
  EXPECT_EQ(Utf8OrAnsiToWide(""), WideString());
}

struct ReplaceCase {
  const char* text;
  const char* pattern;
  const char* replacement;
  const char* result;
};

const ReplaceCase replaceCases[] = {
    {"a\\b\\c", "\\", "/", "a/b/c"},
    {"abc", "", "x", "abc"},
    {"", "a", "b", ""},
    {"../../lib", "../", "", "lib"},
    // After a removal the search goes on where the text was cut, so the
    // "../" that the removal closes up before that point stays.
    {"....//", "../", "", "../"},
    {"../a/../b", "../", "", "a/b"},
    // Text produced by the replacement is not searched again.
    {"aaa", "a", "aa", "aaaaaa"},
    {"x.exe.exe", ".exe", ".pth", "x.pth.pth"},
    {"X.EXE", ".exe", ".pth", "X.EXE"},
};

TEST(ReplaceAll, ReplacesLeftToRightWithoutRescanning) {
  for (const ReplaceCase& c : replaceCases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ReplaceAll(c.text, c.pattern, c.replacement), c.result);
  }
}

// Only A-Z and a-z change; the neighbours of the two ranges and the bytes of
// UTF-8 sequences stay as they are.
TEST(AsciiCase, ChangesOnlyAsciiLetters) {
  const struct {
    std::string text, lower, upper;
  } cases[] = {
      {"", "", ""},
      {"Tcl_Library", "tcl_library", "TCL_LIBRARY"},
      {"X.EXE", "x.exe", "X.EXE"},
      {"@[`{ 09", "@[`{ 09", "@[`{ 09"},
      {"Caf\xC3\xA9 \xC3\x89", "caf\xC3\xA9 \xC3\x89", "CAF\xC3\xA9 \xC3\x89"},
      {std::string("A\0b", 3), std::string("a\0b", 3), std::string("A\0B", 3)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(AsciiLower(c.text), c.lower) << c.text;
    EXPECT_EQ(AsciiUpper(c.text), c.upper) << c.text;
  }
}

}  // namespace
