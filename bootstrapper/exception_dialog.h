// The box that tells the user about a Python exception escaping the entry.
#pragma once

#include "python.h"

// Shows the pending exception of the given type in an error box titled
// "Python Exception", silently for SystemExit and its subclasses. Afterwards
// no Python error is pending.
void ShowPythonException(PyObject* type);
