// Just enough of the PE file format to find an Authenticode signature: the
// certificate table that signing appends behind everything else in the file,
// where a "#!" of the signature's own bytes must not be taken for a trailer.
// No platform calls.
#pragma once

#include <cstddef>

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
