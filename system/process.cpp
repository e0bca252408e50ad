#include "system/process.h"

#include <windows.h>
// after windows.h, which it needs
#include <tlhelp32.h>

#include <functional>
#include <vector>

#include "app/log.h"
#include "app/state.h"
#include "app/texts.h"
#include "app/verdict.h"

namespace {

constexpr UINT kQuitRequest = WM_APP + 4;  // 0x8004, understood by the product's tray window
constexpr wchar_t kTrayClass[] = L"NorvaleLockraTray";
constexpr wchar_t kTrayTitle[] = L"Norvale Lockra";
constexpr DWORD kProcessAccess = SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE;
constexpr DWORD kImagePathChars = 520;
constexpr DWORD kTerminateWaitMs = 5000;
constexpr DWORD kSettleMs = 300;
constexpr DWORD kHiddenToolWaitMs = 60000;

wchar_t FoldAscii(wchar_t c) { return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

}  // namespace

bool AskTrayToQuit() {
  bool found = false;
  HWND window = nullptr;
  while ((window = FindWindowExW(nullptr, window, kTrayClass, kTrayTitle)) != nullptr) {
    PostMessageW(window, kQuitRequest, 0, 0);
    found = true;
  }
  LogLine(found ? L"tray application asked to quit" : L"no tray application running");
  return found;
}

// Letters A to Z compare without case; every other character must be equal, so
// the result never depends on the user's locale ("É" and "é" differ).
bool PathStartsWith(const std::wstring& path, const std::wstring& prefix) {
  if (path.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (FoldAscii(path[i]) != FoldAscii(prefix[i])) return false;
  return true;
}

bool PathEquals(const std::wstring& a, const std::wstring& b) {
  return a.size() == b.size() && PathStartsWith(a, b);
}

static void CloseProcessesMatching(const std::function<bool(const std::wstring& image)>& matches,
                                   uint32_t gracePeriodMs) {
  std::vector<HANDLE> matched;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot != INVALID_HANDLE_VALUE) {
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    const DWORD self = GetCurrentProcessId();
    // The uninstaller that waits for this copy's verdict is never ended.
    const DWORD waiting = FirstProcessId();
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
      if (entry.th32ProcessID == self || (waiting != 0 && entry.th32ProcessID == waiting)) continue;
      HANDLE process = OpenProcess(kProcessAccess, FALSE, entry.th32ProcessID);
      if (!process) continue;
      wchar_t image[kImagePathChars];
      DWORD length = kImagePathChars;
      if (!QueryFullProcessImageNameW(process, 0, image, &length)) {
        CloseHandle(process);
        continue;
      }
      if (matches(std::wstring(image, length))) {
        LogFormat(L"running copy: %ls (process %lu)", std::wstring(image, length).c_str(),
                  entry.th32ProcessID);
        matched.push_back(process);
      } else {
        CloseHandle(process);
      }
    }
    CloseHandle(snapshot);
  }
  LogFormat(L"running copies to close: %zu", matched.size());
  if (matched.empty()) return;

  SetStatus(ClosingProductStatus());
  // One deadline for all of them: the grace period is the time the tray
  // application has to quit by itself, not an allowance per process.
  const ULONGLONG deadline = GetTickCount64() + gracePeriodMs;
  for (HANDLE process : matched) {
    ULONGLONG now = GetTickCount64();
    DWORD remaining = deadline > now ? static_cast<DWORD>(deadline - now) : 0;
    if (WaitForSingleObject(process, remaining) != WAIT_OBJECT_0) {
      LogFormat(L"process %lu still running after the grace period: ended", GetProcessId(process));
      TerminateProcess(process, 0);
      WaitForSingleObject(process, kTerminateWaitMs);
    }
    CloseHandle(process);
  }
  Sleep(kSettleMs);
}

void CloseRunningCopies(const std::wstring& folder, uint32_t gracePeriodMs) {
  // The trailing separator keeps a sibling such as "...\Lockra 2" out.
  const std::wstring prefix = folder + L"\\";
  CloseProcessesMatching([&](const std::wstring& image) { return PathStartsWith(image, prefix); },
                         gracePeriodMs);
}

void CloseRunningProduct(const std::wstring& exePath, uint32_t gracePeriodMs) {
  CloseRunningFiles({exePath}, gracePeriodMs);
}

void CloseRunningFiles(const std::vector<std::wstring>& paths, uint32_t gracePeriodMs) {
  CloseProcessesMatching(
      [&](const std::wstring& image) {
        for (const std::wstring& path : paths)
          if (PathEquals(image, path)) return true;
        return false;
      },
      gracePeriodMs);
}

std::wstring SystemToolPath(const wchar_t* program) {
  wchar_t folder[MAX_PATH];
  UINT n = GetSystemDirectoryW(folder, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return std::wstring();
  return std::wstring(folder, n) + L"\\" + program;
}

void LaunchProduct(const std::wstring& exePath, const std::wstring& workingDir,
                   const std::wstring& arguments) {
  std::wstring commandLine = L"\"" + exePath + L"\"";
  if (!arguments.empty()) commandLine += L" " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  const bool started = CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                      workingDir.c_str(), &startup, &info);
  const DWORD error = started ? 0 : GetLastError();
  LogResult(L"started " + commandLine, error);
  if (started) {
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
  }
}

void RunHiddenAndWaitFor(const std::wstring& program, const std::wstring& commandLine, uint32_t timeoutMs) {
  // The program is named in full and started from its own folder, so that
  // nothing planted beside the setup file or in the current folder runs.
  if (program.empty()) return;
  const std::wstring folder = program.substr(0, program.find_last_of(L'\\'));
  std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
  buffer.push_back(L'\0');
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(program.c_str(), buffer.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                      folder.c_str(), &startup, &info))
    return LogFailure(L"cannot start", commandLine);
  LogProgramEnd(commandLine, info.hProcess, WaitForSingleObject(info.hProcess, timeoutMs));
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
}

void RunHiddenAndWait(const std::wstring& program, const std::wstring& commandLine) {
  RunHiddenAndWaitFor(program, commandLine, kHiddenToolWaitMs);
}
