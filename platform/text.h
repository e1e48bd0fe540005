// Conversions between UTF-8 and UTF-16. Pure text logic, no platform calls.
#pragma once

#include <string>

#include "win32.h"

typedef std::basic_string<WCHAR> WideString;

// True when the bytes are well-formed UTF-8 (no overlong forms, no encoded
// surrogates, nothing above U+10FFFF).
bool IsValidUtf8(const std::string& bytes);

// Decodes UTF-8; a byte that does not start a well-formed sequence becomes the
// code unit of the same value, so that no input is ever dropped.
WideString Utf8ToWide(const std::string& bytes);

// Encodes UTF-16; an unpaired surrogate is encoded as its own three bytes so
// that the conversion back gives it again.
std::string WideToUtf8(const WideString& text);

// Each byte becomes the code unit of the same value.
WideString Latin1ToWide(const std::string& bytes);
