#include "executable_image.h"

#include <algorithm>
#include <cstdint>

namespace {

// Above every number of four bytes: what a read outside the buffer gives
// unless the caller names another value.
const std::uint64_t kOutsideImage = std::uint64_t(1) << 32;

// The little-endian number of count bytes at offset, or outside when they
// do not all lie inside the buffer.
std::uint64_t ImageNumber(const char* bytes, size_t size, std::uint64_t offset, size_t count,
                          std::uint64_t outside = kOutsideImage) {
  std::uint64_t number = 0;
  return ReadImageNumber(bytes, size, offset, count, number) ? number : outside;
}

// A header field of the image, 0 when it lies outside (the image then ends
// where its headers say nothing more).
std::uint64_t FieldAt(const std::string& image, std::uint64_t offset, size_t count) {
  return ImageNumber(image.data(), image.size(), offset, count, 0);
}

// A PE image for x86-64 that is a program, not a library.
bool IsPeProgram(const std::string& image) {
  if (image.size() < 0x40 || image.compare(0, 2, "MZ") != 0) return false;
  const std::uint64_t header = FieldAt(image, 0x3C, 4);
  if (header > image.size() || image.size() - header < 24) return false;
  const std::uint64_t characteristics = FieldAt(image, header + 22, 2);
  return image.compare(header, 4, std::string("PE\0\0", 4)) == 0 &&
         FieldAt(image, header + 4, 2) == 0x8664 && (characteristics & 0x0002) &&
         !(characteristics & 0x2000);
}

// An ELF program: a position-independent one has type DYN. Its header is
// whole: 52 bytes in the 32-bit class, 64 in the 64-bit one.
bool IsElfProgram(const std::string& image) {
  if (image.size() < 52 || image.compare(0, 4, "\177ELF") != 0) return false;
  if (image[4] == 2 && image.size() < 64) return false;
  // The type is a 16-bit number in the byte order that byte 5 names.
  const bool bigEndian = image[5] == 2;
  const unsigned high = static_cast<unsigned char>(image[bigEndian ? 16 : 17]);
  const unsigned low = static_cast<unsigned char>(image[bigEndian ? 17 : 16]);
  const unsigned type = high << 8 | low;
  return type == 2 || type == 3;
}

}  // namespace

bool ReadImageNumber(const char* bytes, size_t size, std::uint64_t offset, size_t count,
                     std::uint64_t& number) {
  if (offset > size || count > size - offset) return false;
  number = 0;
  for (size_t i = count; i-- > 0;)
    number = number << 8 | static_cast<unsigned char>(bytes[offset + i]);
  return true;
}

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

bool IsExecutableImage(const std::string& image) {
  return IsPeProgram(image) || IsElfProgram(image);
}

size_t ImageEnd(const std::string& image) {
  std::uint64_t end = 0;
  if (IsPeProgram(image)) {
    const std::uint64_t header = FieldAt(image, 0x3C, 4);
    const std::uint64_t sections = header + 24 + FieldAt(image, header + 20, 2);
    for (std::uint64_t i = 0, count = FieldAt(image, header + 6, 2); i < count; ++i) {
      const std::uint64_t section = sections + 40 * i;
      end = std::max(end, FieldAt(image, section + 20, 4) + FieldAt(image, section + 16, 4));
    }
  } else if (IsElfProgram(image) && image[4] == 2 && image[5] == 1) {
    const std::uint64_t segments = FieldAt(image, 32, 8);
    for (std::uint64_t i = 0, count = FieldAt(image, 56, 2); i < count; ++i) {
      const std::uint64_t segment = segments + FieldAt(image, 54, 2) * i;
      end = std::max(end, FieldAt(image, segment + 8, 8) + FieldAt(image, segment + 32, 8));
    }
    end = std::max(end, FieldAt(image, 40, 8) + FieldAt(image, 58, 2) * FieldAt(image, 60, 2));
  }
  return static_cast<size_t>(end < image.size() ? end : image.size());
}
