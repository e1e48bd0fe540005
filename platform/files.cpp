#include "files.h"

#include "text.h"
#include "win32.h"

#ifdef _WIN32

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

std::FILE* OpenFile(const WideString& path, const char* mode) {
  const wchar_t wideMode[] = {static_cast<wchar_t>(mode[0]), static_cast<wchar_t>(mode[1]), 0};
  return _wfopen(path.c_str(), wideMode);
}

// Straight through the system, not the C library's streams, which the
// launcher stub would otherwise carry for this one read.
bool ReadWholeFile(const WideString& path, std::string& bytes) {
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size;
  bool whole = GetFileSizeEx(file, &size) && size.QuadPart < 0x80000000LL;
  if (whole) bytes.resize(static_cast<size_t>(size.QuadPart));
  if (whole && !bytes.empty()) {
    DWORD got = 0;
    whole = ReadFile(file, &bytes[0], static_cast<DWORD>(bytes.size()), &got, nullptr) &&
            got == bytes.size();
  }
  // Closing a file only read from cannot lose anything: its result is moot.
  CloseHandle(file);
  return whole;
}

std::FILE* CreateNewFile(const WideString& path) {
  const int fd =
      _wopen(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
  if (fd < 0) return nullptr;
  std::FILE* file = _fdopen(fd, "wb");
  if (!file) _close(fd);
  return file;
}

bool MakeExecutable(const WideString&) { return true; }

bool MoveFileOnto(const WideString& from, const WideString& to) {
  return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool RemoveFile(const WideString& path) { return DeleteFileW(path.c_str()) != 0; }

bool SameFile(const WideString& a, const WideString& b) {
  BY_HANDLE_FILE_INFORMATION first, second;
  for (BY_HANDLE_FILE_INFORMATION* info : {&first, &second}) {
    // No access rights are needed for the file's identity; the backup flag
    // lets a folder be opened as well.
    const HANDLE file = CreateFileW((info == &first ? a : b).c_str(), 0,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const BOOL known = GetFileInformationByHandle(file, info);
    CloseHandle(file);
    if (!known) return false;
  }
  return first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
         first.nFileIndexHigh == second.nFileIndexHigh &&
         first.nFileIndexLow == second.nFileIndexLow;
}

bool IsProgramFile(const WideString& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

#else

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::FILE* OpenFile(const WideString& path, const char* mode) {
  return std::fopen(WideToUtf8(path).c_str(), mode);
}

bool ReadWholeFile(const WideString& path, std::string& bytes) {
  return ReadWholeFile(WideToUtf8(path), bytes);
}

std::FILE* CreateNewFile(const WideString& path) {
  const int fd = open(WideToUtf8(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  std::FILE* file = fdopen(fd, "wb");
  if (!file) close(fd);
  return file;
}

bool MakeExecutable(const WideString& path) { return chmod(WideToUtf8(path).c_str(), 0755) == 0; }

bool MoveFileOnto(const WideString& from, const WideString& to) {
  return std::rename(WideToUtf8(from).c_str(), WideToUtf8(to).c_str()) == 0;
}

bool RemoveFile(const WideString& path) { return unlink(WideToUtf8(path).c_str()) == 0; }

bool SameFile(const WideString& a, const WideString& b) {
  struct stat first, second;
  return stat(WideToUtf8(a).c_str(), &first) == 0 && stat(WideToUtf8(b).c_str(), &second) == 0 &&
         first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

bool IsProgramFile(const WideString& path) {
  const std::string name = WideToUtf8(path);
  struct stat status;
  return stat(name.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
         access(name.c_str(), X_OK) == 0;
}

#endif
