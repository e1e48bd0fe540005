#include "executable_image.h"

bool FindCertificateTable(const char* bytes, size_t size, size_t& tableOffset, size_t& tableSize,
                          size_t& entryOffset) {
  // The DOS header points to the PE header ("PE\0\0", a 20-byte file header,
  // the optional header). Offsets below stay under 2^33: no overflow.
  const std::uint64_t header = ImageNumber(bytes, size, 0x3C, 4);
  if (ImageNumber(bytes, size, 0, 2) != 0x5A4D || ImageNumber(bytes, size, header, 4) != 0x4550)
    return false;
  const std::uint64_t optional = header + 24;
  const std::uint64_t magic = ImageNumber(bytes, size, optional, 2);
  if (magic != 0x10B && magic != 0x20B) return false;
  // PE32+ has wider fields in front of the directory count; the security
  // directory is the fifth, of eight bytes each.
  const std::uint64_t countField = optional + (magic == 0x10B ? 92 : 108);
  const std::uint64_t entry = countField + 4 + 4 * 8;
  const std::uint64_t optionalSize = ImageNumber(bytes, size, header + 20, 2);
  // Unlike the other directories, this one gives a file offset, not an
  // address in the loaded image: the table is never loaded. A length read
  // inside the buffer means that every field in front of it was too.
  const std::uint64_t offset = ImageNumber(bytes, size, entry, 4);
  const std::uint64_t length = ImageNumber(bytes, size, entry + 4, 4);
  if (ImageNumber(bytes, size, countField, 4) <= 4 || optionalSize < entry + 8 - optional ||
      length == kOutsideImage || offset == 0 || length == 0 || offset + length > size)
    return false;
  tableOffset = static_cast<size_t>(offset);
  tableSize = static_cast<size_t>(length);
  entryOffset = static_cast<size_t>(entry);
  return true;
}

size_t TrailerSearchSize(const char* bytes, size_t size) {
  size_t tableOffset, tableSize, entryOffset;
  return FindCertificateTable(bytes, size, tableOffset, tableSize, entryOffset) ? tableOffset
                                                                                : size;
}
