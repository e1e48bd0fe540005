#include "program_location.h"

#include <gtest/gtest.h>

#include "search_path.h"

namespace {

struct LocationCase {
  const char* modulePath;
  const char* programPath;
  const char* programDirectory;
  const char* parentDirectory;
  const char* searchPathFile;
};

const LocationCase locationCases[] = {
    {"C:\\Apps\\Tool\\morvex_desktop.exe", "C:/Apps/Tool/morvex_desktop.exe", "C:/Apps/Tool",
     "C:/Apps", "C:/Apps/Tool/morvex_desktop.pth"},
    {"C:\\morvex_desktop.exe", "C:/morvex_desktop.exe", "C:", "C:", "C:/morvex_desktop.pth"},
    // Only the suffix changes: a folder named x.exe.d stays where it is.
    {"D:\\x.exe.d\\morvex_desktop.exe", "D:/x.exe.d/morvex_desktop.exe", "D:/x.exe.d",
     "D:", "D:/x.exe.d/morvex_desktop.pth"},
    {"C:\\APPS\\MORVEX_DESKTOP.EXE", "C:/APPS/MORVEX_DESKTOP.EXE", "C:/APPS",
     "C:", "C:/APPS/MORVEX_DESKTOP.pth"},
    {"C:\\a\\tool.Exe", "C:/a/tool.Exe", "C:/a", "C:", "C:/a/tool.pth"},
    {"\\\\server\\share\\app\\morvex_desktop.exe", "//server/share/app/morvex_desktop.exe",
     "//server/share/app", "//server/share", "//server/share/app/morvex_desktop.pth"},
    // POSIX programs have no suffix: the file must not be the program itself.
    {"/opt/app/morvex_desktop", "/opt/app/morvex_desktop", "/opt/app", "/opt",
     "/opt/app/morvex_desktop.pth"},
    {"/opt/app.exe/morvex_desktop", "/opt/app.exe/morvex_desktop", "/opt/app.exe", "/opt",
     "/opt/app.exe/morvex_desktop.pth"},
    {"/opt/app/exe", "/opt/app/exe", "/opt/app", "/opt", "/opt/app/exe.pth"},
    {"morvex_desktop.exe", "morvex_desktop.exe", "morvex_desktop.exe", "morvex_desktop.exe",
     "morvex_desktop.pth"},
    {"/morvex_desktop", "/morvex_desktop", "", "", "/morvex_desktop.pth"},
};

TEST(ProgramLocation, DerivesEveryLocationFromTheModulePath) {
  for (const LocationCase& c : locationCases) {
    SCOPED_TRACE(c.modulePath);
    const std::string programPath = ProgramPath(c.modulePath, true);
    EXPECT_EQ(programPath, c.programPath);
    const std::string programDirectory = CutAtLastSeparator(programPath);
    EXPECT_EQ(programDirectory, c.programDirectory);
    EXPECT_EQ(CutAtLastSeparator(programDirectory), c.parentDirectory);
    EXPECT_EQ(SearchPathFileName(programPath), c.searchPathFile);
  }
}

TEST(ProgramLocation, TakesPathsLongerThan511BytesWhole) {
  const std::string folder = "/" + std::string(600, 'd');
  EXPECT_EQ(SearchPathFileName(ProgramPath(folder + "/morvex_desktop", false)),
            folder + "/morvex_desktop.pth");
}

// On POSIX hosts a backslash is a character of a folder's name: /opt/a\nb
// must not become /opt/a/nb, where the application is not.
TEST(ProgramLocation, KeepsBackslashesWhereTheyAreNoSeparator) {
  const std::string path = "/opt/a\\nb/morvex_desktop";
  EXPECT_EQ(ProgramPath(path, false), path);
  EXPECT_EQ(CutAtLastSeparator(ProgramPath(path, false)), "/opt/a\\nb");
  EXPECT_EQ(ProgramPath("C:\\a\\nb\\morvex_desktop.exe", true), "C:/a/nb/morvex_desktop.exe");
}

}  // namespace
