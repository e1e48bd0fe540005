#include "image_description.h"

#include <cstdint>
#include <vector>

#include "manifest_text.h"

namespace {

// As the scripts compare it with 0x8664 and 0x014c: "0x" and four digits.
std::string MachineText(std::uint64_t machine) {
  static const char digits[] = "0123456789abcdef";
  std::string text = "0x";
  for (int shift = 12; shift >= 0; shift -= 4) text += digits[machine >> shift & 0xF];
  return text;
}

std::string Line(const std::string& file, const std::vector<std::string>& fields) {
  std::string line = file;
  for (const std::string& field : fields) line += "\t" + field;
  return line + "\n";
}

}  // namespace

std::string ImageDescription(const std::string& file, const std::string& problem,
                             const PeNeeds& needs) {
  if (!problem.empty()) return Line(file, {"error", problem});
  std::string lines = Line(file, {"machine", MachineText(needs.machine)});
  for (const std::string& import : needs.imports) lines += Line(file, {"import", import});
  for (const std::string& manifest : needs.manifests)
    for (const AssemblyIdentity& assembly : ManifestDependencies(manifest))
      lines += Line(file, {"assembly", assembly.type, assembly.name, assembly.version,
                           assembly.architecture, assembly.publicKeyToken});
  return lines;
}
