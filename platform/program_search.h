// Where the launcher looks for the program its command names, by the rules
// of Windows or of POSIX hosts. Pure text logic: the caller tries the files.
#pragma once

#include <vector>

#include "wide_string.h"

// Whether the program token is a name to search for, rather than a path to
// take as it is. Windows rules: any name but one with a drive ("C:"), a
// leading "\" or "/", or a leading ".\" or "..\". POSIX rules: a name
// without "/".
bool ProgramIsSearched(const WideString& program, bool windowsRules);

// The files that the launcher tries for the program token, in order. It
// searches them itself and never the current folder, which process
// creation's own search would try before PATH.
//
// Windows rules: ".exe" is added when the file name has no extension (no
// "." in its last part). A path to take as it is (ProgramIsSearched) is
// tried as is; any other name in the folder of launcherPath, then in each
// folder of pathVariable (";"-separated, quotes around a folder dropped).
//
// POSIX rules: a name holding "/" is tried as is; any other in each folder of
// pathVariable (":"-separated; an empty entry, the current folder, is left
// out).
std::vector<WideString> ProgramCandidates(const WideString& program, const WideString& launcherPath,
                                          const WideString& pathVariable, bool windowsRules);
