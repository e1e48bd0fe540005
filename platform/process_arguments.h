// main()'s narrow argument vector, kept for the POSIX stand-ins, whose
// GetCommandLineW is made from it. (A Windows program takes its arguments
// from the wide command line: WideArgumentVector in process.h.)
#pragma once

// The arguments main() was given (argument 0 first). POSIX hosts only.
int ProcessArgumentCount();
char** ProcessArgumentVector();

// Keeps main()'s arguments for the two above.
void RememberProcessArguments(int argc, char** argv);
