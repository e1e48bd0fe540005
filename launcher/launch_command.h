// The launcher's trailer rules: finding the launch trailer in the bytes of
// the executable file, and building the child's command line. No platform
// calls but ReadLaunchCommand's file read.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "wide_string.h"

// Finds the last "#!" marker in the buffer. True when it is followed by a
// 0x00 byte inside the buffer; command then holds the bytes between the
// two. A buffer without a marker, or whose last marker has no terminator
// (a cut-off trailer), gives false and leaves command as it was. Of a signed
// PE image only the bytes in front of its certificate table are searched
// (TrailerSearchSize).
bool FindLaunchCommand(const char* bytes, size_t size, std::string& command);

// What ReadLaunchCommand found.
enum LaunchCommandRead { kLaunchCommandFound, kLauncherUnreadable, kNoLaunchTrailer };

// The launch command of the launcher file at path (FindLaunchCommand over
// the whole file). command is left as it was unless one is found.
LaunchCommandRead ReadLaunchCommand(const WideString& path, std::string& command);

// The bytes the trailer search covers: those in front of the certificate
// table when there is one, else all. A signature's own bytes may hold "#!".
size_t TrailerSearchSize(const char* bytes, size_t size);

// Whether a trailer was appended to the image already. A marker and a 0x00
// byte that its own code or data happen to hold are no trailer: the one
// appended behind them wins.
bool HoldsAppendedTrailer(const std::string& image);

// The launch command followed, for each argument in order, by one space and
// the argument written so that the child's split gives it back exactly.
WideString BuildChildCommandLine(const WideString& command,
                                 const std::vector<WideString>& arguments);
