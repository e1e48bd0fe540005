// The error box that shows the user a Python exception the application let
// escape.
#pragma once

#include "embedded_python.h"

// Shows the pending exception of the given type in an error box titled
// "Python Exception", silently for SystemExit and its subclasses. Afterwards
// no Python error is pending.
void ShowPythonException(PyObject* type);
