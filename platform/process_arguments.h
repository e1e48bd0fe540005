// The narrow argument vector of the running program, apart from the other
// services: on Windows the C runtime's start-up code splits it, and only a
// program started through that code may ask for it.
#pragma once

// The narrow arguments (argument 0 first), as Windows' __argc and __argv
// hold them.
int ProcessArgumentCount();
char** ProcessArgumentVector();

// Keeps main()'s arguments for the two above (POSIX hosts only).
void RememberProcessArguments(int argc, char** argv);
