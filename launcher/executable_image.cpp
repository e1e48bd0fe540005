#include "executable_image.h"

#include <algorithm>
#include <cstdint>

#include "pe_image.h"

namespace {

// A header field of the image, 0 when it lies outside (the image then ends
// where its headers say nothing more).
std::uint64_t FieldAt(const std::string& image, std::uint64_t offset, size_t count) {
  std::uint64_t number = 0;
  return ReadImageNumber(image.data(), image.size(), offset, count, number) ? number : 0;
}

// A PE image for x86-64 that is a program, not a library.
bool IsPeProgram(const std::string& image, PeHeaders& headers) {
  return ReadPeHeaders(image.data(), image.size(), headers) == kPeHeadersRead &&
         headers.machine == 0x8664 && (headers.characteristics & 0x0002) &&
         !(headers.characteristics & 0x2000);
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

bool FindCertificateTable(const char* bytes, size_t size, size_t& tableOffset, size_t& tableSize,
                          size_t& entryOffset) {
  PeHeaders headers;
  if (ReadPeHeaders(bytes, size, headers) != kPeHeadersRead) return false;
  // Unlike the other directories, this one gives a file offset, not an
  // address in the loaded image: the table is never loaded.
  const PeDirectory& table = headers.directories[kSecurityDirectory];
  if (table.address == 0 || table.size == 0 || table.address + table.size > size) return false;
  tableOffset = static_cast<size_t>(table.address);
  tableSize = static_cast<size_t>(table.size);
  entryOffset = static_cast<size_t>(headers.directoryTable + 8 * kSecurityDirectory);
  return true;
}

bool IsExecutableImage(const std::string& image) {
  PeHeaders headers;
  return IsPeProgram(image, headers) || IsElfProgram(image);
}

size_t ImageEnd(const std::string& image) {
  std::uint64_t end = 0;
  PeHeaders headers;
  if (IsPeProgram(image, headers)) {
    for (std::uint64_t i = 0; i < headers.sectionCount; ++i) {
      PeSection section;
      if (ReadPeSection(image.data(), image.size(), headers, i, section))
        end = std::max(end, section.rawOffset + section.rawSize);
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
