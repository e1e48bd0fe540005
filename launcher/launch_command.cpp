#include "launch_command.h"

#include <cstdint>
#include <cstring>

#include "command_line.h"
#include "executable_image.h"
#include "files.h"

namespace {

// True when one of the eight bytes of word is '#'.
bool HoldsHash(std::uint64_t word) {
  const std::uint64_t x = word ^ 0x2323232323232323ULL;
  return ((x - 0x0101010101010101ULL) & ~x & 0x8080808080808080ULL) != 0;
}

// The highest position below end that holds a marker, or end when none does.
// Eight positions at a time are skipped while none of them holds a '#'.
size_t LastMarkerBefore(const char* bytes, size_t end) {
  size_t i = end;
  while (i > 0) {
    std::uint64_t word;
    if (i >= 8 && (std::memcpy(&word, bytes + i - 8, 8), !HoldsHash(word))) {
      i -= 8;
      continue;
    }
    const size_t stop = i >= 8 ? i - 8 : 0;
    for (; i > stop; --i)
      if (bytes[i - 1] == '#' && bytes[i] == '!') return i - 1;
  }
  return end;
}

}  // namespace

bool FindLaunchCommand(const char* bytes, size_t size, std::string& command) {
  // A signature lies behind the trailer and may hold "#!" and 0x00 bytes of
  // its own: neither the marker nor its terminator is sought inside it.
  size = TrailerSearchSize(bytes, size);
  if (size < 2) return false;
  // Backwards from the last position where a marker fits: the marker with
  // the highest offset wins, and of "#!#!" the second one.
  const size_t marker = LastMarkerBefore(bytes, size - 1);
  if (marker == size - 1) return false;
  const char* start = bytes + marker + 2;
  const void* end = std::memchr(start, 0, size - marker - 2);
  if (!end) return false;
  command.assign(start, static_cast<const char*>(end));
  return true;
}

LaunchCommandRead ReadLaunchCommand(const WideString& path, std::string& command) {
  std::string image;
  if (!ReadWholeFile(path, image)) return kLauncherUnreadable;
  return FindLaunchCommand(image.data(), image.size(), command) ? kLaunchCommandFound
                                                                : kNoLaunchTrailer;
}

size_t TrailerSearchSize(const char* bytes, size_t size) {
  size_t tableOffset, tableSize, entryOffset;
  return FindCertificateTable(bytes, size, tableOffset, tableSize, entryOffset) ? tableOffset
                                                                                : size;
}

bool HoldsAppendedTrailer(const std::string& image) {
  const size_t end = ImageEnd(image);
  std::string command;
  return FindLaunchCommand(image.data() + end, image.size() - end, command);
}

WideString BuildChildCommandLine(const WideString& command,
                                 const std::vector<WideString>& arguments) {
  WideString line = command;
  for (const WideString& argument : arguments) {
    line += ' ';
    AppendQuotedArgument(line, argument);
  }
  return line;
}
