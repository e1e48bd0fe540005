#include "program_search.h"

#include <gtest/gtest.h>

#include "test_text.h"

namespace {

struct SearchCase {
  bool windows;
  const char* program;
  const char* launcher;
  const char* path;
  std::vector<const char*> candidates;
};

const SearchCase kSearchCases[] = {
    {true, "C:\\App\\app.exe", "Z:\\l\\run.exe", "C:\\bin", {"C:\\App\\app.exe"}},
    {true, "C:\\App\\app", "Z:\\l\\run.exe", "C:\\bin", {"C:\\App\\app.exe"}},
    {true, "c:/App/app.com", "Z:\\l\\run.exe", "", {"c:/App/app.com"}},
    {true, "\\\\server\\share\\app", "Z:\\l\\run.exe", "C:\\bin", {"\\\\server\\share\\app.exe"}},
    {true, ".\\app", "Z:\\l\\run.exe", "C:\\bin", {".\\app.exe"}},
    {true, "..\\dir.d\\app", "Z:\\l\\run.exe", "C:\\bin", {"..\\dir.d\\app.exe"}},
    {true, "app.", "Z:\\l\\run.exe", "", {"Z:\\l\\app."}},
    {true,
     "child",
     "Z:\\tmp\\x\\app.exe",
     "C:\\windows\\system32;;\"C:\\Quoted Dir\";C:\\end\\",
     {"Z:\\tmp\\x\\child.exe", "C:\\windows\\system32\\child.exe", "C:\\Quoted Dir\\child.exe",
      "C:\\end\\child.exe"}},
    {true,
     "sub\\tool.bat",
     "Z:/tmp/app.exe",
     "C:\\bin",
     {"Z:/tmp/sub\\tool.bat", "C:\\bin\\sub\\tool.bat"}},
    {true, "child", "app.exe", "", {"child.exe"}},
    {true, "", "Z:\\l\\run.exe", "C:\\bin", {}},
    {false, "/opt/app/run", "/l/launcher", "/usr/bin", {"/opt/app/run"}},
    {false, "bin/run", "/l/launcher", "/usr/bin", {"bin/run"}},
    {false,
     "child",
     "/l/launcher",
     "/usr/local/bin:/usr/bin/::/opt/x",
     {"/usr/local/bin/child", "/usr/bin/child", "/opt/x/child"}},
    {false, "child", "/l/launcher", "", {}},
    {false, "child.exe", "/l/launcher", "/bin", {"/bin/child.exe"}},
    {false, "back\\slash", "/l/launcher", "/bin", {"/bin/back\\slash"}},
};

TEST(ProgramCandidates, FollowsTheHostsSearchOrder) {
  for (const SearchCase& c : kSearchCases) {
    std::vector<WideString> expected;
    for (const char* candidate : c.candidates) expected.push_back(W(candidate));
    EXPECT_EQ(ProgramCandidates(W(c.program), W(c.launcher), W(c.path), c.windows), expected)
        << (c.windows ? "windows: " : "posix: ") << c.program << " on " << c.path;
  }
}

struct SpacedCase {
  const char* line;
  const char* programPath;  // the path it seems to start with, or "" when not refused
};

const SpacedCase kSpacedCases[] = {
    {"C:\\Program Files\\App\\app.exe --flag", "C:\\Program Files\\App\\app.exe"},
    {"C:\\Program Files (x86)\\App\\app.exe", "C:\\Program Files (x86)\\App\\app.exe"},
    {"/opt/Wine App/run x", "/opt/Wine App/run"},
    {"C:\\My\tDocs/run.exe", "C:\\My\tDocs/run.exe"},
    {"/usr/bin/python3 app/main.py", "/usr/bin/python3 app/main.py"},  // quote to keep it
    {"\"C:\\Program Files\\App\\app.exe\" --flag", ""},
    {"C:\\App\\app.exe --flag", ""},
    {"C:\\App\\app.exe --config conf\\x.ini", ""},
    {"C:\\App\\app.exe D:\\data\\x", ""},
    {"C:\\App\\app.exe \\\\server\\share", ""},
    {"C:\\App\\app.exe /opt:a\\b", ""},
    {"C:\\App\\app.exe \"a b\\c\"", ""},
    {"/usr/bin/python3 /opt/app/main.py", ""},
    {"/usr/bin/python3 -m pkg/x", ""},
    {"python app/main.py", ""},
    {"app.exe sub\\x", ""},
    {"C:\\My App.exe", ""},  // a blank in the file name itself is not caught
    {"C:\\App\\app.exe", ""},
    {" /leading/blank x/y", ""},
    {"", ""},
};

TEST(SpacedProgramPathEnd, CatchesAnUnquotedPathThatGoesOnPastABlank) {
  for (const SpacedCase& c : kSpacedCases) {
    const WideString line = W(c.line);
    EXPECT_EQ(Narrow(line.substr(0, SpacedProgramPathEnd(line))), c.programPath)
        << "line: " << c.line;
  }
}

}  // namespace
