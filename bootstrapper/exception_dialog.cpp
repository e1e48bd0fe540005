#include "exception_dialog.h"

#include <string>

#include "exception_text.h"
#include "platform.h"

namespace {

// str(object) as bytes up to its first NUL. When str() fails (a unicode
// message the default encoding cannot convert) the box still needs a text,
// and the secondary error must not stay pending.
std::string StringForm(PyObject* object) {
  PyObject* text = PyObject_Str(object);
  const char* bytes = text ? PyString_AsString(text) : nullptr;
  if (!bytes) PyErr_Clear();
  const std::string form = bytes ? std::string(bytes) : UnprintableText(Py_TYPE(object)->tp_name);
  Py_XDECREF(text);
  return form;
}

}  // namespace

void ShowPythonException(PyObject* type) {
  // A system exit is the application's own way to end, not an error.
  if (!PyErr_GivenExceptionMatches(type, PyExc_SystemExit)) {
    PyObject* fetchedType = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&fetchedType, &value, &traceback);
    PyErr_NormalizeException(&fetchedType, &value, &traceback);
    // Type and value run together: "<type 'exceptions.ValueError'>bad value".
    const std::string text = StringForm(fetchedType) + StringForm(value);
    PyErr_Restore(fetchedType, value, traceback);
    MessageBoxA(nullptr, text.c_str(), "Python Exception", MB_ICONERROR);
  }
  PyErr_Clear();
}
