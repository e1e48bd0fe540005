#include "exception_dialog.h"

#include <string>

#include "code_page.h"
#include "exception_text.h"
#include "text.h"
#include "win32.h"

namespace {

// The bytes of a str object up to its first NUL, or false (error cleared).
bool BytesOf(PyObject* text, std::string& bytes) {
  const char* start = text ? PyString_AsString(text) : nullptr;
  if (!start) PyErr_Clear();
  if (start) bytes = start;
  Py_XDECREF(text);
  return start != nullptr;
}

// A unicode message the default encoding cannot convert, in the ANSI code
// page that the box shows, with "?" for the characters the page lacks.
bool UnicodeFormInAnsi(PyObject* object, std::string& bytes) {
  PyObject* text = PyObject_Unicode(object);
  PyObject* utf8 = text ? PyUnicode_AsUTF8String(text) : nullptr;
  Py_XDECREF(text);
  std::string encoded;
  if (!BytesOf(utf8, encoded)) return false;
  bytes = WideToAnsi(Utf8ToWide(encoded));
  return true;
}

// str(object) as bytes; failing that its unicode form in the ANSI code page;
// failing both the traceback printer's stand-in. The box always gets a text,
// and no secondary error stays pending.
std::string StringForm(PyObject* object) {
  std::string form;
  if (BytesOf(PyObject_Str(object), form) || UnicodeFormInAnsi(object, form)) return form;
  return UnprintableText(Py_TYPE(object)->tp_name);
}

}  // namespace

void ShowPythonException() {
  PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  // Type and value run together: "<type 'exceptions.ValueError'>bad value".
  const std::string text = StringForm(type) + StringForm(value);
  PyErr_Restore(type, value, traceback);
  MessageBoxA(nullptr, text.c_str(), "Python Exception", MB_ICONERROR);
  PyErr_Clear();
}
