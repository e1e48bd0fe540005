// The files the programs read and write, by wide paths.
#pragma once

#include <cstdio>
#include <string>

#include "wide_string.h"

// Opens a file with the default sharing (others may read and write it
// meanwhile). mode is "rb" or "wb".
std::FILE* OpenFile(const WideString& path, const char* mode);

// Reads a whole file in one request, opened with the default sharing. False
// when it cannot be opened, its size cannot be had or reaches 2 GiB, or fewer
// bytes arrive than its size.
bool ReadWholeFile(const WideString& path, std::string& bytes);
// The same by a narrow path, which the C library takes as the platform does:
// in the ANSI code page on Windows, as bytes on POSIX. Inline, so that a
// program that reads only so links nothing else of this file.
inline bool ReadWholeFile(const std::string& path, std::string& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return false;
  bool whole = std::fseek(file, 0, SEEK_END) == 0;
  const long size = whole ? std::ftell(file) : -1;
  whole = size >= 0 && (static_cast<unsigned long long>(size) >> 31) == 0 &&
          std::fseek(file, 0, SEEK_SET) == 0;
  if (whole) bytes.resize(static_cast<size_t>(size));
  if (whole && size > 0) whole = std::fread(&bytes[0], 1, bytes.size(), file) == bytes.size();
  std::fclose(file);
  return whole;
}

// Creates a file that did not exist and opens it for writing ("wb"); null
// when the name is taken or the file cannot be made.
std::FILE* CreateNewFile(const WideString& path);

// Marks a file as a program that may be run (a no-op on Windows).
bool MakeExecutable(const WideString& path);

// Gives a file the name to, replacing a file of that name in one step, so
// that the name never stands for half a file.
bool MoveFileOnto(const WideString& from, const WideString& to);

bool RemoveFile(const WideString& path);

// True when both paths name one existing file, however each is spelt (links
// included): the same device and inode, or volume and file index.
bool SameFile(const WideString& a, const WideString& b);

// True when the path names a file that process creation could start: on
// Windows an existing file that is not a folder, on POSIX a regular file
// with execute permission.
bool IsProgramFile(const WideString& path);
