// morvex_desktop: the application's main program. It starts the embedded
// Python 2.7 interpreter at home in its own folder, puts the application's
// folders on sys.path, and runs morvex.desktop.main.main(). Exit code 0 means
// main() returned and the interpreter was finalised; a system exit gives the
// code it carries, and any other escaping exception a box and 1.
// clang-format off
#include "embedded_python.h"  // before any standard header, as the library requires
// clang-format on

#include <cstdio>
#include <string>

#include "exception_dialog.h"
#include "process.h"
#include "process_arguments.h"
#include "program_location.h"
#include "search_path.h"

namespace {

// Also the file name of the entry statement's frames, so application code
// that walks its stack sees the program there.
char programName[] = "morvex_desktop.exe";

const char entryStatement[] = "import morvex.desktop.main\nmorvex.desktop.main.main()";

// Reads the whole file in binary mode, so that the text-mode rules applied
// afterwards are the same on every host. False only when it cannot be
// opened; a read error counts as the end of the file.
bool ReadSearchPathFile(const std::string& name, std::string& bytes) {
  std::FILE* file = std::fopen(name.c_str(), "rb");
  if (!file) return false;
  char chunk[4096];
  for (size_t got; (got = std::fread(chunk, 1, sizeof chunk, file)) > 0;) bytes.append(chunk, got);
  std::fclose(file);
  return true;
}

// Appends each folder of the search-path file, or the default folders when
// the file cannot be opened, to sys.path in the main namespace. A statement
// that fails is reported by the library and never stops the start.
void ExtendSearchPath(const std::string& programDirectory, const std::string& searchPathFile) {
  std::string bytes;
  const std::vector<std::string> entries =
      ReadSearchPathFile(searchPathFile, bytes) ? TextModeLines(bytes) : DefaultSearchPathEntries();
  for (const std::string& entry : entries) {
    const std::string statement =
        SearchPathStatement(ResolveSearchPathEntry(entry, programDirectory));
    if (!statement.empty()) PyRun_SimpleStringFlags(statement.c_str(), nullptr);
  }
}

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

// Every run that leaves an exception pending ends here. A system exit ends
// as the interpreter itself ends on one: finalised (so atexit handlers and
// buffered output are not lost) with the code it carries. Any other error
// is shown to the user, and the interpreter is left as it is.
int Fail() {
  PyObject* type = PyErr_Occurred();
  if (type && PyErr_GivenExceptionMatches(type, PyExc_SystemExit)) {
    const int exitCode = TakeSystemExitCode();
    Py_Finalize();
    return exitCode;
  }
  if (type) ShowPythonException(type);
  return 1;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // 1. Where the program lives decides every other location.
  const std::string programPath = ProgramPath(ProgramFileNameAnsi(), kBackslashSeparatesFolders);
  if (programPath.empty()) return 1;
  const std::string programDirectory = CutAtLastSeparator(programPath);
  const std::string searchPathFile = SearchPathFileName(programPath);

  // 2. The library keeps this pointer without copying it, so the home stays
  // untouched until we return, after Py_Finalize.
  std::string home = programDirectory;

  // 3. Libraries loaded by name (extension modules' own DLLs, ctypes) never
  // come from the current folder, which is wherever the user started from.
  RemoveCurrentFolderFromLibrarySearch();

  // 4.-6. An interpreter without site, at home in the program folder, that
  // takes none of the PYTHON* variables: they are meant for another Python
  // on the machine, and PYTHONPATH would put its folders ahead of ours.
  Py_IgnoreEnvironmentFlag = 1;
  Py_NoSiteFlag = 1;
  Py_SetPythonHome(&home[0]);
  Py_SetProgramName(programName);
  Py_Initialize();
  DiscardStreamsWithoutHandle();

  // 7.-9. The main module, the command line as sys.argv, and the marks of a
  // bundled application, all before anything of the application is imported.
  PyObject* mainModule = PyImport_AddModule("__main__");
  if (!mainModule) return Fail();
  PySys_SetArgv(ProcessArgumentCount(), ProcessArgumentVector());
  PyRun_SimpleStringFlags("import sys", nullptr);
  PyRun_SimpleStringFlags("sys.frozen = True", nullptr);
  PyRun_SimpleStringFlags("sys.brenvik_build = True", nullptr);

  // 10. The application's folders go at the end of sys.path.
  ExtendSearchPath(programDirectory, searchPathFile);

  // 11.-15. Import the entry module and call main() in the main namespace.
  PyObject* mainNamespace = PyModule_GetDict(mainModule);
  if (!mainNamespace) return Fail();
  PyObject* entryCode = Py_CompileStringFlags(entryStatement, programName, Py_file_input, nullptr);
  if (!entryCode || PyErr_Occurred()) return Fail();
  PyEval_EvalCode(reinterpret_cast<PyCodeObject*>(entryCode), mainNamespace, mainNamespace);
  if (PyErr_Occurred()) return Fail();

  // 16. Only a clean run is finalised, which also runs the atexit handlers.
  Py_Finalize();
  return 0;
}
