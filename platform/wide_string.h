// The type of Windows wide text (UTF-16 code units), shared by the pure text
// rules and the Win32 declarations. On POSIX hosts char16_t stands in for
// wchar_t, which is 32 bits wide there.
#pragma once

#include <string>

#ifdef _WIN32
typedef wchar_t WCHAR;
#else
typedef char16_t WCHAR;
#endif

typedef std::basic_string<WCHAR> WideString;
