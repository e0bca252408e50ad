// Loading DLLs from System32 only, imports included.
#pragma once

#include <windows.h>

// Loads a DLL from System32, after loading from there every DLL that it
// imports (and that is not loaded yet), so that no import of it is ever
// resolved from the program's own folder.
HMODULE LoadSystemLibrary(const wchar_t* name);
