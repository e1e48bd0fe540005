// A child for the launcher's end-to-end tests. It writes what it received to
// the file named by its first argument, as one JSON object: its raw command
// line, the split arguments, its working folder, the file it was started
// from and whether it has standard handles. With MORVEX_CHILD_LINGER_MS set
// it waits that long first, so the tests can see a launcher that has already
// ended while its child still runs. The report is written beside the target
// and renamed into place, so a poller never reads half of it.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "files.h"
#include "process.h"
#include "text.h"

#ifdef _WIN32
#include <direct.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

void Sleep(int milliseconds) {
#ifdef _WIN32
  ::Sleep(static_cast<DWORD>(milliseconds));
#else
  usleep(static_cast<useconds_t>(milliseconds) * 1000);
#endif
}

WideString CurrentFolder() {
#ifdef _WIN32
  wchar_t folder[32768] = L"";
  return _wgetcwd(folder, 32768) ? WideString(folder) : WideString();
#else
  char folder[4096] = "";
  return getcwd(folder, sizeof folder) ? Utf8ToWide(folder) : WideString();
#endif
}

// True when none of the three standard handles leads anywhere: null handles
// on Windows, /dev/null on POSIX hosts.
bool HasNoStandardHandles() {
#ifdef _WIN32
  for (DWORD id : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
    const HANDLE handle = GetStdHandle(id);
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE) return false;
  }
  return true;
#else
  struct stat null;
  if (stat("/dev/null", &null) != 0) return false;
  for (int fd = 0; fd <= 2; ++fd) {
    struct stat handle;
    if (fstat(fd, &handle) == 0 && handle.st_rdev != null.st_rdev) return false;
  }
  return true;
#endif
}

// A JSON string; every code unit beyond ASCII is escaped, so unpaired
// surrogates survive too.
std::string Json(const WideString& text) {
  std::string json = "\"";
  for (const WCHAR c : text) {
    const unsigned code = static_cast<char16_t>(c);
    if (code == '"' || code == '\\') {
      json += '\\';
      json += static_cast<char>(code);
    } else if (code < 0x20 || code >= 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", code);
      json += escape;
    } else {
      json += static_cast<char>(code);
    }
  }
  return json + "\"";
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  const WideString commandLine = GetCommandLineW();
  int count = 0;
  LPWSTR* vector = CommandLineToArgvW(commandLine.c_str(), &count);
  if (!vector || count < 2) return 2;
  const WideString reportPath = vector[1];

  if (const char* linger = std::getenv("MORVEX_CHILD_LINGER_MS")) Sleep(std::atoi(linger));

  std::string report = "{\"commandline\": " + Json(commandLine) + ", \"args\": [";
  for (int i = 0; i < count; ++i) report += (i ? ", " : "") + Json(vector[i]);
  report += "], \"cwd\": " + Json(CurrentFolder());
  report += ", \"program\": " + Json(ModuleFileName<WCHAR>(GetModuleFileNameW));
  report += ", \"no_standard_handles\": ";
  report += HasNoStandardHandles() ? "true" : "false";
  report += "}\n";
  LocalFree(vector);

  const WideString partPath = reportPath + WideString(1, '.') + WCHAR('p');
  std::FILE* file = OpenFile(partPath, "wb");
  if (!file) return 3;
  std::fwrite(report.data(), 1, report.size(), file);
  std::fclose(file);
#ifdef _WIN32
  return _wrename(partPath.c_str(), reportPath.c_str()) == 0 ? 0 : 4;
#else
  return std::rename(WideToUtf8(partPath).c_str(), WideToUtf8(reportPath).c_str()) == 0 ? 0 : 4;
#endif
}
