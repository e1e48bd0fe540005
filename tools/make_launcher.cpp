// Makes a concrete launcher from the launcher stub, shows the launch command
// of an existing one, or checks where its program will be found. Release
// scripts run it, so every refusal leaves the output as it was and says why
// on standard error with a non-zero exit. --help gives the rules.
#include <cstdio>
#include <string>
#include <vector>

#include "code_page.h"
#include "command_line.h"
#include "executable_image.h"
#include "files.h"
#include "launch_command.h"
#include "process.h"
#include "program_search.h"
#include "text.h"

namespace {

const char kUsage[] =
    "usage: make_launcher STUB OUTPUT -- PROGRAM [ARGUMENT...]\n"
    "       make_launcher STUB OUTPUT COMMAND\n"
    "       make_launcher --show LAUNCHER\n"
    "       make_launcher --check LAUNCHER\n"
    "       make_launcher --help | --version\n";

const char kRules[] =
    "\n"
    "Makes a concrete launcher: a copy of the launcher stub STUB, written to OUTPUT,\n"
    "with a trailer naming the command that it starts. The launcher appends its own\n"
    "arguments to that command, each written so that the child gets it back exactly.\n"
    "\n"
    "  STUB OUTPUT -- PROGRAM [ARGUMENT...]\n"
    "      writes the command line from its tokens: the child receives PROGRAM as\n"
    "      its program name and each ARGUMENT exactly as given, ahead of the\n"
    "      launcher's own arguments.\n"
    "  STUB OUTPUT COMMAND\n"
    "      stores the command line COMMAND as written.\n"
    "  --show LAUNCHER\n"
    "      prints the launch command.\n"
    "  --check LAUNCHER\n"
    "      prints the launch command, its tokens as the child splits them, and the\n"
    "      file that the program will be found as. Exit 1 when the program will not\n"
    "      be found or the file holds no usable trailer.\n"
    "\n"
    "Trailer: \"#!\", the command line as UTF-8, a 0x00 byte, appended to the stub.\n"
    "The last \"#!\" in the file wins. The certificate table of a signed launcher\n"
    "is skipped: sign a launcher after it is made. A signed STUB loses its\n"
    "signature in the copy (a note says so on standard error).\n"
    "\n"
    "Quoting (the Windows command-line rules, on every host):\n"
    "  program token: up to the next blank (space or tab) or, when it starts with\n"
    "      a double quote, up to the next double quote; no escapes. PROGRAM is\n"
    "      written in double quotes when it holds a blank; it cannot hold a\n"
    "      double quote.\n"
    "  other tokens: written as the exact inverse of the split: as given when\n"
    "      non-empty and free of blanks, line feeds, vertical tabs and double\n"
    "      quotes; otherwise in double quotes, each double quote as \\\", and the\n"
    "      backslashes in front of a double quote, or of the closing one, doubled.\n"
    "\n"
    "Refused, with nothing written (an existing OUTPUT stays as it was):\n"
    "  - OUTPUT is the file STUB, under any path or link;\n"
    "  - STUB is not an executable image: neither a PE image for x86-64 (\"MZ\",\n"
    "    \"PE\\0\\0\", machine x86-64, an executable and not a DLL, its optional\n"
    "    header PE32 or PE32+ up to its directory count) nor an ELF file of type\n"
    "    EXEC or DYN;\n"
    "  - STUB already holds a launch trailer behind its image (a marker that its\n"
    "    own code or data happen to hold is none);\n"
    "  - STUB is signed and its certificate table is not at the end of the file;\n"
    "  - the command names no program: it is empty, blank, starts with a blank or\n"
    "    gives an empty program token (\"\"), or PROGRAM is missing or empty;\n"
    "  - the command holds a 0x00 byte or \"#!\", or is not valid Unicode text;\n"
    "  - PROGRAM holds a double quote;\n"
    "  - COMMAND starts with an unquoted program path that seems to go on past a\n"
    "    blank: its first word holds \"/\" or \"\\\", and a word behind it holds \"/\"\n"
    "    or \"\\\" with only plain words before it (a plain word does not start\n"
    "    with \"-\", \"/\", \"\\\", a double quote or a drive such as \"C:\"). So\n"
    "    C:\\Program Files\\App\\app.exe --flag and /opt/Wine App/run x are refused;\n"
    "    quote the program path to have it taken as written.\n"
    "\n"
    "Program search (--check shows it): the launcher finds the program itself and\n"
    "never looks in the current folder, where a planted file could run instead.\n"
    "  Windows: \".exe\" is added when the file name has no extension. A path with a\n"
    "      drive, a leading \"\\\" or \"/\", or a leading \".\\\" or \"..\\\" is taken as\n"
    "      is; any other name is looked for in the launcher's folder, then in each\n"
    "      folder of PATH, and the launcher starts nothing when it is in none.\n"
    "  POSIX: a name holding \"/\" is taken as is; any other is looked for in each\n"
    "      folder of PATH (an empty entry is skipped).\n"
    "\n"
    "Exit status: 0 done; 1 refused or failed; 2 wrong usage.\n";

int Fail(const std::string& message) {
  std::fprintf(stderr, "make_launcher: %s\n", message.c_str());
  return 1;
}

int Usage() {
  std::fputs(kUsage, stderr);
  std::fputs("make_launcher --help tells more.\n", stderr);
  return 2;
}

int Help() {
  std::fputs(kUsage, stdout);
  std::fputs(kRules, stdout);
  return 0;
}

int Version() {
  std::fputs("make_launcher " MORVEX_VERSION "\n", stdout);
  return 0;
}

void Print(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); }

std::string Quoted(const WideString& text) { return "\"" + WideToUtf8(text) + "\""; }

// Why the launcher could not start this command as written, or nothing. The
// reader takes the text behind the last "#!" up to the first 0x00 byte and
// decodes it as UTF-8 only when it is valid.
std::string CommandProblem(const std::string& command) {
  const std::vector<WideString> tokens = SplitCommandLine(Utf8ToWide(command));
  if (tokens.empty() || tokens[0].empty()) return "the command names no program";
  if (command.find('\0') != std::string::npos)
    return "the command holds a 0x00 byte, which the launcher could not read back";
  if (command.find("#!") != std::string::npos)
    return "the command holds \"#!\", which the launcher could not read back";
  if (!IsValidUtf8(command)) return "the command is not valid Unicode text";
  return std::string();
}

// Why a raw command line is refused beyond CommandProblem, or nothing.
std::string RawCommandProblem(const WideString& command) {
  const size_t end = SpacedProgramPathEnd(command);
  if (end == 0) return std::string();
  return "the program path " + Quoted(command.substr(0, command.find_first_of(Utf8ToWide(" \t")))) +
         " seems to go on past a blank, where starting it would guess its end; quote it: " +
         Quoted(command.substr(0, end)) + WideToUtf8(command.substr(end));
}

// Why the stub cannot be made into a launcher, or nothing. A signed stub
// has its certificate table cut off and its directory entry cleared, and
// signedStub is set: a launcher is signed after its trailer is in place.
std::string PrepareStub(const WideString& path, std::string& image, bool& signedStub) {
  const std::string name = Quoted(path);
  if (!ReadWholeFile(path, image)) return "cannot read the stub " + name;
  if (!IsExecutableImage(image))
    return "the stub " + name + " is not an executable image (a PE image for x86-64 or an ELF " +
           "executable)";
  size_t tableOffset, tableSize, entryOffset;
  signedStub =
      FindCertificateTable(image.data(), image.size(), tableOffset, tableSize, entryOffset);
  if (signedStub) {
    if (tableOffset + tableSize != image.size())
      return "the stub " + name + " is signed and its certificate table is not at the end of " +
             "the file, so the signature cannot be removed";
    image.resize(tableOffset);
    image.replace(entryOffset, 8, 8, '\0');
  }
  if (HoldsAppendedTrailer(image))
    return "the stub " + name +
           " already holds a launch trailer; make launchers from the plain stub";
  return std::string();
}

// Writes the launcher beside its final name and renames it into place, so
// that a failure leaves no half-written launcher under that name.
std::string WriteLauncher(const WideString& output, const std::string& image) {
  WideString temporary;
  std::FILE* file = nullptr;
  for (int n = 0; !file && n < 100; ++n) {
    temporary = output + Utf8ToWide(".tmp" + std::to_string(n));
    file = CreateNewFile(temporary);
  }
  if (!file) return "cannot make a temporary file beside " + Quoted(output);
  const bool written = std::fwrite(image.data(), 1, image.size(), file) == image.size();
  if (std::fclose(file) == 0 && written && MakeExecutable(temporary) &&
      MoveFileOnto(temporary, output))
    return std::string();
  RemoveFile(temporary);
  return "cannot write " + Quoted(output);
}

int MakeLauncher(const WideString& stub, const WideString& output, const std::string& command) {
  std::string problem = CommandProblem(command);
  if (!problem.empty()) return Fail(problem);
  if (SameFile(stub, output)) return Fail("the output " + Quoted(output) + " is the stub itself");
  std::string image;
  bool signedStub = false;
  problem = PrepareStub(stub, image, signedStub);
  if (!problem.empty()) return Fail(problem);
  image += "#!" + command + '\0';
  problem = WriteLauncher(output, image);
  if (!problem.empty()) return Fail(problem);
  if (signedStub)
    std::fprintf(stderr,
                 "make_launcher: note: the stub %s was signed; %s is made without the signature: "
                 "sign the launcher after it is made\n",
                 Quoted(stub).c_str(), Quoted(output).c_str());
  return 0;
}

int MakeFromRawCommand(const WideString& stub, const WideString& output,
                       const WideString& command) {
  const std::string problem = RawCommandProblem(command);
  return problem.empty() ? MakeLauncher(stub, output, WideToUtf8(command)) : Fail(problem);
}

int MakeFromTokens(const WideString& stub, const WideString& output,
                   const std::vector<WideString>& tokens) {
  if (tokens.empty() || tokens[0].empty()) return Fail("the command names no program");
  // The program token has no escapes, so a quote in it would end it early.
  if (tokens[0].find('"') != WideString::npos)
    return Fail("the program " + Quoted(tokens[0]) + " holds a double quote");
  return MakeLauncher(stub, output, WideToUtf8(JoinCommandLine(tokens)));
}

// Reads the launch command of a launcher file; why it cannot, or nothing.
std::string LaunchCommandProblem(const WideString& path, std::string& command) {
  switch (ReadLaunchCommand(path, command)) {
    case kLauncherUnreadable:
      return "cannot read " + Quoted(path);
    case kNoLaunchTrailer:
      return Quoted(path) + " holds no launch trailer";
    default:
      return std::string();
  }
}

int ShowLaunchCommand(const WideString& path) {
  std::string command;
  const std::string problem = LaunchCommandProblem(path, command);
  if (!problem.empty()) return Fail(problem);
  Print(command + "\n");
  return 0;
}

int CheckLauncher(const WideString& path) {
  std::string command;
  const std::string problem = LaunchCommandProblem(path, command);
  if (!problem.empty()) return Fail(problem);
  const std::vector<WideString> tokens = SplitCommandLine(Utf8OrAnsiToWide(command));
  Print("command: " + command + "\ntokens:\n");
  for (size_t i = 0; i < tokens.size(); ++i)
    Print("  [" + std::to_string(i) + "] " + Quoted(tokens[i]) + "\n");
  if (tokens.empty() || tokens[0].empty()) return Fail("the launch command names no program");
  WideString program;
  std::vector<WideString> candidates;
  FindProgramFile(tokens[0], path, program, candidates);
  if (!program.empty()) {
    Print("program: " + WideToUtf8(program) + "\n");
    return 0;
  }
  Print("program: not found; looked for:\n");
  for (const WideString& candidate : candidates) Print("  " + WideToUtf8(candidate) + "\n");
  return Fail("the program " + Quoted(tokens[0]) + " will not be found");
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  const std::vector<WideString> arguments = CommandLineArguments();
  const std::string first = arguments.empty() ? std::string() : WideToUtf8(arguments[0]);

  if (first == "--help" || first == "--version") {
    if (arguments.size() != 1) return Usage();
    return first == "--help" ? Help() : Version();
  }
  if (first == "--show" || first == "--check") {
    if (arguments.size() != 2) return Usage();
    return first == "--show" ? ShowLaunchCommand(arguments[1]) : CheckLauncher(arguments[1]);
  }
  if (arguments.size() >= 3 && WideToUtf8(arguments[2]) == "--")
    return MakeFromTokens(arguments[0], arguments[1],
                          std::vector<WideString>(arguments.begin() + 3, arguments.end()));
  if (arguments.size() == 3) return MakeFromRawCommand(arguments[0], arguments[1], arguments[2]);
  return Usage();
}
