// Small helpers shared by the Windows tests.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

// A fresh folder under the temporary folder of the Wine prefix, removed again
// when the test ends.
struct TempFolder {
  TempFolder();
  ~TempFolder();
  std::wstring path;
};

// A file of the build's out folder, as a Windows path (drive Z: under Wine).
std::wstring OutPath(const std::wstring& name);

std::vector<uint8_t> ReadFileBytes(const std::wstring& path);
bool WriteFileBytes(const std::wstring& path, const std::vector<uint8_t>& bytes);

// Starts a command line and waits for it; the exit code, or -1 when it could
// not start or did not end within the time.
int RunAndWait(const std::wstring& commandLine, DWORD timeoutMs = 60000);

std::string Narrow(const std::wstring& text);

// Closes `handle` after `ms` milliseconds, on a thread the caller joins: a
// file another program lets go of while the code under test waits for it.
inline std::thread CloseAfter(HANDLE handle, DWORD ms) {
  return std::thread([handle, ms] {
    Sleep(ms);
    CloseHandle(handle);
  });
}
