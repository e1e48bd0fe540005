// How the launcher reads and finds the program that its launch command
// names, by the rules of Windows or of POSIX hosts. All but FindProgramFile
// are pure text logic.
#pragma once

#include <vector>

#include "wide_string.h"

// The program token of a launch command: its first token as the child's
// split reads it, without splitting the rest; empty for an empty command.
WideString ProgramToken(const WideString& command);

// An unquoted program path that holds a blank is cut short by the split, and
// process creation on Windows then guesses where it ends. When the line
// seems to start so, the position where the path seems to end; otherwise 0.
// It seems so when the line does not start with a double quote, its first
// word (up to a space or tab) holds "/" or "\", and one of the words behind
// it holds "/" or "\" with only plain words before it. A plain word does not
// start with "-", "/", "\", a double quote or a drive ("C:"): those open an
// option, an absolute path or a quoted argument, which a path would not go
// on with.
size_t SpacedProgramPathEnd(const WideString& line);

// The files tried for the program token, in order. The launcher searches
// them itself and never the current folder, which process creation's own
// search would try before PATH.
//
// Windows rules: ".exe" is added when the file name has no extension (no
// "." in its last part). A path to take as it is (a drive ("C:"), a leading
// "\" or "/", or a leading ".\" or "..\") is tried as is; any other name in
// the folder of launcherPath, then in each folder of pathVariable
// (";"-separated, quotes around a folder dropped).
//
// POSIX rules: a name holding "/" is tried as is; any other in each folder of
// pathVariable (":"-separated; an empty entry, the current folder, is left
// out).
std::vector<WideString> ProgramCandidates(const WideString& program, const WideString& launcherPath,
                                          const WideString& pathVariable, bool windowsRules);

// The file to start for the program token of a launcher at launcherPath, by
// the host's rules and PATH: the first of the candidates (all set) that is a
// program file. False when a name to search for is found nowhere; a path that
// names no program file leaves file empty, for process creation to try as is.
bool FindProgramFile(const WideString& program, const WideString& launcherPath, WideString& file,
                     std::vector<WideString>& candidates);
