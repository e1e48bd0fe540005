// How a system exit ends the program: as the interpreter itself ends on one.
#pragma once

#include "embedded_python.h"

// The exit code that the pending SystemExit carries, as the interpreter
// itself ends on one: no code or None gives 0, an integer that integer, and
// anything else is written to sys.stderr and gives 1. Clears the error.
int TakeSystemExitCode();
