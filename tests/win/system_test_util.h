// Shared by the system tests: the stand-in product, folders inside the Wine
// prefix, and small waits.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "app/helpers.h"
#include "support/test_support.h"

namespace systest {

inline std::wstring Widen(const char* text) {
  int n = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
  std::wstring out(n > 0 ? n - 1 : 0, L'\0');
  if (n > 1) MultiByteToWideChar(CP_UTF8, 0, text, -1, out.data(), n);
  return out;
}

// The Linux out folder seen from Wine (drive Z:), for reading only.
inline std::wstring OutDir() {
  std::wstring dir = L"Z:" + Widen(NORVALE_OUT_DIR);
  for (wchar_t& c : dir)
    if (c == L'/') c = L'\\';
  return dir;
}

inline std::wstring StandinExe() { return OutDir() + L"\\product\\Norvale-Lockra.exe"; }

// True only inside a throwaway prefix made by ./run (a temporary folder):
// the tests that aim the uninstall at broad folders run only there.
inline bool InThrowawayPrefix() {
  wchar_t prefix[1024];
  DWORD n = GetEnvironmentVariableW(L"WINEPREFIX", prefix, 1024);
  return n > 0 && n < 1024 && wcsncmp(prefix, L"/tmp/", 5) == 0;
}

// A fresh, empty folder under C:\NorvaleTests (inside the prefix).
inline std::wstring FreshFolder(const std::wstring& name) {
  std::wstring dir = L"C:\\NorvaleTests\\" + name;
  RemoveTree(dir);
  CreateDirectories(dir);
  return dir;
}

inline void WriteFileText(const std::wstring& path, const std::string& text) {
  CreateDirectories(ParentDirectory(path));
  HANDLE f =
      CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(f, INVALID_HANDLE_VALUE) << "cannot write a test file";
  DWORD written = 0;
  WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(f);
}

inline std::string ReadFileText(const std::wstring& path) {
  std::string text;
  HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return text;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(f, buffer, sizeof(buffer), &got, nullptr) && got > 0) text.append(buffer, got);
  CloseHandle(f);
  return text;
}

inline std::wstring ReadFileWide(const std::wstring& path) { return Widen(ReadFileText(path).c_str()); }

// The stand-in's log for this test program; children inherit the variable.
inline std::wstring UseFreshStandinLog(const std::wstring& name) {
  std::wstring log = FreshFolder(L"logs-" + name) + L"\\standin.log";
  SetEnvironmentVariableW(L"NORVALE_STANDIN_LOG", log.c_str());
  return log;
}

inline size_t CountOccurrences(const std::wstring& text, const std::wstring& what) {
  size_t count = 0;
  for (size_t pos = text.find(what); pos != std::wstring::npos; pos = text.find(what, pos + 1)) ++count;
  return count;
}

// Copies the stand-in to `folder` and starts it there; the handle is the caller's.
inline HANDLE StartStandinIn(const std::wstring& folder, const std::wstring& args) {
  CreateDirectories(folder);
  std::wstring exe = folder + L"\\Norvale-Lockra.exe";
  if (!FileExists(exe)) CopyFileW(StandinExe().c_str(), exe.c_str(), FALSE);
  std::wstring line = L"\"" + exe + L"\" " + args;
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &si, &pi))
    return nullptr;
  CloseHandle(pi.hThread);
  return pi.hProcess;
}

inline int CountTrayWindows() {
  int count = 0;
  HWND w = nullptr;
  while ((w = FindWindowExW(nullptr, w, L"NorvaleLockraTray", L"Norvale Lockra")) != nullptr) ++count;
  return count;
}

// Waits until `count` tray windows exist (the stand-ins are ready).
inline bool WaitForTrayWindows(int count, DWORD timeoutMs = 15000) {
  ULONGLONG end = GetTickCount64() + timeoutMs;
  while (GetTickCount64() < end) {
    if (CountTrayWindows() >= count) return true;
    Sleep(50);
  }
  return CountTrayWindows() >= count;
}

inline bool IsRunning(HANDLE process) { return WaitForSingleObject(process, 0) == WAIT_TIMEOUT; }

inline void EndAndClose(HANDLE process) {
  if (!process) return;
  if (IsRunning(process)) {
    TerminateProcess(process, 1);
    WaitForSingleObject(process, 5000);
  }
  CloseHandle(process);
}

inline bool WaitForText(const std::wstring& logPath, const std::wstring& text, size_t times,
                        DWORD timeoutMs) {
  ULONGLONG end = GetTickCount64() + timeoutMs;
  do {
    if (CountOccurrences(ReadFileWide(logPath), text) >= times) return true;
    Sleep(50);
  } while (GetTickCount64() < end);
  return false;
}

inline std::wstring StatusText();
inline std::wstring ErrorText();

}  // namespace systest

#include "app/state.h"

inline std::wstring systest::StatusText() {
  std::lock_guard<std::mutex> lock(InstallerState.statusMutex);
  return InstallerState.statusText;
}

inline std::wstring systest::ErrorText() {
  std::lock_guard<std::mutex> lock(InstallerState.statusMutex);
  return InstallerState.errorText;
}
