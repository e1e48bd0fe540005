// The launcher: starts the command named by the "#!" trailer of its own
// executable file, with its own arguments appended, and exits at once.
// It shows nothing and waits for nothing; its exit code says whether a child
// was started: 0 when one was, 1 when none was (its own file unreadable, no
// trailer or a cut-off one, or the process could not be created).
#include "code_page.h"
#include "launch_command.h"
#include "process.h"
#include "program_search.h"

namespace {

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
  if (ReadLaunchCommand(ownPath, command) != kLaunchCommandFound) return 1;
  const WideString launchCommand = Utf8OrAnsiToWide(command);
  // Found as make_launcher --check shows it, never in the current folder, where
  // a file planted wherever the user starts from (downloads) would run instead.
  WideString program;
  std::vector<WideString> candidates;
  if (!FindProgramFile(ProgramToken(launchCommand), ownPath, program, candidates)) return 1;
  WideString commandLine = BuildChildCommandLine(launchCommand, CommandLineArguments());
  return StartChild(program, commandLine) ? 0 : 1;
}
