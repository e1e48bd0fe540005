// What the launcher and make_launcher ask of their own images, over the PE
// reader (pe_image) and just enough of the ELF format: the certificate table
// that Authenticode signing appends behind everything else in a PE file;
// whether a file is a program; and where the image that its headers
// describe ends, so that what lies behind was appended. No platform calls.
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

// What the launcher stub is built as on the two hosts: a PE image for x86-64
// whose headers are whole, a program and not a library, or an ELF program
// (of type EXEC or DYN).
bool IsExecutableImage(const std::string& image);

// Where the bytes that the headers of a PE image or a 64-bit little-endian
// ELF image account for end: behind the last section (PE), or behind the
// last segment and the section header table (ELF). Anything further on was
// appended. 0 for a layout not read here, so the whole file counts.
size_t ImageEnd(const std::string& image);
