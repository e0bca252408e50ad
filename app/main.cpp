// Entry point of the setup program.
#include <windows.h>

#include "app/launch.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // Setup files are started from Downloads folders, where other programs may
  // have dropped DLLs: from here on, DLLs come from System32 only. Everything
  // that is not always loaded from there is delay-loaded, after this call.
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  return RunSetup(GetCommandLineW());
}
