#include "program_location.h"

#include "text.h"

std::string CutAtLastSeparator(const std::string& path) {
  const size_t separator = path.rfind('/');
  return separator == std::string::npos ? path : path.substr(0, separator);
}

std::string ProgramPath(const std::string& modulePath, bool backslashSeparates) {
  return backslashSeparates ? ReplaceAll(modulePath, "\\", "/") : modulePath;
}
