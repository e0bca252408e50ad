/* The control of the planting test: a program that loads a DLL by name the
   ordinary way, which finds one planted beside it. It proves that the planted
   DLLs and the Wine overrides would be picked up by a careless program. */
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  HMODULE module = LoadLibraryW(argv[1]);
  return module ? 0 : 1;
}
