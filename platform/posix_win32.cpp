// POSIX stand-ins for the Windows services, written from what the programs
// expect of them.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "command_line.h"
#include "platform.h"

namespace {

int argumentCount = 0;
char** argumentVector = nullptr;

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

// Turns a null standard handle into /dev/null on descriptors 0 to 2.
void RedirectToNull() {
  const int null = open("/dev/null", O_RDWR);
  if (null < 0) return;
  for (int fd = 0; fd <= 2; ++fd) dup2(null, fd);
  if (null > 2) close(null);
}

// Runs in the forked child: never returns. An exec failure is reported to
// the parent through the close-on-exec pipe as the errno value.
[[noreturn]] void ExecChild(std::vector<std::string>& arguments, const STARTUPINFOW* startup,
                            DWORD flags, int reportFd) {
  if (flags & CREATE_NO_WINDOW) setsid();
  if (startup && (startup->dwFlags & STARTF_USESTDHANDLES) && !startup->hStdInput &&
      !startup->hStdOutput && !startup->hStdError)
    RedirectToNull();
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(&argument[0]);
  argv.push_back(nullptr);
  execvp(argv[0], argv.data());
  const int error = errno;
  ssize_t written = write(reportFd, &error, sizeof error);
  (void)written;
  _exit(127);
}

}  // namespace

void RememberProcessArguments(int argc, char** argv) {
  argumentCount = argc;
  argumentVector = argv;
}

int ProcessArgumentCount() { return argumentCount; }

char** ProcessArgumentVector() { return argumentVector; }

std::FILE* OpenFile(const WideString& path, const char* mode) {
  return std::fopen(WideToUtf8(path).c_str(), mode);
}

bool MakeExecutable(const WideString& path) {
  return chmod(WideToUtf8(path).c_str(), 0755) == 0;
}

long long FileSize(std::FILE* file) {
  if (fseeko(file, 0, SEEK_END) != 0) return -1;
  const long long size = ftello(file);
  if (fseeko(file, 0, SEEK_SET) != 0) return -1;
  return size;
}

WideString AnsiToWide(const std::string& bytes) { return Latin1ToWide(bytes); }

DWORD GetModuleFileNameA(HMODULE, LPSTR lpFilename, DWORD nSize) {
  return CopyModuleFileName(ExecutablePath(), lpFilename, nSize);
}

DWORD GetModuleFileNameW(HMODULE, LPWSTR lpFilename, DWORD nSize) {
  return CopyModuleFileName(Utf8ToWide(ExecutablePath()), lpFilename, nSize);
}

LPWSTR GetCommandLineW() {
  static WideString line;
  if (line.empty() && argumentCount > 0) {
    AppendProgramName(line, Utf8ToWide(argumentVector[0]));
    for (int i = 1; i < argumentCount; ++i) {
      line += ' ';
      AppendQuotedArgument(line, Utf8ToWide(argumentVector[i]));
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

BOOL CreateProcessW(LPCWSTR, LPWSTR lpCommandLine, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES,
                    BOOL, DWORD dwCreationFlags, LPVOID, LPCWSTR lpCurrentDirectory,
                    LPSTARTUPINFOW lpStartupInfo, LPPROCESS_INFORMATION lpProcessInformation) {
  if (!lpCommandLine) return FALSE;
  std::vector<std::string> arguments;
  for (const WideString& token : SplitCommandLine(lpCommandLine))
    arguments.push_back(WideToUtf8(token));
  if (arguments.empty() || arguments[0].empty()) return FALSE;

  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) return FALSE;
  const pid_t pid = fork();
  if (pid == 0) {
    close(report[0]);
    if (lpCurrentDirectory && chdir(WideToUtf8(lpCurrentDirectory).c_str()) != 0) _exit(127);
    ExecChild(arguments, lpStartupInfo, dwCreationFlags, report[1]);
  }
  close(report[1]);
  int error = 0;
  ssize_t got;
  do {
    got = read(report[0], &error, sizeof error);
  } while (got < 0 && errno == EINTR);
  close(report[0]);
  if (pid < 0 || got > 0) return FALSE;
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
