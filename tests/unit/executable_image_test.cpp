#include "executable_image.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

#include "launch_command.h"

namespace {

using namespace std::string_literals;

// Where the crafted images keep their headers: the PE header right behind
// the 64-byte DOS header, the optional header behind its file header.
const size_t kPeHeader = 0x40;
const size_t kOptional = kPeHeader + 24;

void Put(std::string& bytes, size_t offset, std::uint32_t number, size_t count) {
  for (size_t i = 0; i < count; ++i)
    bytes[offset + i] = static_cast<char>(number >> (8 * i) & 0xFF);
}

// The directories' place in the optional header: 16 bytes further on in
// PE32+ for its wider fields.
size_t DirectoryCountField(bool plus) { return kOptional + (plus ? 108 : 92); }
size_t SecurityEntry(bool plus) { return DirectoryCountField(plus) + 4 + 4 * 8; }

// The headers of an image with 16 directories, all empty, and a body: as
// the linker writes an unsigned program.
std::string Image(bool plus, const std::string& body = "body of the image") {
  const size_t optionalSize = plus ? 240 : 224;
  std::string bytes(kOptional + optionalSize, '\0');
  bytes[0] = 'M';
  bytes[1] = 'Z';
  Put(bytes, 0x3C, kPeHeader, 4);
  bytes.replace(kPeHeader, 4, "PE\0\0"s);
  Put(bytes, kPeHeader + 4, plus ? 0x8664 : 0x14C, 2);
  Put(bytes, kPeHeader + 20, static_cast<std::uint32_t>(optionalSize), 2);
  Put(bytes, kOptional, plus ? 0x20B : 0x10B, 2);
  Put(bytes, DirectoryCountField(plus), 16, 4);
  return bytes + body;
}

// Names offset and size in the security directory.
void SetSecurity(std::string& image, bool plus, std::uint32_t offset, std::uint32_t size) {
  Put(image, SecurityEntry(plus), offset, 4);
  Put(image, SecurityEntry(plus) + 4, size, 4);
}

// Appends a certificate table, as signing does: padded to eight bytes, a
// WIN_CERTIFICATE header (length, revision 2.0, PKCS#7 type) and its bytes.
std::string Signed(std::string image, bool plus, const std::string& certificate) {
  image.resize((image.size() + 7) / 8 * 8, '\0');
  std::string table(8, '\0');
  Put(table, 0, static_cast<std::uint32_t>(8 + certificate.size()), 4);
  Put(table, 4, 0x0200, 2);
  Put(table, 6, 0x0002, 2);
  table += certificate;
  table.resize((table.size() + 7) / 8 * 8, '\0');
  SetSecurity(image, plus, static_cast<std::uint32_t>(image.size()),
              static_cast<std::uint32_t>(table.size()));
  return image + table;
}

// A copy in an allocation of exactly its size, so that ASan sees any read
// beyond it.
std::unique_ptr<char[]> Exact(const std::string& bytes) {
  std::unique_ptr<char[]> copy(new char[bytes.size() ? bytes.size() : 1]);
  std::copy(bytes.begin(), bytes.end(), copy.get());
  return copy;
}

struct TableCase {
  const char* name;
  std::string image;
  bool found;
};

std::string WithSecurity(bool plus, std::uint32_t offset, std::uint32_t size) {
  std::string image = Image(plus, std::string(64, 'x'));
  SetSecurity(image, plus, offset, size);
  return image;
}

std::string WithNumber(std::string image, size_t offset, std::uint32_t number, size_t count) {
  Put(image, offset, number, count);
  return image;
}

const std::string kSigned64 = Signed(Image(true), true, "certificate bytes");
const std::string kSigned32 = Signed(Image(false), false, "certificate bytes");
const std::uint32_t kSize64 = static_cast<std::uint32_t>(Image(true, std::string(64, 'x')).size());

const TableCase kTableCases[] = {
    {"signed PE32+", kSigned64, true},
    {"signed PE32", kSigned32, true},
    {"unsigned image", Image(true), false},
    {"table ending at the end of the file", WithSecurity(true, kSize64 - 16, 16), true},
    {"table in the middle of the file", WithSecurity(true, kSize64 - 32, 16), true},
    {"table one byte past the end", WithSecurity(true, kSize64 - 16, 17), false},
    {"table starting at the end", WithSecurity(true, kSize64, 8), false},
    {"table far past the end", WithSecurity(true, 0x7FFFFFF0, 8), false},
    {"offset and size overflowing", WithSecurity(true, 0xFFFFFFF8, 0x10), false},
    {"size overflowing", WithSecurity(true, 8, 0xFFFFFFFF), false},
    {"size of zero", WithSecurity(true, kSize64 - 16, 0), false},
    {"offset of zero", WithSecurity(true, 0, 16), false},
    {"four directories", WithNumber(kSigned64, DirectoryCountField(true), 4, 4), false},
    {"five directories", WithNumber(kSigned64, DirectoryCountField(true), 5, 4), true},
    {"no directories", WithNumber(kSigned32, DirectoryCountField(false), 0, 4), false},
    {"optional header too short for the entry", WithNumber(kSigned64, kPeHeader + 20, 151, 2),
     false},
    {"optional header just long enough", WithNumber(kSigned64, kPeHeader + 20, 152, 2), true},
    {"PE32 header read as PE32+", WithNumber(kSigned32, kOptional, 0x20B, 2), false},
    {"unknown optional header magic", WithNumber(kSigned64, kOptional, 0x107, 2), false},
    {"no MZ", WithNumber(kSigned64, 0, 0x5A4E, 2), false},
    {"no PE signature", WithNumber(kSigned64, kPeHeader, 0x4551, 4), false},
    {"e_lfanew past the end", WithNumber(kSigned64, 0x3C, 0x10000, 4), false},
    {"e_lfanew at the last bytes",
     WithNumber(kSigned64, 0x3C, static_cast<std::uint32_t>(kSigned64.size() - 2), 4), false},
    {"e_lfanew overflowing", WithNumber(kSigned64, 0x3C, 0xFFFFFFFF, 4), false},
    {"not an image", "#!cmd\0 just bytes"s, false},
    {"empty file", ""s, false},
};

TEST(FindCertificateTable, FindsOnlyATableInsideTheFile) {
  for (const TableCase& c : kTableCases) {
    const std::unique_ptr<char[]> bytes = Exact(c.image);
    size_t offset = 1, size = 2, entry = 3;
    EXPECT_EQ(FindCertificateTable(bytes.get(), c.image.size(), offset, size, entry), c.found)
        << c.name;
    EXPECT_EQ(TrailerSearchSize(bytes.get(), c.image.size()), c.found ? offset : c.image.size())
        << c.name;
  }
}

TEST(FindCertificateTable, GivesTheTableAndItsDirectoryEntry) {
  for (const bool plus : {false, true}) {
    const std::string image = plus ? kSigned64 : kSigned32;
    size_t offset = 0, size = 0, entry = 0;
    ASSERT_TRUE(FindCertificateTable(image.data(), image.size(), offset, size, entry)) << plus;
    EXPECT_EQ(entry, SecurityEntry(plus)) << plus;
    EXPECT_EQ(offset % 8, 0u) << plus;
    EXPECT_EQ(offset + size, image.size()) << plus;
    EXPECT_EQ(image.substr(offset + 8, 17), "certificate bytes") << plus;
  }
}

// Every cut of a signed image, through its headers, its directory entry and
// its table: never a read outside the buffer (the sanitizer build checks),
// and no table once the cut reaches it.
TEST(FindCertificateTable, NeverReadsOutsideACutImage) {
  for (const std::string& image : {kSigned64, kSigned32}) {
    for (size_t cut = 0; cut < image.size(); ++cut) {
      const std::unique_ptr<char[]> bytes = Exact(image.substr(0, cut));
      size_t offset = 0, size = 0, entry = 0;
      EXPECT_FALSE(FindCertificateTable(bytes.get(), cut, offset, size, entry)) << cut;
      EXPECT_EQ(TrailerSearchSize(bytes.get(), cut), cut) << cut;
    }
  }
}

// A program's headers are read whole: its optional header too, up to the
// directory count, which the certificate table is found by.
TEST(IsExecutableImage, TakesAPeProgramForX8664WithWholeHeaders) {
  const std::string program = WithNumber(Image(true), kPeHeader + 22, 0x0022, 2);
  const struct {
    const char* name;
    std::string image;
    bool program;
  } cases[] = {
      {"program", program, true},
      {"DLL", WithNumber(program, kPeHeader + 22, 0x2022, 2), false},
      {"no executable image", WithNumber(program, kPeHeader + 22, 0x0020, 2), false},
      {"program for x86", WithNumber(program, kPeHeader + 4, 0x14C, 2), false},
      {"unknown optional header magic", WithNumber(program, kOptional, 0x107, 2), false},
      {"cut in its directory count", program.substr(0, DirectoryCountField(true) + 3), false},
      {"cut behind its directory count", program.substr(0, DirectoryCountField(true) + 4), true},
  };
  for (const auto& c : cases) EXPECT_EQ(IsExecutableImage(c.image), c.program) << c.name;
}

struct SignedTrailerCase {
  const char* name;
  std::string image;
  bool found;
  std::string command;
};

const std::string kEvil = "#!evil\0"s;

std::string SignedLauncher(bool plus, const std::string& trailer, const std::string& certificate) {
  return Signed(Image(plus, "stub code" + trailer), plus, certificate);
}

std::string Unsigned(const std::string& trailer, const std::string& tail) {
  return Image(true, "stub code" + trailer) + tail;
}

const SignedTrailerCase kSignedTrailerCases[] = {
    {"signed PE32+", SignedLauncher(true, "#!run me\0"s, "plain"), true, "run me"},
    {"signed PE32", SignedLauncher(false, "#!run me\0"s, "plain"), true, "run me"},
    {"certificate holding a trailer", SignedLauncher(true, "#!run me\0"s, "x" + kEvil + "y"), true,
     "run me"},
    {"certificate ending in a trailer", SignedLauncher(true, "#!run me\0"s, "x" + kEvil), true,
     "run me"},
    {"certificate holding a bare marker", SignedLauncher(true, "#!run me\0"s, "x#!y"), true,
     "run me"},
    {"two trailers in front of the table", SignedLauncher(true, "#!first\0#!second\0"s, kEvil),
     true, "second"},
    {"signed stub without a trailer", SignedLauncher(true, "", kEvil), false, ""},
    // Padding in front of the table would end the cut trailer, so here the
    // trailer ends at a multiple of eight, where the table begins.
    {"trailer cut off at a certificate holding one",
     Signed(Image(true, "stubcode#!abcdef"), true, kEvil), false, ""},
    {"trailer cut off at a plain certificate", Signed(Image(true, "stubcode#!abcdef"), true, "x"),
     false, ""},
    {"unsigned image", Unsigned("#!run me\0"s, ""), true, "run me"},
    {"unsigned image with bytes behind its trailer", Unsigned("#!run me\0"s, "tail"), true,
     "run me"},
    {"directory naming a table past the end",
     WithNumber(SignedLauncher(true, "#!run me\0"s, kEvil), SecurityEntry(true) + 4, 0x1000, 4),
     true, "evil"},
};

TEST(FindLaunchCommand, SearchesOnlyInFrontOfTheCertificateTable) {
  for (const SignedTrailerCase& c : kSignedTrailerCases) {
    const std::unique_ptr<char[]> bytes = Exact(c.image);
    std::string command = "untouched";
    EXPECT_EQ(FindLaunchCommand(bytes.get(), c.image.size(), command), c.found) << c.name;
    EXPECT_EQ(command, c.found ? c.command : "untouched") << c.name;
  }
}

}  // namespace
