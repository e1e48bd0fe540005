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

}  // namespace
