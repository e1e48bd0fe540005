// The launcher: starts the command named by the "#!" trailer of its own
// executable file, with its own arguments appended, and exits at once.
// It shows nothing and waits for nothing; its exit code says whether a child
// was started: 0 when one was, 1 when none was (its own file unreadable, no
// trailer or a cut-off one, or the process could not be created).
#include "code_page.h"
#include "command_line.h"
#include "files.h"
#include "launch_command.h"
#include "process.h"
#include "program_search.h"

namespace {

// The launch command from the trailer of the launcher's own file. False, and
// command untouched, when the file cannot be read whole or has no trailer.
bool ReadLaunchCommand(const WideString& ownPath, std::string& command) {
  std::string image;
  return ReadWholeFile(ownPath, image) && FindLaunchCommand(image.data(), image.size(), command);
}

// The launcher's own arguments, without its program name.
std::vector<WideString> LauncherArguments() {
  std::vector<WideString> arguments;
  int count = 0;
  LPWSTR* vector = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!vector) return arguments;
  for (int i = 1; i < count; ++i) arguments.emplace_back(vector[i]);
  LocalFree(vector);
  return arguments;
}

// The file to start for a program named without a path of its own, found as
// make_launcher --check shows it: in the launcher's folder, then on PATH.
// Process creation's own search would look in the current folder before
// PATH, and a file of that name planted wherever the user starts from (a
// downloads folder) would run instead. Empty for a path, which is started
// as named; false when a name to search for is found nowhere.
bool FindProgram(const WideString& ownPath, const WideString& commandLine, WideString& program) {
  const WideString name = ProgramToken(commandLine);
  const bool windowsRules = HostFindsProgramsLikeWindows();
  if (name.empty() || !ProgramIsSearched(name, windowsRules)) return true;
  program = FirstProgramFile(ProgramCandidates(name, ownPath, ProgramSearchPath(), windowsRules));
  return !program.empty();
}

// Starts the child without a console and without standard handles, with the
// launcher's environment and folder, and does not wait for it. False when no
// process was created.
bool StartChild(const WideString& program, WideString& commandLine) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwX = startup.dwY = CW_USEDEFAULT;
  startup.dwXSize = startup.dwYSize = CW_USEDEFAULT;
  startup.dwFlags = STARTF_USESTDHANDLES;
  PROCESS_INFORMATION process = {};
  return CreateProcessW(program.empty() ? nullptr : program.c_str(), &commandLine[0], nullptr,
                        nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                        &process) != FALSE;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  const WideString ownPath = ModuleFileName<WCHAR>(GetModuleFileNameW);
  std::string command;
  if (!ReadLaunchCommand(ownPath, command)) return 1;
  WideString commandLine = BuildChildCommandLine(Utf8OrAnsiToWide(command), LauncherArguments());
  WideString program;
  if (!FindProgram(ownPath, commandLine, program)) return 1;
  return StartChild(program, commandLine) ? 0 : 1;
}
