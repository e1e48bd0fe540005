// The POSIX process entry: keeps the argument vector for the stand-ins and
// enters the program through WinMain, as the Windows start-up code does.
#include "process_arguments.h"
#include "win32.h"

int main(int argc, char** argv) {
  RememberProcessArguments(argc, argv);
  static char noArguments[] = "";
  return WinMain(nullptr, nullptr, noArguments, 0);
}
