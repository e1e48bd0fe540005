#include "pe_image.h"

#include <algorithm>

namespace {

const size_t npos = std::string::npos;

// Above every number of four bytes: what a field outside the buffer reads
// as, so that one comparison tells whether it was inside.
const std::uint64_t kOutside = std::uint64_t(1) << 32;

std::uint64_t Field(const char* bytes, size_t size, std::uint64_t offset, size_t count) {
  std::uint64_t number = kOutside;
  ReadImageNumber(bytes, size, offset, count, number);
  return number;
}

// The directories that the count names and whose 8 bytes lie inside both
// the optional header and the buffer; the others stay zero, as an absent
// directory is.
void ReadDirectories(const char* bytes, size_t size, std::uint64_t count, std::uint64_t optionalEnd,
                     PeHeaders& headers) {
  for (std::uint64_t i = 0; i < kDirectoryCount && i < count; ++i) {
    const std::uint64_t entry = headers.directoryTable + 8 * i;
    std::uint64_t fields = 0;
    if (entry + 8 > optionalEnd || !ReadImageNumber(bytes, size, entry, 8, fields)) break;
    headers.directories[i] = PeDirectory{fields & 0xFFFFFFFF, fields >> 32};
  }
}

// ---- What the image asks of the loader

struct Image {
  const std::string* bytes;
  std::vector<PeSection> sections;
  std::uint64_t imageBase;
};

// The file offset of an address in the loaded image, when a section's bytes
// in the file hold it.
bool FileOffset(const Image& image, std::uint64_t address, std::uint64_t& offset) {
  for (const PeSection& section : image.sections)
    if (address >= section.address && address - section.address < section.rawSize) {
      offset = section.rawOffset + (address - section.address);
      return true;
    }
  return false;
}

bool NumberAt(const Image& image, std::uint64_t address, size_t count, std::uint64_t& number) {
  std::uint64_t offset = 0;
  return FileOffset(image, address, offset) &&
         ReadImageNumber(image.bytes->data(), image.bytes->size(), offset, count, number);
}

// A DLL name: text ending in a 0x00 byte inside the file, of sane length.
bool NameAt(const Image& image, std::uint64_t address, std::string& name) {
  std::uint64_t offset = 0;
  if (!FileOffset(image, address, offset) || offset >= image.bytes->size()) return false;
  const size_t end = image.bytes->find('\0', offset);
  if (end == npos || end == offset || end - offset > 260) return false;
  name = image.bytes->substr(offset, end - offset);
  return true;
}

// The names of an import directory (20-byte entries, the name at 12) or a
// delay-load one (32-byte entries, the name at 4, an address rather than an
// offset in the image when attribute bit 0 is clear), up to the entry
// without a name.
std::string ReadImportNames(const Image& image, std::uint64_t address, bool delayed,
                            std::vector<std::string>& names) {
  const std::uint64_t entrySize = delayed ? 32 : 20;
  for (std::uint64_t entry = address;; entry += entrySize) {
    std::uint64_t attributes = 1, name = 0;
    if ((delayed && !NumberAt(image, entry, 4, attributes)) ||
        !NumberAt(image, entry + (delayed ? 4 : 12), 4, name))
      return "truncated: the import directory lies outside the file";
    if (name == 0) return std::string();
    if (!(attributes & 1)) name -= std::min(name, image.imageBase);
    std::string text;
    if (!NameAt(image, name, text))
      return "truncated: an imported DLL's name lies outside the file";
    names.push_back(text);
  }
}

// The entries of a resource directory: an id or name, and an offset from
// the resource root whose top bit marks a subdirectory.
bool ResourceEntries(const Image& image, std::uint64_t root, std::uint64_t directory,
                     std::vector<std::pair<std::uint64_t, std::uint64_t>>& entries) {
  std::uint64_t named = 0, numbered = 0;
  if (!NumberAt(image, root + directory + 12, 2, named) ||
      !NumberAt(image, root + directory + 14, 2, numbered))
    return false;
  entries.clear();
  // Far more than any image has: a crafted tree cannot make the walk long.
  for (std::uint64_t i = 0; i < named + numbered && i < 1024; ++i) {
    std::uint64_t id = 0, offset = 0;
    const std::uint64_t at = root + directory + 16 + 8 * i;
    if (!NumberAt(image, at, 4, id) || !NumberAt(image, at + 4, 4, offset)) return false;
    entries.emplace_back(id, offset);
  }
  return true;
}

// Every RT_MANIFEST (type 24) resource: type, then id or name, then
// language, each a level of the tree; the leaves give address and size.
// Windows keeps ids 1 to 16 for manifests, so 16 are plenty.
std::string ReadManifests(const Image& image, std::uint64_t root, std::vector<std::string>& texts) {
  const std::uint64_t subdirectory = 0x80000000;
  const std::string truncated = "truncated: the resources lie outside the file";
  std::vector<std::pair<std::uint64_t, std::uint64_t>> types, ids, languages;
  if (!ResourceEntries(image, root, 0, types)) return truncated;
  for (const auto& type : types) {
    if (type.first != 24 || !(type.second & subdirectory)) continue;
    if (!ResourceEntries(image, root, type.second & ~subdirectory, ids)) return truncated;
    for (const auto& id : ids) {
      if (!(id.second & subdirectory)) continue;
      if (!ResourceEntries(image, root, id.second & ~subdirectory, languages)) return truncated;
      for (const auto& language : languages) {
        std::uint64_t address = 0, size = 0, offset = 0;
        if (language.second & subdirectory) continue;
        if (!NumberAt(image, root + language.second, 4, address) ||
            !NumberAt(image, root + language.second + 4, 4, size) ||
            !FileOffset(image, address, offset) || offset + size > image.bytes->size())
          return truncated;
        texts.push_back(image.bytes->substr(offset, size));
        if (texts.size() == 16) return std::string();
      }
    }
    break;  // an image has one RT_MANIFEST directory
  }
  return std::string();
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

PeHeadersRead ReadPeHeaders(const char* bytes, size_t size, PeHeaders& headers) {
  headers = PeHeaders();
  const auto field = [&](std::uint64_t offset, size_t count) {
    return Field(bytes, size, offset, count);
  };
  if (field(0, 2) != 0x5A4D) return kNoMzHeader;
  // The DOS header points to the PE header: "PE\0\0", a 20-byte file header,
  // the optional header. Offsets below stay under 2^33: no overflow, and
  // with 0x3C outside so is the signature.
  const std::uint64_t header = field(0x3C, 4);
  const std::uint64_t signature = field(header, 4);
  if (signature == kOutside) return kPeHeaderOutside;
  if (signature != 0x4550) return kNoPeHeader;
  const std::uint64_t optional = header + 24;
  headers.magic = field(optional, 2);
  if (headers.magic == kOutside) return kPeHeaderOutside;
  // The file header lies in front of the magic, so inside the buffer too.
  headers.machine = field(header + 4, 2);
  headers.sectionCount = field(header + 6, 2);
  const std::uint64_t optionalSize = field(header + 20, 2);
  headers.characteristics = field(header + 22, 2);
  if (headers.magic != 0x10B && headers.magic != 0x20B) return kNotPe32;
  // PE32+ has a wider image base and so its directories 16 bytes further on;
  // the image base lies in front of the directory count.
  const bool plus = headers.magic == 0x20B;
  const std::uint64_t directoryCount = field(optional + (plus ? 108 : 92), 4);
  if (directoryCount == kOutside) return kOptionalHeaderOutside;
  headers.imageBase = field(optional + (plus ? 24 : 28), plus ? 8 : 4);
  headers.sectionTable = optional + optionalSize;
  headers.directoryTable = optional + (plus ? 112 : 96);
  ReadDirectories(bytes, size, directoryCount, optional + optionalSize, headers);
  return kPeHeadersRead;
}

std::string PeHeadersProblem(PeHeadersRead read) {
  switch (read) {
    case kPeHeadersRead:
      break;
    case kNoMzHeader:
      return "not a PE image (no MZ header)";
    case kPeHeaderOutside:
      return "truncated: the PE header lies outside the file";
    case kNoPeHeader:
      return "not a PE image (no PE header)";
    case kNotPe32:
      return "not a PE32 or PE32+ image";
    case kOptionalHeaderOutside:
      return "truncated: the optional header lies outside the file";
  }
  return std::string();
}

bool ReadPeSection(const char* bytes, size_t size, const PeHeaders& headers, std::uint64_t index,
                   PeSection& section) {
  const std::uint64_t entry = headers.sectionTable + 40 * index;
  return ReadImageNumber(bytes, size, entry + 12, 4, section.address) &&
         ReadImageNumber(bytes, size, entry + 16, 4, section.rawSize) &&
         ReadImageNumber(bytes, size, entry + 20, 4, section.rawOffset);
}

std::string ReadPeNeeds(const std::string& bytes, PeNeeds& needs) {
  needs = PeNeeds();
  PeHeaders headers;
  const PeHeadersRead read = ReadPeHeaders(bytes.data(), bytes.size(), headers);
  if (read != kPeHeadersRead) return PeHeadersProblem(read);
  Image image{&bytes, std::vector<PeSection>(headers.sectionCount), headers.imageBase};
  for (std::uint64_t i = 0; i < headers.sectionCount; ++i)
    if (!ReadPeSection(bytes.data(), bytes.size(), headers, i, image.sections[i]))
      return "truncated: the section table lies outside the file";
  needs.machine = headers.machine;
  const std::uint64_t imports = headers.directories[kImportDirectory].address;
  const std::uint64_t delayed = headers.directories[kDelayImportDirectory].address;
  const std::uint64_t resources = headers.directories[kResourceDirectory].address;
  std::string problem;
  if (imports) problem = ReadImportNames(image, imports, false, needs.imports);
  if (problem.empty() && delayed) problem = ReadImportNames(image, delayed, true, needs.imports);
  if (problem.empty() && resources) problem = ReadManifests(image, resources, needs.manifests);
  return problem;
}
