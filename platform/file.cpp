#include <cstdio>

#include "platform.h"

bool ReadWholeFile(const WideString& path, std::string& bytes) {
  std::FILE* file = OpenFile(path, "rb");
  if (!file) return false;
  const long long size = FileSize(file);
  bool whole = size >= 0 && size < 0x80000000LL;
  if (whole) {
    bytes.resize(static_cast<size_t>(size));
    whole = std::fread(&bytes[0], 1, bytes.size(), file) == bytes.size();
  }
  // Closing a file only read from cannot lose anything: its result is moot.
  std::fclose(file);
  return whole;
}
