// Windows side of platform.h: what every program needs, the launcher stub
// included (its files and its program search). The rest is in win32.cpp: a linked object's
// functions all stay in a PE image, used or not, and the stub is kept small.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cstdlib>

#include "platform.h"

int ProcessArgumentCount() { return __argc; }

char** ProcessArgumentVector() { return __argv; }

std::FILE* OpenFile(const WideString& path, const char* mode) {
  const wchar_t wideMode[] = {static_cast<wchar_t>(mode[0]), static_cast<wchar_t>(mode[1]), 0};
  return _wfopen(path.c_str(), wideMode);
}

bool MakeExecutable(const WideString&) { return true; }

long long FileSize(std::FILE* file) {
  if (_fseeki64(file, 0, SEEK_END) != 0) return -1;
  const long long size = _ftelli64(file);
  if (_fseeki64(file, 0, SEEK_SET) != 0) return -1;
  return size;
}

WideString AnsiToWide(const std::string& bytes) {
  if (bytes.empty()) return WideString();
  const int size = static_cast<int>(bytes.size());
  const int length = MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, nullptr, 0);
  WideString text(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, &text[0], length);
  return text;
}

bool IsProgramFile(const WideString& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
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

bool HostFindsProgramsLikeWindows() { return true; }
