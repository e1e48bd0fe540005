// FindLaunchCommand, FindCertificateTable and TrailerSearchSize against a
// plain reading of the same rules: a PE reader that takes every field at its
// documented offset, and a search one position at a time from the end.
//
// Input: the first byte chooses how the buffer is made. Even: the rest of the
// input is the buffer. Odd: a PE header is laid out from the next bytes (the
// PE header's place, PE32 or PE32+, directory count, optional header size,
// table place and size, a trailer before, inside or behind the table), so
// that signed images are reached at once, and the rest is the body.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "executable_image.h"
#include "launch_command.h"
#include "pe_fuzz_support.h"

namespace {

struct Table {
  bool found = false;
  uint64_t offset = 0, size = 0, entry = 0;
};

// The security directory (entry 4) of a PE32 or PE32+ image, read field by
// field: "MZ", e_lfanew at 0x3C, "PE\0\0", the file header's optional header
// size, the optional header's magic and directory count. The entry must be
// one of the counted directories inside the optional header; its first field
// is a file offset, 0 meaning no table.
Table ReferenceTable(const std::string& b) {
  Table t;
  uint64_t mz, lfanew, pe, optionalSize, magic, count, offset, size;
  if (!Field(b, 0, 2, mz) || mz != 0x5A4D) return t;
  if (!Field(b, 0x3C, 4, lfanew) || !Field(b, lfanew, 4, pe) || pe != 0x00004550) return t;
  if (!Field(b, lfanew + 20, 2, optionalSize)) return t;
  const uint64_t optional = lfanew + 24;
  if (!Field(b, optional, 2, magic)) return t;
  uint64_t countAt;
  if (magic == 0x10B) {
    countAt = 92;
  } else if (magic == 0x20B) {
    countAt = 108;
  } else {
    return t;
  }
  if (!Field(b, optional + countAt, 4, count) || count < 5) return t;
  const uint64_t entryInOptional = countAt + 4 + 4 * 8;
  if (entryInOptional + 8 > optionalSize) return t;
  const uint64_t entry = optional + entryInOptional;
  if (!Field(b, entry, 4, offset) || !Field(b, entry + 4, 4, size)) return t;
  if (offset == 0 || size == 0 || offset + size > b.size()) return t;
  t.found = true;
  t.offset = offset;
  t.size = size;
  t.entry = entry;
  return t;
}

// The last "#!" below limit and the bytes up to the first 0x00 after it.
bool ReferenceSearch(const std::string& b, size_t limit, std::string& command) {
  if (limit < 2) return false;
  for (size_t i = limit - 1; i-- > 0;) {
    if (b[i] != '#' || b[i + 1] != '!') continue;
    for (size_t j = i + 2; j < limit; ++j) {
      if (b[j] == 0) {
        command = b.substr(i + 2, j - i - 2);
        return true;
      }
    }
    return false;
  }
  return false;
}

// A PE header from the parameters at the start of in, the rest as body.
std::string LayOutImage(const uint8_t* in, size_t n) {
  uint8_t p[12];
  const size_t used = TakeParameters(in, n, p, sizeof p);
  const PeLayout layout = ChooseLayout(p[0], p[1]);
  const size_t headerEnd = layout.optional + layout.optionalSize;
  std::string b(in + used, in + n);
  b.resize(headerEnd + (b.size() > headerEnd ? b.size() - headerEnd : 0) + p[2]);
  // Header bytes from the body, then the fields over them.
  PutHeaders(b, layout);
  const size_t countAt = layout.optional + (layout.wide ? 108 : 92);
  Put(b, countAt, p[3] % 18, 4);
  // The table: somewhere from the header to a little beyond the end, with a
  // size that often ends exactly at the end of the buffer.
  const size_t entry = countAt + 4 + 32;
  uint64_t offset = p[4] == 0xFF ? 0 : (uint64_t(p[5]) << 8 | p[4]) % (b.size() + 16);
  uint64_t size = p[6] & 1 ? (b.size() > offset ? b.size() - offset : 0) : p[7];
  if (p[6] == 0xFF) size = 0xFFFFFFFFu;
  if (p[6] == 0xFE) offset = 0xFFFFFFF0u;
  Put(b, entry, offset, 4);
  Put(b, entry + 4, size, 4);
  // A trailer "#!" + p[9] bytes + 0x00 at a chosen place, often straddling
  // the table's start or end.
  if (p[8] & 1) {
    const size_t at = p[8] & 2 ? offset - (p[10] % 8) + (p[11] % 4) : (size_t(p[11]) << 8 | p[10]);
    if (at < b.size()) {
      Put(b, at, '#' | '!' << 8, 2);
      const size_t end = at + 2 + p[9] % 16;
      if (end < b.size()) b[end] = 0;
    }
  }
  return b;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string b = InputBuffer(data, size, LayOutImage);
  const std::unique_ptr<char[]> exact = ExactCopy(b);

  const Table want = ReferenceTable(b);
  size_t offset = 1, length = 2, entry = 3;
  const bool found = FindCertificateTable(exact.get(), b.size(), offset, length, entry);
  Check(found == want.found);
  if (found) Check(offset == want.offset && length == want.size && entry == want.entry);
  const size_t limit = want.found ? want.offset : b.size();
  Check(TrailerSearchSize(exact.get(), b.size()) == limit);

  const std::string untouched = "\x01untouched";
  std::string command = untouched, expected;
  const bool got = FindLaunchCommand(exact.get(), b.size(), command);
  const bool wanted = ReferenceSearch(b, limit, expected);
  Check(got == wanted);
  Check(command == (wanted ? expected : untouched));
  return 0;
}
