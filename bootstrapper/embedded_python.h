// The Python 2.7 headers as every bootstrapper file includes them: before any
// standard header, as the library requires, and mended for C++. (Not named
// python.h: on a case-blind file system that would shadow Python.h.)
#pragma once

// python.org's Windows pyconfig.h maps hypot to _hypot for MinGW; the <cmath>
// that Python.h then pulls in through <math.h> looks up ::hypot under that
// name and fails. pyconfig.h is guarded, so undoing the mapping right after
// it holds for Python.h's own inclusion too. Nothing here calls hypot.
#include <pyconfig.h>
#undef hypot

#include <Python.h>
