#include "process_arguments.h"

#ifndef _WIN32

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
