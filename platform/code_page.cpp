#include "code_page.h"

#include "text.h"
#include "win32.h"

namespace {

// No ANSI code page has a character beyond the BMP: a surrogate pair is one
// "?", where a conversion alone may give one for each half.
bool StartsSurrogatePair(const WideString& text, size_t i) {
  return text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
         text[i + 1] <= 0xDFFF;
}

}  // namespace

#ifdef _WIN32

WideString AnsiToWide(const std::string& bytes) {
  if (bytes.empty()) return WideString();
  const int size = static_cast<int>(bytes.size());
  const int length = MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, nullptr, 0);
  WideString text(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, &text[0], length);
  return text;
}

bool WideToAnsiExactly(const WideString& text, std::string& bytes) {
  // A UTF-8 code page has a form for every character, and the call refuses
  // to say whether it substituted any.
  const bool utf8 = GetACP() == CP_UTF8;
  bool exact = true;
  WideString single;
  for (size_t i = 0; i < text.size(); ++i) {
    const bool pair = !utf8 && StartsSurrogatePair(text, i);
    single += pair ? L'?' : text[i];
    exact = exact && !pair;
    if (pair) ++i;
  }
  bytes.clear();
  if (single.empty()) return exact;
  const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
  const char* substitute = utf8 ? nullptr : "?";
  BOOL substituted = FALSE;
  BOOL* noted = utf8 ? nullptr : &substituted;
  const int size = static_cast<int>(single.size());
  const int length =
      WideCharToMultiByte(CP_ACP, flags, single.data(), size, nullptr, 0, substitute, noted);
  if (length <= 0) return false;
  bytes.assign(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_ACP, flags, single.data(), size, &bytes[0], length, substitute, noted);
  return exact && !substituted;
}

#else

WideString AnsiToWide(const std::string& bytes) { return Latin1ToWide(bytes); }

bool WideToAnsiExactly(const WideString& text, std::string& bytes) {
  bool exact = true;
  bytes.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    exact = exact && text[i] <= 0xFF;
    bytes += text[i] <= 0xFF ? static_cast<char>(text[i]) : '?';
    if (StartsSurrogatePair(text, i)) ++i;
  }
  return exact;
}

#endif

std::string WideToAnsi(const WideString& text) {
  std::string bytes;
  WideToAnsiExactly(text, bytes);
  return bytes;
}

WideString Utf8OrAnsiToWide(const std::string& bytes) {
  return IsValidUtf8(bytes) ? Utf8ToWide(bytes) : AnsiToWide(bytes);
}
