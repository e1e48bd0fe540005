#include "text.h"

namespace {

// A byte that is not part of well-formed UTF-8 travels as the lone surrogate
// U+DC80..U+DCFF, so that any byte string survives the way to UTF-16 and back.
const char32_t kEscapedByte = 0xDC00;

// Length of the well-formed UTF-8 sequence starting at i, or 0.
size_t Utf8SequenceLength(const std::string& s, size_t i) {
  const unsigned char b0 = static_cast<unsigned char>(s[i]);
  if (b0 < 0x80) return 1;
  size_t length;
  unsigned char low = 0x80, high = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    length = 2;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    length = 3;
    if (b0 == 0xE0) low = 0xA0;
    if (b0 == 0xED) high = 0x9F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    length = 4;
    if (b0 == 0xF0) low = 0x90;
    if (b0 == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (i + length > s.size()) return 0;
  for (size_t k = 1; k < length; ++k) {
    const unsigned char b = static_cast<unsigned char>(s[i + k]);
    if (b < (k == 1 ? low : 0x80) || b > (k == 1 ? high : 0xBF)) return 0;
  }
  return length;
}

}  // namespace

bool IsValidUtf8(const std::string& bytes) {
  for (size_t i = 0; i < bytes.size();) {
    const size_t length = Utf8SequenceLength(bytes, i);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

WideString Utf8ToWide(const std::string& bytes) {
  WideString text;
  text.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size();) {
    const size_t length = Utf8SequenceLength(bytes, i);
    const unsigned char b0 = static_cast<unsigned char>(bytes[i]);
    if (length == 0) {
      text += static_cast<WCHAR>(kEscapedByte + b0);
      ++i;
      continue;
    }
    static const unsigned char kLeadMask[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    char32_t code = b0 & kLeadMask[length];
    for (size_t k = 1; k < length; ++k)
      code = (code << 6) | (static_cast<unsigned char>(bytes[i + k]) & 0x3F);
    if (code >= 0x10000) {
      code -= 0x10000;
      text += static_cast<WCHAR>(0xD800 + (code >> 10));
      text += static_cast<WCHAR>(0xDC00 + (code & 0x3FF));
    } else {
      text += static_cast<WCHAR>(code);
    }
    i += length;
  }
  return text;
}

std::string WideToUtf8(const WideString& text) {
  std::string bytes;
  bytes.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t code = static_cast<char16_t>(text[i]);
    if (code >= 0xD800 && code <= 0xDBFF && i + 1 < text.size()) {
      const char32_t next = static_cast<char16_t>(text[i + 1]);
      if (next >= 0xDC00 && next <= 0xDFFF) {
        code = 0x10000 + ((code - 0xD800) << 10) + (next - 0xDC00);
        ++i;
      }
    }
    if (code >= kEscapedByte + 0x80 && code <= kEscapedByte + 0xFF) {
      bytes += static_cast<char>(code - kEscapedByte);
    } else if (code < 0x80) {
      bytes += static_cast<char>(code);
    } else if (code < 0x800) {
      bytes += static_cast<char>(0xC0 | (code >> 6));
      bytes += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      bytes += static_cast<char>(0xE0 | (code >> 12));
      bytes += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      bytes += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      bytes += static_cast<char>(0xF0 | (code >> 18));
      bytes += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      bytes += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      bytes += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  return bytes;
}

WideString Latin1ToWide(const std::string& bytes) {
  WideString text;
  text.reserve(bytes.size());
  for (const char c : bytes) text += static_cast<WCHAR>(static_cast<unsigned char>(c));
  return text;
}

std::string ReplaceAll(std::string text, const std::string& pattern,
                       const std::string& replacement) {
  if (pattern.empty()) return text;
  for (size_t at = text.find(pattern); at != std::string::npos;
       at = text.find(pattern, at + replacement.size())) {
    text.replace(at, pattern.size(), replacement);
  }
  return text;
}

std::string AsciiLower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

std::string AsciiUpper(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}
