// Text helpers: conversions between UTF-8 and UTF-16, replacing within byte
// strings, and ASCII case. Pure text logic, no platform calls.
#pragma once

#include <string>

#include "wide_string.h"

// True when the bytes are well-formed UTF-8 (no overlong forms, no encoded
// surrogates, nothing above U+10FFFF).
bool IsValidUtf8(const std::string& bytes);

// Decodes UTF-8. A byte that is not part of a well-formed sequence becomes
// the lone surrogate U+DC80..U+DCFF, and WideToUtf8 turns that back into the
// byte, so every byte string (a POSIX argument, say) comes back unchanged.
WideString Utf8ToWide(const std::string& bytes);

// Encodes UTF-16. U+DC80..U+DCFF standing alone give back their escaped
// byte; any other unpaired surrogate is written as its own three bytes.
std::string WideToUtf8(const WideString& text);

// Each byte becomes the code unit of the same value.
WideString Latin1ToWide(const std::string& bytes);

// Replaces every match of pattern, left to right. The search goes on just
// after each inserted replacement, so replaced text is never matched again;
// an empty pattern leaves the text as it is.
std::string ReplaceAll(std::string text, const std::string& pattern,
                       const std::string& replacement);

// The text with its ASCII letters in lower or upper case and every other byte
// as it was, so UTF-8 stays valid: how the programs compare the names that
// Windows takes in any case (files, variables, assemblies), which are ASCII
// where it matters here.
std::string AsciiLower(std::string text);
std::string AsciiUpper(std::string text);
