/* A program that someone could drop beside a downloaded setup file, in the
   current folder or in the temporary folder, under the name of a system tool
   (icacls.exe, cmd.exe, ping.exe). When started it leaves a marker file in
   the folder NORVALE_MARKER_DIR names, so a test can tell whether the setup
   program ever started it, and exits with 0 as the real tool would. */
#include <windows.h>

int wmain(void) {
  wchar_t dir[MAX_PATH], self[MAX_PATH], marker[2 * MAX_PATH];
  if (GetEnvironmentVariableW(L"NORVALE_MARKER_DIR", dir, MAX_PATH) == 0) return 0;
  GetModuleFileNameW(NULL, self, MAX_PATH);
  const wchar_t* name = wcsrchr(self, L'\\');
  wsprintfW(marker, L"%s\\started-%s.txt", dir, name ? name + 1 : self);
  HANDLE file = CreateFileW(marker, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  return 0;
}
