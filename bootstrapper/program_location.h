// Where the program lives, derived from its own path by plain text rules.
// Every location the bootstrapper chooses is relative to the program, so
// these rules decide where the interpreter home and the search path point.
#pragma once

#include <string>

// The text before its last "/", or the whole text when it holds none (a
// program at a drive root keeps "C:" as its folder).
std::string CutAtLastSeparator(const std::string& path);

// The executable's path with "/" as the only separator. Where a backslash
// separates folders (Windows) every one becomes "/"; elsewhere it is part of
// a name and stays.
std::string ProgramPath(const std::string& modulePath, bool backslashSeparates);
