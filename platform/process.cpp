#include "process.h"

#include "code_page.h"
#include "command_line.h"
#include "text.h"
#include "win32.h"

std::vector<WideString> WideArgumentVector() { return SplitArgumentVector(GetCommandLineW()); }

#ifdef _WIN32

bool NarrowArgument(const WideString& argument, std::string& bytes) {
  return WideToAnsiExactly(argument, bytes);
}

std::string ProgramFileNameAnsi(bool& shortened) {
  shortened = false;
  const WideString wide = ModuleFileName<WCHAR>(GetModuleFileNameW);
  std::string bytes;
  if (!wide.empty() && WideToAnsiExactly(wide, bytes)) return bytes;
  WideString shortPath;
  shortened = ShortPathName(wide, shortPath) && WideToAnsiExactly(shortPath, bytes);
  return shortened ? bytes : ModuleFileName<char>(GetModuleFileNameA);
}

bool ShortPathName(const WideString& path, WideString& shortPath) {
  // A short name can be longer than its long one ("a.b.c" is "AB~1.C").
  const DWORD size = path.empty() ? 0 : GetShortPathNameW(path.c_str(), nullptr, 0);
  shortPath.assign(size, L'\0');
  const DWORD length = size ? GetShortPathNameW(path.c_str(), &shortPath[0], size) : 0;
  shortPath.resize(length < size ? length : 0);
  return !shortPath.empty();
}

WideString ProgramSearchPath() {
  WideString path(256, L'\0');
  for (;;) {
    const DWORD size = static_cast<DWORD>(path.size());
    const DWORD length = GetEnvironmentVariableW(L"PATH", &path[0], size);
    if (length < size) {
      path.resize(length);
      return path;
    }
    path.resize(length);
  }
}

bool StandardStreamWritable(int descriptor) {
  // A stream that fails the C runtime's own test when it starts has no file
  // behind it: no handle, or one of no known type.
  const HANDLE handle = GetStdHandle(descriptor == 2 ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
  if (!handle || handle == INVALID_HANDLE_VALUE) return false;
  const DWORD type = GetFileType(handle);
  if (type != FILE_TYPE_DISK) return type != FILE_TYPE_UNKNOWN;
  // A file opened only for reading fails every write. Writing nothing to a
  // file changes nothing, where to a pipe it could send an empty message.
  DWORD written = 0;
  return WriteFile(handle, "", 0, &written, nullptr) != FALSE;
}

const char kNullDevice[] = "nul";

void RemoveCurrentFolderFromLibrarySearch() {
  // A folder of its own in the search takes the place of the current one;
  // the rest of the search stays, PATH included, which libraries that
  // applications load by name may rely on. The program's folder is searched
  // first anyway. (An empty name removes the current folder on Windows too,
  // but Wine, which the tests run under, takes it for no name at all.)
  WideString folder = ModuleFileName<WCHAR>(GetModuleFileNameW);
  // With its closing separator, so that a folder at a drive's root stays
  // that root ("C:" alone would be the drive's current folder).
  const size_t cut = folder.find_last_of(L"\\/");
  folder.resize(cut == WideString::npos ? 0 : cut + 1);
  SetDllDirectoryW(folder.c_str());
}

#else

#include <fcntl.h>

#include <cstdlib>

// POSIX paths are bytes, which the narrow path gives unchanged.
std::string ProgramFileNameAnsi(bool& shortened) {
  shortened = false;
  return ModuleFileName<char>(GetModuleFileNameA);
}

bool NarrowArgument(const WideString& argument, std::string& bytes) {
  bytes = WideToUtf8(argument);
  return true;
}

// POSIX names have no short forms.
bool ShortPathName(const WideString&, WideString&) { return false; }

WideString ProgramSearchPath() {
  const char* path = std::getenv("PATH");
  return Utf8ToWide(path ? path : "/bin:/usr/bin");
}

bool StandardStreamWritable(int descriptor) {
  const int flags = fcntl(descriptor, F_GETFL);
  return flags != -1 && (flags & O_ACCMODE) != O_RDONLY;
}

const char kNullDevice[] = "/dev/null";

// The dynamic loader searches the current folder only where told to.
void RemoveCurrentFolderFromLibrarySearch() {}

#endif
