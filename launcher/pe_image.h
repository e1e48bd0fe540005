// The one reader of PE images (PE32 and PE32+): the facts of their headers,
// which the launcher, make_launcher and check_app_folder all start from, and
// what an image asks of the Windows loader. The bytes may be anything: every
// read is checked against the buffer. No platform calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The little-endian number of count bytes (at most 8) at offset; false, and
// number left as it was, when they do not all lie inside the buffer. The one
// reader of header fields.
bool ReadImageNumber(const char* bytes, size_t size, std::uint64_t offset, size_t count,
                     std::uint64_t& number);

// The data directories read here, by their place in the table.
const int kImportDirectory = 1;
const int kResourceDirectory = 2;
const int kSecurityDirectory = 4;
const int kDelayImportDirectory = 13;
const int kDirectoryCount = 16;

// A data directory as the optional header names it: an address in the loaded
// image (for the security directory, a file offset) and a size.
struct PeDirectory {
  std::uint64_t address, size;
};

struct PeHeaders {
  std::uint64_t machine;          // 0x8664 x86-64, 0x014C x86
  std::uint64_t characteristics;  // 0x0002 an executable image, 0x2000 a DLL
  std::uint64_t magic;            // 0x10B PE32, 0x20B PE32+
  std::uint64_t imageBase;
  std::uint64_t sectionTable;  // the file offset of the first 40-byte entry
  std::uint64_t sectionCount;
  std::uint64_t directoryTable;  // the file offset of the first 8-byte entry
  // Zero where the header names no such directory: beyond its count, or
  // not wholly inside the optional header and the buffer.
  PeDirectory directories[kDirectoryCount];
};

// How far ReadPeHeaders got: every field above, or what stopped it.
enum PeHeadersRead {
  kPeHeadersRead,
  kNoMzHeader,
  kPeHeaderOutside,
  kNoPeHeader,
  kNotPe32,
  kOptionalHeaderOutside,
};

// Reads the DOS header, the PE signature, the file header and the optional
// header up to its data directories; headers is whole only when the answer
// is kPeHeadersRead.
PeHeadersRead ReadPeHeaders(const char* bytes, size_t size, PeHeaders& headers);

// Why the headers could not be read, as the tools say it; empty when they were.
std::string PeHeadersProblem(PeHeadersRead read);

struct PeSection {
  std::uint64_t address, rawSize, rawOffset;
};

// An entry of the section table; false when its fields lie outside the buffer.
bool ReadPeSection(const char* bytes, size_t size, const PeHeaders& headers, std::uint64_t index,
                   PeSection& section);

// What a PE image asks of the loader: the DLLs it imports (delay-loaded ones
// included), in the image's own order and spelling, and its RT_MANIFEST
// resources; and the machine it is for.
struct PeNeeds {
  std::uint64_t machine = 0;
  std::vector<std::string> imports;
  std::vector<std::string> manifests;
};

// Reads the import and delay-load directories and every RT_MANIFEST
// resource (any id or name) of a PE32 or PE32+ image. Empty on success, else
// why the bytes cannot be read as an image ("not a PE image ...",
// "truncated: ...").
std::string ReadPeNeeds(const std::string& bytes, PeNeeds& needs);
