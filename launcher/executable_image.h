// Just enough of the PE and ELF file formats for the launcher and
// make_launcher: the certificate table that Authenticode signing appends
// behind everything else in a PE file, where a "#!" of the signature's own
// bytes must not be taken for a trailer; whether a file is a program; and
// where the image that its headers describe ends, so that what lies behind
// was appended. No platform calls.
//
// The launcher stub links only executable_image.cpp (the certificate table);
// executable_image_end.cpp holds the rest, as a PE image keeps every function
// of an object file it links, used or not.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Above every number of four bytes: what a read outside the buffer gives
// unless the caller names another value.
const std::uint64_t kOutsideImage = std::uint64_t(1) << 32;

// The little-endian number of count bytes at offset, or outside when they
// do not all lie inside the buffer. The one reader of header fields; static,
// so that each file fits a copy of its own to its calls, which keeps the stub
// as small as a file-local reader did.
static inline std::uint64_t ImageNumber(const char* bytes, size_t size, std::uint64_t offset,
                                        size_t count, std::uint64_t outside = kOutsideImage) {
  if (offset > size || count > size - offset) return outside;
  std::uint64_t number = 0;
  for (size_t i = count; i-- > 0;)
    number = number << 8 | static_cast<unsigned char>(bytes[offset + i]);
  return number;
}

// Where the certificate table named by the security data directory of a PE
// image lies. True when bytes hold a PE image (PE32 or PE32+) whose security
// directory names a non-empty table lying wholly inside the buffer; then
// tableOffset/tableSize give it and entryOffset the file offset of the
// 8-byte directory entry itself. Never reads outside the buffer.
bool FindCertificateTable(const char* bytes, size_t size, size_t& tableOffset, size_t& tableSize,
                          size_t& entryOffset);

// The bytes the trailer search covers: those in front of the certificate table when there is one,
// else all.
size_t TrailerSearchSize(const char* bytes, size_t size);

// What the launcher stub is built as on the two hosts: a PE image for x86-64
// that is a program, not a library, or an ELF program (of type EXEC or DYN).
bool IsExecutableImage(const std::string& image);

// Whether a trailer was appended to the image already. A marker and a 0x00
// byte that its own code or data happen to hold are no trailer: the one
// appended behind them wins.
bool HoldsAppendedTrailer(const std::string& image);
