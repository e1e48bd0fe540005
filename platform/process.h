// What the running program asks of its own process: where its file is, the
// folders programs are searched in, its standard streams and its library
// search.
#pragma once

#include <string>
#include <vector>

#include "win32.h"

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

// The full path of the running executable in the ANSI code page. Where that
// code page cannot express the path, its short (8.3) form is taken when
// that is plain ANSI, and shortened says so; failing both, what
// GetModuleFileNameA gives.
std::string ProgramFileNameAnsi(bool& shortened);

// The short (8.3) form of the path of an existing file or folder, relative
// where the path is; false when there is none, or nothing of that name.
bool ShortPathName(const WideString& path, WideString& shortPath);

// Whether the host's paths follow the Windows rules: a backslash separates
// folders (on POSIX hosts it is an ordinary character of a name), and
// programs are found by the Windows search (ProgramCandidates).
#ifdef _WIN32
constexpr bool kWindowsPathRules = true;
#else
constexpr bool kWindowsPathRules = false;
#endif

// The program's own arguments, without its name, as CommandLineToArgvW
// splits its wide command line. Inline: a program that never asks for them
// links neither the split nor its DLL.
inline std::vector<WideString> CommandLineArguments() {
  std::vector<WideString> arguments;
  int count = 0;
  LPWSTR* vector = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!vector) return arguments;
  for (int i = 1; i < count; ++i) arguments.emplace_back(vector[i]);
  LocalFree(vector);
  return arguments;
}

// The arguments (argument 0 first) split from the wide command line
// (GetCommandLineW) as the C runtime splits it into argv, before any
// conversion.
std::vector<WideString> WideArgumentVector();

// An argument in the narrow form a program's arguments take: in the ANSI
// code page on Windows, with "?" for each character it lacks, never a
// look-alike; on POSIX hosts the bytes the program was given (the
// stand-in's GetCommandLineW decodes them as UTF-8). True when nothing was
// lost.
bool NarrowArgument(const WideString& argument, std::string& bytes);

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
