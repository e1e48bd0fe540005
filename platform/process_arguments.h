// The narrow argument vector of the running program, apart from the other
// services: on Windows the C runtime's start-up code splits it, and only a
// program started through that code may ask for it.
#pragma once

// The narrow arguments (argument 0 first), as Windows' __argc and __argv
// hold them. On Windows those come from the wide command line by best-fit
// mapping, which turns a character the code page lacks into a look-alike:
// WideArgumentVector (process.h) gives them as they were.
int ProcessArgumentCount();
char** ProcessArgumentVector();

// Keeps main()'s arguments for the two above (POSIX hosts only).
void RememberProcessArguments(int argc, char** argv);
