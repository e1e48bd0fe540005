// The argument vector of the running program, apart from the other
// services: on Windows the C runtime's start-up code splits it, and only a
// program started through that code may ask for it.
#pragma once

#include <string>
#include <vector>

#include "wide_string.h"

// The narrow arguments (argument 0 first), as Windows' __argc and __argv
// hold them. On Windows those come from the wide command line by best-fit
// mapping, which turns a character the code page lacks into a look-alike.
int ProcessArgumentCount();
char** ProcessArgumentVector();

// The arguments (argument 0 first) split from the wide command line
// (GetCommandLineW) as the C runtime splits it into argv, before any
// conversion.
std::vector<WideString> WideArgumentVector();

// An argument in the narrow form a program's arguments take: in the ANSI
// code page on Windows, with "?" for each character it lacks, never a
// look-alike; on POSIX hosts the bytes the program was given. True when
// nothing was lost.
bool NarrowArgument(const WideString& argument, std::string& bytes);

// Keeps main()'s arguments for the first two above (POSIX hosts only).
void RememberProcessArguments(int argc, char** argv);
