// The few services of the C runtime and code page that differ between
// Windows and POSIX hosts, beside the Win32 calls of win32.h.
#pragma once

#include <cstdio>
#include <string>

#include "text.h"

// The narrow argument vector that the start-up code split from the command
// line (argument 0 first), as Windows' __argc and __argv hold it.
int ProcessArgumentCount();
char** ProcessArgumentVector();

// Opens a file by its wide path with the default sharing (others may read
// and write it meanwhile). mode is "rb" or "wb".
std::FILE* OpenFile(const WideString& path, const char* mode);

// Reads a whole file in one request, opened with the default sharing. False
// when it cannot be opened, its size cannot be had or reaches 2 GiB, or fewer
// bytes arrive than its size.
bool ReadWholeFile(const WideString& path, std::string& bytes);

// Marks a file as a program that may be run (a no-op on Windows).
bool MakeExecutable(const WideString& path);

// The size of an open file in bytes, or -1 when it cannot be determined.
long long FileSize(std::FILE* file);

// Decodes bytes in the ANSI code page (Latin-1 on POSIX hosts).
WideString AnsiToWide(const std::string& bytes);

// Encodes text in the ANSI code page (Latin-1 on POSIX hosts); a character
// the code page lacks becomes "?", never a look-alike.
std::string WideToAnsi(const WideString& text);

// Whether a backslash separates folders in the paths of this platform: on
// POSIX hosts it is an ordinary character of a name.
extern const bool kBackslashSeparatesFolders;

// The full path of the running executable in the ANSI code page. Where that
// code page cannot express the path, its short (8.3) form is taken when
// that is plain ANSI; failing both, what GetModuleFileNameA gives.
std::string ProgramFileNameAnsi();

// The full path of the running executable, however long it is, from
// GetModuleFileNameA or GetModuleFileNameW. Those cut the path to the buffer,
// so the buffer grows until the whole path fits with its NUL. Empty when the
// path cannot be had.
template <typename Char, typename Call>
std::basic_string<Char> ModuleFileName(Call call) {
  std::basic_string<Char> path(260, Char());
  for (;;) {
    const DWORD size = static_cast<DWORD>(path.size());
    const DWORD length = call(nullptr, &path[0], size);
    if (length == 0) return std::basic_string<Char>();
    if (length < size) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

// True when both paths name one existing file, however each is spelt (links
// included): the same device and inode, or volume and file index.
bool SameFile(const WideString& a, const WideString& b);

// Creates a file that did not exist and opens it for writing ("wb"); null
// when the name is taken or the file cannot be made.
std::FILE* CreateNewFile(const WideString& path);

// Gives a file the name to, replacing a file of that name in one step, so
// that the name never stands for half a file.
bool MoveFileOnto(const WideString& from, const WideString& to);

bool RemoveFile(const WideString& path);

// True when the path names a file that process creation could start: on
// Windows an existing file that is not a folder, on POSIX a regular file
// with execute permission.
bool IsProgramFile(const WideString& path);

// The folders that programs are searched in (PATH); on POSIX the C
// library's default when PATH is unset.
WideString ProgramSearchPath();

// True when the standard stream (1 output, 2 error) has a handle that can be
// written to. A windowed process started without standard handles has
// none; a closed stream, or a file open only for reading, cannot be written.
bool StandardStreamWritable(int descriptor);

// The device that discards whatever is written to it ("nul", "/dev/null").
extern const char kNullDevice[];

// Takes the current folder out of the folders searched for libraries that
// are loaded by name (a no-op where the loader never searches it).
void RemoveCurrentFolderFromLibrarySearch();

// True when the host finds programs by the Windows rules (see
// ProgramCandidates), false for the POSIX ones.
bool HostFindsProgramsLikeWindows();
