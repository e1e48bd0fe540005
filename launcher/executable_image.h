// Just enough of the PE and ELF file formats for the launcher and
// make_launcher: the certificate table that Authenticode signing appends
// behind everything else in a PE file, where a "#!" of the signature's own
// bytes must not be taken for a trailer; whether a file is a program; and
// where the image that its headers describe ends, so that what lies behind
// was appended. No platform calls.
#pragma once

#include <cstddef>
#include <string>

// Where the certificate table named by the security data directory of a PE
// image lies. True when bytes hold a PE image (PE32 or PE32+) whose security
// directory names a non-empty table lying wholly inside the buffer; then
// tableOffset/tableSize give it and entryOffset the file offset of the
// 8-byte directory entry itself. Never reads outside the buffer.
bool FindCertificateTable(const char* bytes, size_t size, size_t& tableOffset, size_t& tableSize,
                          size_t& entryOffset);

// The bytes the trailer search covers: those in front of the certificate
// table when there is one, else all.
size_t TrailerSearchSize(const char* bytes, size_t size);

// What the launcher stub is built as on the two hosts: a PE image for x86-64
// that is a program, not a library, or an ELF program (of type EXEC or DYN).
bool IsExecutableImage(const std::string& image);

// Whether a trailer was appended to the image already. A marker and a 0x00
// byte that its own code or data happen to hold are no trailer: the one
// appended behind them wins.
bool HoldsAppendedTrailer(const std::string& image);
