#include "process_arguments.h"

#include <cstdlib>

#include "code_page.h"
#include "command_line.h"
#include "text.h"
#include "win32.h"

std::vector<WideString> WideArgumentVector() { return SplitArgumentVector(GetCommandLineW()); }

#ifdef _WIN32

int ProcessArgumentCount() { return __argc; }

char** ProcessArgumentVector() { return __argv; }

bool NarrowArgument(const WideString& argument, std::string& bytes) {
  return WideToAnsiExactly(argument, bytes);
}

#else

namespace {

int argumentCount = 0;
char** argumentVector = nullptr;

}  // namespace

void RememberProcessArguments(int argc, char** argv) {
  argumentCount = argc;
  argumentVector = argv;
}

int ProcessArgumentCount() { return argumentCount; }

char** ProcessArgumentVector() { return argumentVector; }

// The stand-in's command line holds the arguments decoded as UTF-8, which
// gives back every byte string.
bool NarrowArgument(const WideString& argument, std::string& bytes) {
  bytes = WideToUtf8(argument);
  return true;
}

#endif
