#include "process_arguments.h"

#include <cstdlib>

#ifdef _WIN32

int ProcessArgumentCount() { return __argc; }

char** ProcessArgumentVector() { return __argv; }

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

#endif
