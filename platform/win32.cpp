// Windows side of platform.h beyond win32_files.cpp.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cstdlib>

#include "platform.h"

std::string WideToAnsi(const WideString& text) {
  // No ANSI code page has a character beyond the BMP: a surrogate pair is one
  // "?", where the conversion alone may give one for each half.
  WideString single;
  for (size_t i = 0; i < text.size(); ++i) {
    const bool pair = text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < text.size() &&
                      text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF;
    single += pair ? L'?' : text[i];
    if (pair) ++i;
  }
  if (single.empty()) return std::string();
  const int size = static_cast<int>(single.size());
  const int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, single.data(), size, nullptr,
                                         0, "?", nullptr);
  std::string bytes(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, single.data(), size, &bytes[0], length, "?",
                      nullptr);
  return bytes;
}

const bool kBackslashSeparatesFolders = true;

namespace {

// The text in the ANSI code page when it holds only characters the code
// page has; false otherwise (GetModuleFileNameA would then show "?" or a
// best-fit look-alike, naming a path that does not exist).
bool ExactlyAnsi(const WideString& text, std::string& bytes) {
  BOOL substituted = FALSE;
  const int size = static_cast<int>(text.size());
  const int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), size, nullptr,
                                         0, nullptr, &substituted);
  if (length <= 0 || substituted) return false;
  bytes.assign(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), size, &bytes[0], length, nullptr,
                      &substituted);
  return !substituted;
}

}  // namespace

std::string ProgramFileNameAnsi() {
  const std::string narrow = ModuleFileName<char>(GetModuleFileNameA);
  const WideString wide = ModuleFileName<WCHAR>(GetModuleFileNameW);
  std::string bytes;
  if (wide.empty() || ExactlyAnsi(wide, bytes)) return narrow;
  // A short name can be longer than its long one ("a.b.c" is "AB~1.C").
  const DWORD size = GetShortPathNameW(wide.c_str(), nullptr, 0);
  if (size == 0) return narrow;
  WideString shortPath(size, L'\0');
  const DWORD length = GetShortPathNameW(wide.c_str(), &shortPath[0], size);
  if (length == 0 || length >= size) return narrow;
  shortPath.resize(length);
  return ExactlyAnsi(shortPath, bytes) ? bytes : narrow;
}

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

std::FILE* CreateNewFile(const WideString& path) {
  const int fd =
      _wopen(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
  if (fd < 0) return nullptr;
  std::FILE* file = _fdopen(fd, "wb");
  if (!file) _close(fd);
  return file;
}

bool MoveFileOnto(const WideString& from, const WideString& to) {
  return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool RemoveFile(const WideString& path) { return DeleteFileW(path.c_str()) != 0; }

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
