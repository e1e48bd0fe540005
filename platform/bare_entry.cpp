// The process entry of a Windows program that carries none of the C
// runtime's start-up code (the launcher stub, copied into every concrete
// launcher, pays for each byte on every start). It makes no argument vector
// and runs no static constructors, so such a program has neither; the C
// library itself is ready, being a DLL that starts on its own.
#include "win32.h"

extern "C" void BareEntry() {
  static char noArguments[] = "";
  ExitProcess(static_cast<UINT>(WinMain(GetModuleHandleW(nullptr), nullptr, noArguments, 0)));
}
