// The error box that shows the user a Python exception the application let
// escape.
#pragma once

#include "embedded_python.h"

// Shows the pending exception, which is no system exit, in an error box
// titled "Python Exception". Afterwards no Python error is pending.
void ShowPythonException();
