#include "launch_command.h"

#include <cstring>

#include "command_line.h"
#include "platform.h"

bool FindLaunchCommand(const char* bytes, size_t size, std::string& command) {
  if (size < 2) return false;
  // Backwards from the last position where a marker fits: the marker with
  // the highest offset wins, and of "#!#!" the second one.
  for (size_t i = size - 1; i-- > 0;) {
    if (bytes[i] != '#' || bytes[i + 1] != '!') continue;
    const char* start = bytes + i + 2;
    const void* end = std::memchr(start, 0, size - i - 2);
    if (!end) return false;
    command.assign(start, static_cast<const char*>(end));
    return true;
  }
  return false;
}

WideString DecodeLaunchCommand(const std::string& command) {
  return IsValidUtf8(command) ? Utf8ToWide(command) : AnsiToWide(command);
}

WideString BuildChildCommandLine(const std::string& command,
                                 const std::vector<WideString>& arguments) {
  WideString line = DecodeLaunchCommand(command);
  for (const WideString& argument : arguments) {
    line += ' ';
    AppendQuotedArgument(line, argument);
  }
  return line;
}
