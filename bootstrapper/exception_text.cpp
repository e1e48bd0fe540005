#include "exception_text.h"

std::string UnprintableText(const std::string& typeName) {
  // "exceptions.ValueError" is the C name of what Python calls "ValueError".
  const size_t dot = typeName.rfind('.');
  const std::string name = dot == std::string::npos ? typeName : typeName.substr(dot + 1);
  return "<unprintable " + name + " object>";
}
