// Conversions between wide text and the ANSI code page, the narrow text of
// Windows programs (Latin-1 in the POSIX stand-ins).
#pragma once

#include <string>

#include "wide_string.h"

// Decodes bytes in the ANSI code page.
WideString AnsiToWide(const std::string& bytes);

// Encodes text in the ANSI code page; a character the code page lacks
// becomes "?", never a look-alike.
std::string WideToAnsi(const WideString& text);

// The same into bytes; true when every character had its own form there.
bool WideToAnsiExactly(const WideString& text, std::string& bytes);

// Decodes bytes as UTF-8 when they are valid UTF-8, otherwise byte by byte
// in the ANSI code page.
WideString Utf8OrAnsiToWide(const std::string& bytes);
