// How a run that leaves a Python exception pending ends: a box for an
// error, the interpreter's own ending for a system exit.
#pragma once

#include "embedded_python.h"

// Shows the pending exception of the given type in an error box titled
// "Python Exception", silently for SystemExit and its subclasses. Afterwards
// no Python error is pending.
void ShowPythonException(PyObject* type);

// The exit code that the pending SystemExit carries, as the interpreter
// itself ends on one: no code or None gives 0, an integer that integer, and
// anything else is written to sys.stderr and gives 1. Clears the error.
int TakeSystemExitCode();
