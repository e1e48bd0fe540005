#include "search_path.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

struct LinesCase {
  std::string bytes;
  Lines lines;
};

const LinesCase linesCases[] = {
    {"", {}},
    {"\n", {""}},
    {"lib", {"lib"}},
    {"lib\n", {"lib"}},
    {"lib\n\n", {"lib", ""}},
    {"lib\r\n\r\n../shared", {"lib", "", "../shared"}},
    // A lone CR stays part of its line, as does one just before the end.
    {"a\rb\nc\r", {"a\rb", "c\r"}},
    {"a\r\r\nb", {"a\r", "b"}},
    // 0x1A ends the file wherever it stands.
    {"\x1a"
     "lib\n",
     {}},
    {"lib\nmore\x1a"
     "hidden\n",
     {"lib", "more"}},
    {"lib\r\x1a\n", {"lib\r"}},
    {std::string("a\0b\n", 4), {std::string("a\0b", 3)}},
    {"\xef\xbb\xbflib\n", {"\xef\xbb\xbflib"}},
    {" lib \n\tx\t", {" lib ", "\tx\t"}},
};

TEST(TextModeLines, ReadsAsWindowsTextModeDoes) {
  for (const LinesCase& c : linesCases) {
    SCOPED_TRACE(testing::PrintToString(c.bytes));
    EXPECT_EQ(TextModeLines(c.bytes), c.lines);
  }
}

TEST(DefaultSearchPathEntries, AreTheBundledFoldersInOrder) {
  EXPECT_EQ(DefaultSearchPathEntries(),
            (Lines{"python27.zip", "modules", "modules/win32modules/win32/lib"}));
}

struct EntryCase {
  const char* entry;
  const char* directory;
};

const EntryCase entryCases[] = {
    {"lib", "C:/Apps/Tool/lib"},
    {"", "C:/Apps/Tool/"},
    {"../shared", "C:/Apps/shared"},
    // Any number of leading "../" climbs one level; inner ones vanish too.
    {"../../lib", "C:/Apps/lib"},
    {"../a/../b", "C:/Apps/a/b"},
    {"../", "C:/Apps/"},
    {"..", "C:/Apps/Tool/.."},
    {"..\\lib", "C:/Apps/Tool/..\\lib"},
    {"a/../b", "C:/Apps/Tool/a/../b"},
    {"C:/Python27/Lib", "C:/Apps/Tool/C:/Python27/Lib"},
    {" lib ", "C:/Apps/Tool/ lib "},
};

TEST(ResolveSearchPathEntry, PlacesEntriesUnderTheProgramOrParentFolder) {
  for (const EntryCase& c : entryCases) {
    SCOPED_TRACE(c.entry);
    EXPECT_EQ(ResolveSearchPathEntry(c.entry, "C:/Apps/Tool"), c.directory);
  }
}

TEST(ResolveSearchPathEntry, KeepsTheDriveForAProgramAtTheRoot) {
  EXPECT_EQ(ResolveSearchPathEntry("../lib", "C:"), "C:/lib");
  EXPECT_EQ(ResolveSearchPathEntry("lib", "C:"), "C:/lib");
}

struct LiteralCase {
  std::string bytes;
  const char* literal;
};

const LiteralCase literalCases[] = {
    {"", "''"},
    {"C:/Apps/Tool/lib", "'C:/Apps/Tool/lib'"},
    {"/home/O'Brien/app", "'/home/O\\'Brien/app'"},
    {"C:\\new\\tab", "'C:\\\\new\\\\tab'"},
    {"a\"b", "'a\"b'"},
    {"a\tb\rc\nd", "'a\\x09b\\x0dc\\x0ad'"},
    {"\x7f", "'\\x7f'"},
    {"caf\xc3\xa9", "'caf\\xc3\\xa9'"},
    {"\xef\xbb\xbf", "'\\xef\\xbb\\xbf'"},
    // An entry crafted to close the literal stays inside it.
    {"x'); import os; ('", "'x\\'); import os; (\\''"},
};

TEST(PythonStringLiteral, EscapesEverythingThatIsNotPlainAscii) {
  for (const LiteralCase& c : literalCases) {
    SCOPED_TRACE(c.literal);
    EXPECT_EQ(PythonStringLiteral(c.bytes), c.literal);
  }
}

TEST(SearchPathStatement, AppendsOneLiteralFolder) {
  EXPECT_EQ(SearchPathStatement("/opt/app/lib"), "sys.path.append('/opt/app/lib')");
  EXPECT_EQ(SearchPathStatement(std::string("/opt/a\0b", 8)), "");
}

}  // namespace
