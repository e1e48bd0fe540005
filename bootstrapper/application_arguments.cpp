#include "application_arguments.h"

std::vector<std::string> ApplicationArgv(const std::vector<WideString>& arguments,
                                         const std::string& programFile, bool shortened,
                                         NarrowConversion narrow, ShortNameLookup shortName) {
  std::vector<std::string> argv;
  if (arguments.empty()) argv.push_back(programFile);
  for (size_t i = 0; i < arguments.size(); ++i) {
    std::string bytes;
    if (narrow(arguments[i], bytes)) {
      argv.push_back(bytes);
      continue;
    }
    WideString shortPath;
    std::string shortBytes;
    if (i == 0 && shortened) {
      bytes = programFile;
    } else if (i > 0 && shortName(arguments[i], shortPath) && narrow(shortPath, shortBytes)) {
      bytes = shortBytes;
    }
    argv.push_back(bytes);
  }
  return argv;
}
