#include "system_exit.h"

int TakeSystemExitCode() {
  PyObject* type = nullptr;
  PyObject* value = nullptr;
  PyObject* traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  // The code sits in the exception's "code" attribute (None without one).
  PyObject* code = value;
  Py_XINCREF(code);
  if (value && PyExceptionInstance_Check(value)) {
    Py_DECREF(code);
    code = PyObject_GetAttrString(value, "code");
    if (!code) PyErr_Clear();
  }
  int exitCode = 0;
  if (!code || code == Py_None) {
    exitCode = 0;
  } else if (PyInt_Check(code)) {
    exitCode = static_cast<int>(PyInt_AsLong(code));
  } else {
    // Through the interpreter's own sys.stderr: its C runtime is not ours.
    PyObject* stream = PySys_GetObject(const_cast<char*>("stderr"));
    if (stream && stream != Py_None) {
      PyFile_WriteObject(code, stream, Py_PRINT_RAW);
      PyFile_WriteString("\n", stream);
    }
    PyErr_Clear();
    exitCode = 1;
  }
  Py_XDECREF(code);
  Py_XDECREF(type);
  Py_XDECREF(value);
  Py_XDECREF(traceback);
  return exitCode;
}
