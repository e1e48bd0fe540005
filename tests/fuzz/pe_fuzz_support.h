// What the fuzz targets of the PE reader share: a plain reading of
// little-endian fields to hold the reader against, and the headers that
// their crafted images start from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

inline void Check(bool condition) {
  if (!condition) __builtin_trap();
}

// Little-endian field of count bytes; false when it does not lie inside.
inline bool Field(const std::string& b, uint64_t offset, int count, uint64_t& value) {
  if (offset + count > b.size()) return false;
  value = 0;
  for (int i = 0; i < count; ++i) value |= uint64_t(uint8_t(b[offset + i])) << (8 * i);
  return true;
}

inline void Put(std::string& b, size_t offset, uint64_t value, int count) {
  for (int i = 0; i < count && offset + i < b.size(); ++i) b[offset + i] = char(value >> (8 * i));
}

// The first count bytes of in as parameters (zero where in is shorter);
// how many were taken.
inline size_t TakeParameters(const uint8_t* in, size_t n, uint8_t* p, size_t count) {
  const size_t used = n < count ? n : count;
  std::memset(p, 0, count);
  std::memcpy(p, in, used);
  return used;
}

// Where a crafted image keeps its headers, from two parameters: the PE
// header a little behind the DOS header, PE32 or PE32+, and an optional
// header of its usual size or somewhat shorter.
struct PeLayout {
  size_t lfanew, optional, optionalSize;
  bool wide;
};

inline PeLayout ChooseLayout(uint8_t place, uint8_t kind) {
  PeLayout layout;
  layout.lfanew = 0x40 + (place & 0x3F);
  layout.optional = layout.lfanew + 24;
  layout.wide = kind & 1;
  layout.optionalSize = (layout.wide ? 240 : 224) - (kind >> 1) % 48;
  return layout;
}

// "MZ", e_lfanew, "PE\0\0", the optional header's size and its magic.
inline void PutHeaders(std::string& b, const PeLayout& layout) {
  Put(b, 0, 0x5A4D, 2);
  Put(b, 0x3C, layout.lfanew, 4);
  Put(b, layout.lfanew, 0x00004550, 4);
  Put(b, layout.lfanew + 20, layout.optionalSize, 2);
  Put(b, layout.optional, layout.wide ? 0x20B : 0x10B, 2);
}

// The buffer an input stands for: with its first byte odd, an image that
// layOut makes from the rest; even, the rest as it is.
inline std::string InputBuffer(const uint8_t* data, size_t size,
                               std::string (*layOut)(const uint8_t*, size_t)) {
  return data[0] & 1 ? layOut(data + 1, size - 1) : std::string(data + 1, data + size);
}

// A copy in an allocation of exactly its size, so that ASan sees a read
// beyond it.
inline std::unique_ptr<char[]> ExactCopy(const std::string& b) {
  std::unique_ptr<char[]> exact(new char[b.size() ? b.size() : 1]);
  std::memcpy(exact.get(), b.data(), b.size());
  return exact;
}
