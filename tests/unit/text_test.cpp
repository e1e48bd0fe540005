#include "text.h"

#include <gtest/gtest.h>

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

TEST(Utf8ToWide, DecodesAndKeepsStrayBytes) {
  EXPECT_EQ(Utf8ToWide("a\xC3\xA9"), (WideString{'a', 0xE9}));
  EXPECT_EQ(Utf8ToWide("\xF0\x9F\x98\x80"), (WideString{0xD83D, 0xDE00}));
  // A byte that starts no sequence stands for itself.
  EXPECT_EQ(Utf8ToWide("\xE9x"), (WideString{0xE9, 'x'}));
}

TEST(WideToUtf8, RoundTripsEveryCodeUnitSequence) {
  const WideString texts[] = {
      WideString{'a', 0xE9, 0x65E5},
      WideString{0xD83D, 0xDE00},
      WideString{0xD800},          // unpaired high surrogate
      WideString{0xDC00, 'x'},     // unpaired low surrogate
      WideString{0xDBFF, 0xDBFF},  // two highs
      WideString{0},
  };
  for (const WideString& text : texts) EXPECT_EQ(Utf8ToWide(WideToUtf8(text)), text);
}

TEST(Latin1ToWide, MapsEachByte) {
  EXPECT_EQ(Latin1ToWide("\xE9\xFF\x01"), (WideString{0xE9, 0xFF, 0x01}));
}

}  // namespace
