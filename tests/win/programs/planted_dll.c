/* A DLL that someone could drop beside a downloaded setup file. When loaded
   it leaves a marker file, whose folder NORVALE_MARKER_DIR names, so a test
   can tell whether the setup program ever loaded it. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)reserved;
  if (reason == DLL_PROCESS_ATTACH) {
    wchar_t dir[MAX_PATH], self[MAX_PATH], marker[2 * MAX_PATH];
    if (GetEnvironmentVariableW(L"NORVALE_MARKER_DIR", dir, MAX_PATH) == 0) return TRUE;
    GetModuleFileNameW(instance, self, MAX_PATH);
    const wchar_t* name = wcsrchr(self, L'\\');
    wsprintfW(marker, L"%s\\loaded-%s.txt", dir, name ? name + 1 : self);
    HANDLE file = CreateFileW(marker, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  }
  return TRUE;
}
