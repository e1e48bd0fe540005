// Makes a concrete launcher from the launcher stub, or shows the launch
// command of an existing one.
//
//   make_launcher STUB OUTPUT COMMAND   copy STUB to OUTPUT, then append "#!",
//                                       COMMAND (as UTF-8) and a 0x00 byte
//   make_launcher --show LAUNCHER       print the launch command
#include <cstdio>
#include <string>
#include <vector>

#include "launch_command.h"
#include "platform.h"

namespace {

int Fail(const std::string& message) {
  std::fprintf(stderr, "make_launcher: %s\n", message.c_str());
  return 1;
}

bool WriteFile(const WideString& path, const std::string& bytes) {
  std::FILE* file = OpenFile(path, "wb");
  if (!file) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && written;
}

// The reader takes the text behind the last "#!" up to the first 0x00 byte,
// so a command holding either could not be read back as written.
std::string CheckCommand(const std::string& command) {
  if (command.find('\0') != std::string::npos) return "the command holds a 0x00 byte";
  if (command.find("#!") != std::string::npos) return "the command holds \"#!\"";
  return std::string();
}

int MakeLauncher(const WideString& stub, const WideString& output, const std::string& command) {
  const std::string problem = CheckCommand(command);
  if (!problem.empty()) return Fail(problem + ", which the launcher could not read back");
  std::string image;
  if (!ReadWholeFile(stub, image)) return Fail("cannot read the stub " + WideToUtf8(stub));
  image += "#!";
  image += command;
  image += '\0';
  if (!WriteFile(output, image)) return Fail("cannot write " + WideToUtf8(output));
  return MakeExecutable(output) ? 0 : Fail("cannot make " + WideToUtf8(output) + " executable");
}

int ShowLaunchCommand(const WideString& path) {
  std::string image;
  if (!ReadWholeFile(path, image)) return Fail("cannot read " + WideToUtf8(path));
  std::string command;
  if (!FindLaunchCommand(image.data(), image.size(), command))
    return Fail(WideToUtf8(path) + " holds no launch trailer");
  std::fwrite(command.data(), 1, command.size(), stdout);
  std::fputc('\n', stdout);
  return 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  int count = 0;
  LPWSTR* vector = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<WideString> arguments;
  for (int i = 1; vector && i < count; ++i) arguments.emplace_back(vector[i]);
  LocalFree(vector);

  if (arguments.size() == 2 && WideToUtf8(arguments[0]) == "--show")
    return ShowLaunchCommand(arguments[1]);
  if (arguments.size() == 3)
    return MakeLauncher(arguments[0], arguments[1], WideToUtf8(arguments[2]));
  std::fputs(
      "usage: make_launcher STUB OUTPUT COMMAND\n"
      "       make_launcher --show LAUNCHER\n",
      stderr);
  return 2;
}
