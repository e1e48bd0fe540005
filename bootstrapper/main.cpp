// morvex_desktop: the application's main program. It starts the embedded
// Python 2.7 interpreter at home in its own folder, puts the application's
// folders on sys.path, and runs morvex.desktop.main.main(). Exit code 0 means
// main() returned and the interpreter was finalised; a system exit gives the
// code it carries, and any other escaping exception a box and 1.
// clang-format off
#include "embedded_python.h"  // before any standard header, as the library requires
// clang-format on

#include <optional>
#include <string>
#include <vector>

#include "application_arguments.h"
#include "exception_dialog.h"
#include "files.h"
#include "process.h"
#include "program_location.h"
#include "search_path.h"
#include "system_exit.h"
#include "text.h"

namespace {

// Also the file name of the entry statement's frames, so application code
// that walks its stack sees the program there.
char programName[] = "morvex_desktop.exe";

const char entryStatement[] = "import morvex.desktop.main\nmorvex.desktop.main.main()";

// A windowed process may have no standard output or error: a launcher
// starts it without handles. The interpreter's stream then fails as soon
// as its buffer is written out, and a print would end the application. Such
// a stream, and only such, gives way to one on the null device, which
// discards the text; a console, a pipe or a file stays as it is.
void DiscardStreamsWithoutHandle() {
  const bool writable[] = {StandardStreamWritable(1), StandardStreamWritable(2)};
  char* names[][2] = {{const_cast<char*>("stdout"), const_cast<char*>("__stdout__")},
                      {const_cast<char*>("stderr"), const_cast<char*>("__stderr__")}};
  for (int i = 0; i < 2; ++i) {
    if (writable[i]) continue;
    PyObject* sink = PyFile_FromString(const_cast<char*>(kNullDevice), const_cast<char*>("w"));
    if (!sink) {
      PyErr_Clear();
      continue;
    }
    // The original goes too, or code that restores it would get the broken one back.
    PySys_SetObject(names[i][0], sink);
    PySys_SetObject(names[i][1], sink);
    Py_DECREF(sink);
  }
}

// TCL_LIBRARY, TK_LIBRARY and TIX_LIBRARY left in the user's environment by
// another Tcl installation would take the place of the folder's own Tcl and
// Tk libraries, which tcl85.dll finds beside itself. They are removed from
// the C runtime that the interpreter shares with Tcl (which passes the change
// on to the process, for a runtime loaded later) and from the interpreter's
// copy that os.environ is made from. Names are compared as Windows does,
// without regard to case. The os module itself is the application's to import.
void ForgetOtherTclLibraries() {
  PyObject* system = PyImport_ImportModule(kWindowsPathRules ? "nt" : "posix");
  PyObject* environment = system ? PyObject_GetAttrString(system, "environ") : nullptr;
  PyObject* names = environment && PyDict_Check(environment) ? PyDict_Keys(environment) : nullptr;
  for (Py_ssize_t i = 0; names && i < PyList_GET_SIZE(names); ++i) {
    PyObject* name = PyList_GET_ITEM(names, i);
    if (!PyString_Check(name)) continue;
    const std::string upper = AsciiUpper(PyString_AS_STRING(name));
    if (upper != "TCL_LIBRARY" && upper != "TK_LIBRARY" && upper != "TIX_LIBRARY") continue;
    PyObject* done = PyObject_HasAttrString(system, "unsetenv")
                         ? PyObject_CallMethod(system, const_cast<char*>("unsetenv"),
                                               const_cast<char*>("O"), name)
                         : PyObject_CallMethod(system, const_cast<char*>("putenv"),
                                               const_cast<char*>("Os"), name, "");
    Py_XDECREF(done);
    PyDict_DelItem(environment, name);
  }
  Py_XDECREF(names);
  Py_XDECREF(environment);
  Py_XDECREF(system);
  PyErr_Clear();
}

// The command line as sys.argv, split from the wide command line and
// converted without best fit: the C runtime's own narrow argv turns a
// character the code page lacks into a look-alike, which names another file
// or, a fullwidth quote become a real one, splits an argument in two. Where
// the program's long path has no form in the ANSI code page, the
// interpreter's sys.executable (GetModuleFileNameA) names it with "?" for
// each character lost, a path that does not exist: both then take the short
// form that programFile holds (shortened).
void SetArgvAndExecutable(const std::string& programFile, bool shortened) {
  std::vector<std::string> arguments =
      ApplicationArgv(WideArgumentVector(), programFile, shortened, NarrowArgument, ShortPathName);
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(&argument[0]);
  PySys_SetArgv(static_cast<int>(argv.size()), argv.data());
  if (!shortened) return;
  PyObject* executable = PyString_FromString(programFile.c_str());
  if (executable) PySys_SetObject(const_cast<char*>("executable"), executable);
  Py_XDECREF(executable);
  PyErr_Clear();
}

// An interpreter at home in the program folder, without the site module
// (the application brings its own folders), and deaf to the PYTHON*
// variables: those are meant for another Python on the machine, and
// PYTHONPATH would put its folders ahead of ours. The library keeps home's
// pointer without copying it.
void StartInterpreter(std::string& home) {
  Py_IgnoreEnvironmentFlag = 1;
  Py_NoSiteFlag = 1;
  Py_SetPythonHome(&home[0]);
  Py_SetProgramName(programName);
  Py_Initialize();
}

// The marks the application reads before it imports anything: sys.frozen,
// that it runs as a bundled program whose files sit beside the executable,
// and sys.brenvik_build, that it is this packaged build and not a
// developer's checkout run by a plain interpreter.
void SetMarks() {
  PyRun_SimpleStringFlags("import sys", nullptr);
  PyRun_SimpleStringFlags("sys.frozen = True", nullptr);
  PyRun_SimpleStringFlags("sys.brenvik_build = True", nullptr);
}

// The application's folders go at the end of sys.path, as the search-path
// file beside the program names them (the default entries when there is
// none). A statement that fails is reported by the library and never stops
// the start.
void ExtendSearchPath(const std::string& programPath, const std::string& home) {
  std::string bytes;
  std::optional<std::string> searchPathFile;
  if (ReadWholeFile(SearchPathFileName(programPath), bytes)) searchPathFile = bytes;
  for (const std::string& statement : SearchPathStatements(searchPathFile, home))
    PyRun_SimpleStringFlags(statement.c_str(), nullptr);
}

// The entry statement imports the application and calls its main() in the
// main namespace, compiled under the program's name. False when it could
// not run or left an exception pending.
bool RunEntryStatement(PyObject* mainModule) {
  PyObject* mainNamespace = PyModule_GetDict(mainModule);
  if (!mainNamespace) return false;
  PyObject* entryCode = Py_CompileStringFlags(entryStatement, programName, Py_file_input, nullptr);
  if (!entryCode || PyErr_Occurred()) return false;
  PyEval_EvalCode(reinterpret_cast<PyCodeObject*>(entryCode), mainNamespace, mainNamespace);
  return !PyErr_Occurred();
}

// Every run that leaves an exception pending ends here. A system exit ends
// as the interpreter itself ends on one: finalised (so atexit handlers and
// buffered output are not lost) with the code it carries. Any other error
// is shown to the user, and the interpreter is left as it is.
int EndWithPendingException() {
  PyObject* type = PyErr_Occurred();
  if (type && PyErr_GivenExceptionMatches(type, PyExc_SystemExit)) {
    const int exitCode = TakeSystemExitCode();
    Py_Finalize();
    return exitCode;
  }
  if (type) ShowPythonException();
  return 1;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // 1. Where the program lives decides every other location: the
  // interpreter's home and the application's folders are all beside it.
  // The interpreter keeps a pointer into home, so it stays untouched until
  // we return, after Py_Finalize.
  bool shortened = false;
  const std::string programFile = ProgramFileNameAnsi(shortened);
  const std::string programPath = ProgramPath(programFile, kWindowsPathRules);
  if (programPath.empty()) return 1;
  std::string home = CutAtLastSeparator(programPath);

  // 2. Libraries loaded by name (extension modules' own DLLs, ctypes) never
  // come from the current folder, which is wherever the user started from.
  RemoveCurrentFolderFromLibrarySearch();

  // 3. The interpreter.
  StartInterpreter(home);

  // 4. Its streams, where the process has no handle for them.
  DiscardStreamsWithoutHandle();

  // 5. Its environment, without another installation's Tcl.
  ForgetOtherTclLibraries();

  // 6. The main module, in which the entry statement runs.
  PyObject* mainModule = PyImport_AddModule("__main__");
  if (!mainModule) return EndWithPendingException();

  // 7. The command line as sys.argv.
  SetArgvAndExecutable(programFile, shortened);

  // 8. The marks.
  SetMarks();

  // 9. The application's folders on sys.path.
  ExtendSearchPath(programPath, home);

  // 10. The application itself.
  if (!RunEntryStatement(mainModule)) return EndWithPendingException();

  // 11. Only a clean run is finalised, which also runs the atexit handlers.
  Py_Finalize();
  return 0;
}
