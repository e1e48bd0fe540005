// POSIX stand-ins for the Windows services, written from what the programs
// expect of them.
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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

void RememberProcessArguments(int argc, char** argv) {
  argumentCount = argc;
  argumentVector = argv;
}

int ProcessArgumentCount() { return argumentCount; }

char** ProcessArgumentVector() { return argumentVector; }

std::FILE* OpenFile(const WideString& path, const char* mode) {
  return std::fopen(WideToUtf8(path).c_str(), mode);
}

bool MakeExecutable(const WideString& path) { return chmod(WideToUtf8(path).c_str(), 0755) == 0; }

long long FileSize(std::FILE* file) {
  if (fseeko(file, 0, SEEK_END) != 0) return -1;
  const long long size = ftello(file);
  if (fseeko(file, 0, SEEK_SET) != 0) return -1;
  return size;
}

WideString AnsiToWide(const std::string& bytes) { return Latin1ToWide(bytes); }

std::string WideToAnsi(const WideString& text) {
  std::string bytes;
  for (size_t i = 0; i < text.size(); ++i) {
    const bool pair = text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < text.size() &&
                      text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF;
    bytes += text[i] <= 0xFF ? static_cast<char>(text[i]) : '?';
    if (pair) ++i;  // one character, one "?"
  }
  return bytes;
}

const bool kBackslashSeparatesFolders = false;

// POSIX paths are bytes, which the narrow path gives unchanged.
std::string ProgramFileNameAnsi() { return ModuleFileName<char>(GetModuleFileNameA); }

DWORD GetModuleFileNameA(HMODULE, LPSTR lpFilename, DWORD nSize) {
  return CopyModuleFileName(ExecutablePath(), lpFilename, nSize);
}

DWORD GetModuleFileNameW(HMODULE, LPWSTR lpFilename, DWORD nSize) {
  return CopyModuleFileName(Utf8ToWide(ExecutablePath()), lpFilename, nSize);
}

LPWSTR GetCommandLineW() {
  static WideString line;
  if (line.empty() && argumentCount > 0) {
    AppendProgramName(line, ProgramNameWithoutQuotes(Utf8ToWide(argumentVector[0])));
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

bool SameFile(const WideString& a, const WideString& b) {
  struct stat first, second;
  return stat(WideToUtf8(a).c_str(), &first) == 0 && stat(WideToUtf8(b).c_str(), &second) == 0 &&
         first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

std::FILE* CreateNewFile(const WideString& path) {
  const int fd = open(WideToUtf8(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  std::FILE* file = fdopen(fd, "wb");
  if (!file) close(fd);
  return file;
}

bool MoveFileOnto(const WideString& from, const WideString& to) {
  return std::rename(WideToUtf8(from).c_str(), WideToUtf8(to).c_str()) == 0;
}

bool RemoveFile(const WideString& path) { return unlink(WideToUtf8(path).c_str()) == 0; }

bool IsProgramFile(const WideString& path) {
  const std::string name = WideToUtf8(path);
  struct stat status;
  return stat(name.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
         access(name.c_str(), X_OK) == 0;
}

WideString ProgramSearchPath() {
  const char* path = std::getenv("PATH");
  return Utf8ToWide(path ? path : "/bin:/usr/bin");
}

bool HostFindsProgramsLikeWindows() { return false; }

bool StandardStreamWritable(int descriptor) {
  const int flags = fcntl(descriptor, F_GETFL);
  return flags != -1 && (flags & O_ACCMODE) != O_RDONLY;
}

const char kNullDevice[] = "/dev/null";

// The dynamic loader searches the current folder only where told to.
void RemoveCurrentFolderFromLibrarySearch() {}
