// POSIX stand-ins for the Win32 services that win32.h declares, written from
// what the programs expect of them. On Windows the system has the real ones
// and this file holds nothing.
#include "win32.h"

#ifndef _WIN32

#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "command_line.h"
#include "process_arguments.h"
#include "text.h"

namespace {

std::string ExecutablePath() {
  std::string path(256, '\0');
  for (;;) {
    const ssize_t length = readlink("/proc/self/exe", &path[0], path.size());
    if (length < 0) return std::string();
    if (static_cast<size_t>(length) < path.size()) {
      path.resize(static_cast<size_t>(length));
      return path;
    }
    path.resize(path.size() * 2);
  }
}

// Copies as much of path as fits with a NUL, as GetModuleFileName does.
template <typename Char>
DWORD CopyModuleFileName(const std::basic_string<Char>& path, Char* buffer, DWORD size) {
  if (size == 0) return 0;
  const size_t copied = path.size() < size ? path.size() : size - 1;
  std::copy(path.begin(), path.begin() + static_cast<std::ptrdiff_t>(copied), buffer);
  buffer[copied] = Char();
  return path.size() < size ? static_cast<DWORD>(path.size()) : size;
}

// Null standard handles, as a Windows child without them has: /dev/null.
bool WantsNoStandardHandles(const STARTUPINFOW* startup) {
  return startup && (startup->dwFlags & STARTF_USESTDHANDLES) && !startup->hStdInput &&
         !startup->hStdOutput && !startup->hStdError;
}

// The Windows split takes the program name up to its next quote, with no
// escapes, so a quote inside it cannot be written: a POSIX path holding one
// would spill its tail into the arguments. A Windows file name never holds a
// quote, so the line names the program as Windows could, without its quotes;
// the arguments behind it then split back exactly.
WideString ProgramNameWithoutQuotes(WideString name) {
  name.erase(std::remove(name.begin(), name.end(), WCHAR('"')), name.end());
  return name;
}

}  // namespace

DWORD GetModuleFileNameA(HMODULE, LPSTR lpFilename, DWORD nSize) {
  return CopyModuleFileName(ExecutablePath(), lpFilename, nSize);
}

DWORD GetModuleFileNameW(HMODULE, LPWSTR lpFilename, DWORD nSize) {
  return CopyModuleFileName(Utf8ToWide(ExecutablePath()), lpFilename, nSize);
}

LPWSTR GetCommandLineW() {
  static WideString line;
  if (line.empty() && ProcessArgumentCount() > 0) {
    AppendProgramName(line, ProgramNameWithoutQuotes(Utf8ToWide(ProcessArgumentVector()[0])));
    for (int i = 1; i < ProcessArgumentCount(); ++i) {
      line += ' ';
      AppendQuotedArgument(line, Utf8ToWide(ProcessArgumentVector()[i]));
    }
  }
  return &line[0];
}

LPWSTR* CommandLineToArgvW(LPCWSTR lpCmdLine, int* pNumArgs) {
  if (!pNumArgs) return nullptr;
  std::vector<WideString> tokens = SplitCommandLine(lpCmdLine);
  // An empty line names the program itself, as on Windows.
  if (tokens.empty()) tokens.push_back(Utf8ToWide(ExecutablePath()));
  // One block: the pointer table followed by the strings, released as a whole.
  size_t bytes = (tokens.size() + 1) * sizeof(LPWSTR);
  for (const WideString& token : tokens) bytes += (token.size() + 1) * sizeof(WCHAR);
  LPWSTR* table = static_cast<LPWSTR*>(std::malloc(bytes));
  if (!table) return nullptr;
  WCHAR* text = reinterpret_cast<WCHAR*>(table + tokens.size() + 1);
  for (size_t i = 0; i < tokens.size(); ++i) {
    table[i] = text;
    text = std::copy(tokens[i].begin(), tokens[i].end(), text);
    *text++ = 0;
  }
  table[tokens.size()] = nullptr;
  *pNumArgs = static_cast<int>(tokens.size());
  return table;
}

BOOL CreateProcessW(LPCWSTR lpApplicationName, LPWSTR lpCommandLine, LPSECURITY_ATTRIBUTES,
                    LPSECURITY_ATTRIBUTES, BOOL, DWORD dwCreationFlags, LPVOID,
                    LPCWSTR lpCurrentDirectory, LPSTARTUPINFOW lpStartupInfo,
                    LPPROCESS_INFORMATION lpProcessInformation) {
  if (!lpCommandLine) return FALSE;
  std::vector<std::string> arguments;
  for (const WideString& token : SplitCommandLine(lpCommandLine))
    arguments.push_back(WideToUtf8(token));
  if (arguments.empty() || arguments[0].empty()) return FALSE;
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(&argument[0]);
  argv.push_back(nullptr);

  // posix_spawn reports a program that cannot be started, as process
  // creation on Windows does, and costs no copy of the parent.
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attributes);
  // No window means no console: the child leaves the caller's terminal.
  if (dwCreationFlags & CREATE_NO_WINDOW) posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
  if (WantsNoStandardHandles(lpStartupInfo))
    for (int fd = 0; fd <= 2; ++fd)
      posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", O_RDWR, 0);
  const std::string folder = lpCurrentDirectory ? WideToUtf8(lpCurrentDirectory) : std::string();
  if (lpCurrentDirectory) posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  pid_t pid = 0;
  const std::string program = lpApplicationName ? WideToUtf8(lpApplicationName) : std::string();
  const int error =
      lpApplicationName
          ? posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ)
          : posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (error != 0) return FALSE;
  if (lpProcessInformation) {
    lpProcessInformation->hProcess = reinterpret_cast<HANDLE>(static_cast<intptr_t>(pid));
    lpProcessInformation->hThread = lpProcessInformation->hProcess;
    lpProcessInformation->dwProcessId = static_cast<DWORD>(pid);
    lpProcessInformation->dwThreadId = static_cast<DWORD>(pid);
  }
  return TRUE;
}

HLOCAL LocalFree(HLOCAL hMem) {
  std::free(hMem);
  return nullptr;
}

int MessageBoxA(HWND, LPCSTR lpText, LPCSTR lpCaption, UINT) {
  std::string box = std::string(lpCaption ? lpCaption : "") + ": " + (lpText ? lpText : "") + "\n";
  ssize_t written = write(2, box.data(), box.size());
  (void)written;
  return 1;
}

#endif
