#include "program_location.h"

std::string ReplaceAll(std::string text, const std::string& pattern,
                       const std::string& replacement) {
  if (pattern.empty()) return text;
  for (size_t at = text.find(pattern); at != std::string::npos;
       at = text.find(pattern, at + replacement.size())) {
    text.replace(at, pattern.size(), replacement);
  }
  return text;
}

std::string CutAtLastSeparator(const std::string& path) {
  const size_t separator = path.rfind('/');
  return separator == std::string::npos ? path : path.substr(0, separator);
}

std::string ProgramPath(const std::string& modulePath, bool backslashSeparates) {
  return backslashSeparates ? ReplaceAll(modulePath, "\\", "/") : modulePath;
}

namespace {

bool EndsWithExe(const std::string& path) {
  if (path.size() < 4) return false;
  std::string suffix = path.substr(path.size() - 4);
  for (char& c : suffix) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return suffix == ".exe";
}

}  // namespace

std::string SearchPathFileName(const std::string& programPath) {
  // Replacing only the suffix keeps a folder such as "x.exe.d" intact, and a
  // name without ".exe" (Linux, or ".EXE") must not name the program itself.
  if (EndsWithExe(programPath)) return programPath.substr(0, programPath.size() - 4) + ".pth";
  return programPath + ".pth";
}
