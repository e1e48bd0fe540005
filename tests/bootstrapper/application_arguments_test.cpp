#include "application_arguments.h"

#include <gtest/gtest.h>

#include "text.h"

namespace {

WideString W(const std::string& utf8) { return Utf8ToWide(utf8); }

// A code page of one byte per character up to U+00FF, as 1252 is for these
// cases: "?" for anything beyond.
bool Latin1(const WideString& text, std::string& bytes) {
  bool exact = true;
  bytes.clear();
  for (const WCHAR c : text) {
    exact = exact && c <= 0xFF;
    bytes += c <= 0xFF ? static_cast<char>(c) : '?';
  }
  return exact;
}

// The files that exist, with their short names: one that is plain, one
// whose volume makes none (the short name is the long one).
bool ShortNames(const WideString& path, WideString& shortPath) {
  const char* files[][2] = {{"C:\\args\\łódź.txt", "C:\\args\\DZ~1.TXT"},
                            {"Snow ☃.txt", "SNOW~SHO.TXT"},
                            {"D:\\☃", "D:\\☃"}};
  for (const auto& file : files) {
    if (path != W(file[0])) continue;
    shortPath = W(file[1]);
    return true;
  }
  return false;
}

struct ArgvCase {
  std::vector<const char*> arguments;
  bool shortened;
  std::vector<std::string> argv;
};

const ArgvCase kArgvCases[] = {
    // Exact arguments, empty ones and blanks included, as they are.
    {{"C:\\app\\x.exe", "caf\xC3\xA9", "", "with space", "x\"y"},
     false,
     {"C:\\app\\x.exe", "caf\xE9", "", "with space", "x\"y"}},
    // Fullwidth quotes name no file: "?" each, and still one argument.
    {{"p", "x＂ --flag ＂y"}, false, {"p", "x? --flag ?y"}},
    // The file the user chose by its short name, never the decoy that the
    // look-alikes would name; one that does not exist keeps its "?".
    {{"p", "C:\\args\\łódź.txt", "Snow ☃.txt", "Gone ☃.txt"},
     false,
     {"p", "C:\\args\\DZ~1.TXT", "SNOW~SHO.TXT", "Gone ?.txt"}},
    // A short name that loses characters too is no help.
    {{"p", "D:\\☃"}, false, {"p", "D:\\?"}},
    // The program, in a folder the code page lacks, by its short path.
    {{"C:\\☃\\x.exe", "a"}, true, {"C:\\PROG~1\\X.EXE", "a"}},
    {{"C:\\☃\\x.exe"}, false, {"C:\\?\\x.exe"}},
    {{"D:\\☃"}, false, {"D:\\?"}},
    {{}, true, {"C:\\PROG~1\\X.EXE"}},
};

TEST(ApplicationArgv, PassesWhatConvertsAndNeverALookAlike) {
  for (const ArgvCase& c : kArgvCases) {
    std::vector<WideString> arguments;
    for (const char* argument : c.arguments) arguments.push_back(W(argument));
    EXPECT_EQ(ApplicationArgv(arguments, "C:\\PROG~1\\X.EXE", c.shortened, Latin1, ShortNames),
              c.argv)
        << (c.arguments.empty() ? "" : c.arguments.back());
  }
}

}  // namespace
