// PythonStringLiteral and SearchPathStatement checked by the interpreter the
// bootstrapper embeds: the literal evaluates to a str of exactly the input's
// bytes, and the statement, run against a stand-in sys, appends exactly the
// folder and does nothing else.
//
// The interpreter is started once and never finalised: it keeps memory to
// the end by design, and finalising between inputs would cost more than the
// inputs themselves.
#include <Python.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "search_path.h"

namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

char kHome[] = MORVEX_PYTHON_HOME;
char kProgram[] = "fuzz_string_literal";

// The globals the statements run in, made once: sys there is a stand-in
// whose path each input replaces.
PyObject* gStatementGlobals;
PyObject* gStandInSys;

PyObject* NewGlobals() {
  PyObject* globals = PyDict_New();
  PyDict_SetItemString(globals, "__builtins__", PyEval_GetBuiltins());
  return globals;
}

// True when the bytes of the str object are exactly bytes.
bool HoldsBytes(PyObject* object, const std::string& bytes) {
  if (!object || !PyString_CheckExact(object)) return false;
  return size_t(PyString_GET_SIZE(object)) == bytes.size() &&
         std::memcmp(PyString_AS_STRING(object), bytes.data(), bytes.size()) == 0;
}

void CheckLiteral(const std::string& bytes) {
  const std::string literal = PythonStringLiteral(bytes);
  // One line of printable ASCII: no coding line is needed, and nothing can
  // end the statement around it.
  Check(literal.size() >= 2 && literal.front() == '\'' && literal.back() == '\'');
  for (const char c : literal) Check(c >= 0x20 && c < 0x7f);
  PyObject* globals = NewGlobals();
  PyObject* value = PyRun_String(literal.c_str(), Py_eval_input, globals, globals);
  if (!value) PyErr_Print();
  Check(HoldsBytes(value, bytes));
  Py_XDECREF(value);
  Py_DECREF(globals);
}

void CheckStatement(const std::string& folder) {
  const std::string statement = SearchPathStatement(folder);
  Check(statement.empty() == (folder.find('\0') != std::string::npos));
  if (statement.empty()) return;
  Check(statement.find('\n') == std::string::npos);
  // Run against a sys whose path starts empty: it must end holding the
  // folder alone.
  PyObject* path = PyList_New(0);
  PyObject_SetAttrString(gStandInSys, "path", path);
  // Evaluated as a single expression: one call, nothing chained to it.
  PyObject* result =
      PyRun_String(statement.c_str(), Py_eval_input, gStatementGlobals, gStatementGlobals);
  if (!result) PyErr_Print();
  Check(result == Py_None);
  Py_XDECREF(result);
  Check(PyList_GET_SIZE(path) == 1 && HoldsBytes(PyList_GET_ITEM(path, 0), folder));
  Py_DECREF(path);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // No site module, no environment, no search for the prefix from the
  // program's own path: a quiet start from the installation itself.
  Py_NoSiteFlag = 1;
  Py_IgnoreEnvironmentFlag = 1;
  Py_DontWriteBytecodeFlag = 1;
  Py_SetProgramName(kProgram);
  Py_SetPythonHome(kHome);
  Py_InitializeEx(0);
  gStatementGlobals = NewGlobals();
  PyObject* setup = PyRun_String("class StandIn(object): pass\nsys = StandIn()\n", Py_file_input,
                                 gStatementGlobals, gStatementGlobals);
  Check(setup != nullptr);
  Py_DECREF(setup);
  gStandInSys = PyDict_GetItemString(gStatementGlobals, "sys");
  Check(gStandInSys != nullptr);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(data, data + size);
  CheckLiteral(bytes);
  CheckStatement(bytes);
  return 0;
}
