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

std::string WideToAnsi(const WideString& text) {
  WideString single;
  for (size_t i = 0; i < text.size(); ++i) {
    const bool pair = StartsSurrogatePair(text, i);
    single += pair ? L'?' : text[i];
    if (pair) ++i;
  }
  if (single.empty()) return std::string();
  const int size = static_cast<int>(single.size());
  const int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, single.data(), size, nullptr,
                                         0, "?", nullptr);
  std::string bytes(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, single.data(), size, &bytes[0], length, "?",
                      nullptr);
  return bytes;
}

#else

WideString AnsiToWide(const std::string& bytes) { return Latin1ToWide(bytes); }

std::string WideToAnsi(const WideString& text) {
  std::string bytes;
  for (size_t i = 0; i < text.size(); ++i) {
    bytes += text[i] <= 0xFF ? static_cast<char>(text[i]) : '?';
    if (StartsSurrogatePair(text, i)) ++i;
  }
  return bytes;
}

#endif

WideString Utf8OrAnsiToWide(const std::string& bytes) {
  return IsValidUtf8(bytes) ? Utf8ToWide(bytes) : AnsiToWide(bytes);
}
