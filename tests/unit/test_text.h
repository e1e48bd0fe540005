// Helpers for writing wide test strings from UTF-8 literals.
#pragma once

#include <string>

#include "text.h"

inline WideString W(const std::string& utf8) { return Utf8ToWide(utf8); }
inline std::string Narrow(const WideString& text) { return WideToUtf8(text); }
