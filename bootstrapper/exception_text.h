// Text of the exception dialog that needs no interpreter.
#pragma once

#include <string>

// What the box shows for an object whose str() fails, as Python's traceback
// printer writes it: "<unprintable ValueError object>". typeName is the C
// type name, which carries a module prefix for built-in types.
std::string UnprintableText(const std::string& typeName);
