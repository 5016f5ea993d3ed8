// The DLL entry point of both modules: nothing to set up or tear down.
#ifdef _WIN32
#include "platform.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD /*reason*/, LPVOID /*reserved*/) {
  return TRUE;
}
#endif
