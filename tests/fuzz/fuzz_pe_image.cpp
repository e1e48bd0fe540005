// ReadPeHeaders against a plain reading of the same fields, and what is
// built on it (IsExecutableImage, ImageEnd, ReadPeNeeds) held to the same
// reading: a program, the end of its sections, imports and manifests that
// lie inside the buffer.
//
// Input: the first byte chooses how the buffer is made. Even: the rest of the
// input is the buffer. Odd: the headers of an image are laid out from the
// next bytes (the PE header's place, PE32 or PE32+, machine and
// characteristics, directory count, optional header size, the places of the
// import, resource and delay-load directories) with one section holding the
// rest of the input, so that the import and resource walks are reached at
// once.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "executable_image.h"
#include "pe_fuzz_support.h"
#include "pe_image.h"

namespace {

struct Reference {
  PeHeadersRead read = kNoMzHeader;
  PeHeaders headers = {};
};

// "MZ", e_lfanew at 0x3C, "PE\0\0", the file header (machine at 4, section
// count at 6, optional header size at 20, characteristics at 22), the
// optional header's magic, image base and directory count; a directory
// entry counts when it is one of the counted ones and its 8 bytes lie
// inside the optional header and the buffer.
Reference ReferenceHeaders(const std::string& b) {
  Reference r;
  PeHeaders& h = r.headers;
  uint64_t mz, lfanew, pe, optionalSize, count;
  if (!Field(b, 0, 2, mz) || mz != 0x5A4D) return r;
  r.read = kPeHeaderOutside;
  if (!Field(b, 0x3C, 4, lfanew) || !Field(b, lfanew, 4, pe)) return r;
  r.read = kNoPeHeader;
  if (pe != 0x00004550) return r;
  r.read = kPeHeaderOutside;
  if (!Field(b, lfanew + 4, 2, h.machine) || !Field(b, lfanew + 6, 2, h.sectionCount) ||
      !Field(b, lfanew + 20, 2, optionalSize) || !Field(b, lfanew + 22, 2, h.characteristics) ||
      !Field(b, lfanew + 24, 2, h.magic))
    return r;
  r.read = kNotPe32;
  if (h.magic != 0x10B && h.magic != 0x20B) return r;
  const bool wide = h.magic == 0x20B;
  const uint64_t optional = lfanew + 24;
  r.read = kOptionalHeaderOutside;
  if (!Field(b, optional + (wide ? 24 : 28), wide ? 8 : 4, h.imageBase) ||
      !Field(b, optional + (wide ? 108 : 92), 4, count))
    return r;
  r.read = kPeHeadersRead;
  h.sectionTable = optional + optionalSize;
  h.directoryTable = optional + (wide ? 112 : 96);
  for (uint64_t i = 0; i < 16 && i < count; ++i) {
    const uint64_t entry = h.directoryTable + 8 * i;
    uint64_t address, size;
    if (entry + 8 <= optional + optionalSize && Field(b, entry, 4, address) &&
        Field(b, entry + 4, 4, size))
      h.directories[i] = {address, size};
  }
  return r;
}

// Headers from the parameters at the start of in, one section at address
// 0x1000 holding the rest.
std::string LayOutImage(const uint8_t* in, size_t n) {
  uint8_t p[10];
  const size_t used = TakeParameters(in, n, p, sizeof p);
  const PeLayout layout = ChooseLayout(p[0], p[1]);
  const size_t sectionTable = layout.optional + layout.optionalSize;
  const size_t body = sectionTable + 40;
  std::string b(body, '\0');
  b.append(in + used, in + n);
  PutHeaders(b, layout);
  Put(b, layout.lfanew + 4, p[2] & 1 ? 0x014C : 0x8664, 2);
  Put(b, layout.lfanew + 6, p[2] & 2 ? 2 : 1, 2);
  Put(b, layout.lfanew + 22, p[2] & 4 ? 0x2022 : 0x0022, 2);
  Put(b, layout.optional + (layout.wide ? 24 : 28), 0x140000000ULL, layout.wide ? 8 : 4);
  Put(b, layout.optional + (layout.wide ? 108 : 92), p[3] % 18, 4);
  // Imports, resources and delay-load imports somewhere in the section.
  const size_t directories = layout.optional + (layout.wide ? 112 : 96);
  const int indices[] = {kImportDirectory, kResourceDirectory, kDelayImportDirectory};
  for (int k = 0; k < 3; ++k)
    if (p[4] >> k & 1) Put(b, directories + 8 * indices[k], 0x1000 + p[5 + k], 4);
  Put(b, sectionTable + 12, 0x1000, 4);
  Put(b, sectionTable + 16, b.size() - body + (p[8] & 1 ? p[9] : 0), 4);
  Put(b, sectionTable + 20, body, 4);
  return b;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string b = InputBuffer(data, size, LayOutImage);
  const std::unique_ptr<char[]> exact = ExactCopy(b);

  const Reference want = ReferenceHeaders(b);
  PeHeaders got;
  const PeHeadersRead read = ReadPeHeaders(exact.get(), b.size(), got);
  Check(read == want.read);
  Check(PeHeadersProblem(read).empty() == (read == kPeHeadersRead));
  const PeHeaders& h = want.headers;
  if (read == kPeHeadersRead) {
    Check(got.machine == h.machine && got.characteristics == h.characteristics &&
          got.magic == h.magic && got.imageBase == h.imageBase &&
          got.sectionTable == h.sectionTable && got.sectionCount == h.sectionCount &&
          got.directoryTable == h.directoryTable);
    for (int i = 0; i < kDirectoryCount; ++i)
      Check(got.directories[i].address == h.directories[i].address &&
            got.directories[i].size == h.directories[i].size);
  }

  // A PE program ends behind the section that ends last in the file.
  const bool program = read == kPeHeadersRead && h.machine == 0x8664 &&
                       (h.characteristics & 0x0002) && !(h.characteristics & 0x2000);
  if (b.compare(0, 2, "MZ") == 0) Check(IsExecutableImage(b) == program);
  uint64_t end = 0;
  bool sectionsInside = true;
  for (uint64_t i = 0; read == kPeHeadersRead && i < h.sectionCount; ++i) {
    const uint64_t entry = h.sectionTable + 40 * i;
    uint64_t address, rawSize, rawOffset;
    if (Field(b, entry + 12, 4, address) && Field(b, entry + 16, 4, rawSize) &&
        Field(b, entry + 20, 4, rawOffset))
      end = std::max(end, rawOffset + rawSize);
    else
      sectionsInside = false;
  }
  const size_t imageEnd = ImageEnd(b);
  Check(imageEnd <= b.size());
  if (program) Check(imageEnd == std::min<uint64_t>(end, b.size()));

  PeNeeds needs;
  const std::string problem = ReadPeNeeds(b, needs);
  if (read != kPeHeadersRead) Check(problem == PeHeadersProblem(read));
  if (read == kPeHeadersRead && !sectionsInside) Check(!problem.empty());
  if (problem.empty()) {
    Check(read == kPeHeadersRead && needs.machine == h.machine);
    for (const std::string& name : needs.imports)
      Check(!name.empty() && name.size() <= 260 && name.find('\0') == std::string::npos &&
            b.find(name + '\0') != std::string::npos);
    Check(needs.manifests.size() <= 16);
    for (const std::string& manifest : needs.manifests)
      Check(b.find(manifest) != std::string::npos);
  }
  return 0;
}
