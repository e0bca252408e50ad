// The lock is a file in the user's temporary folder, opened without sharing
// and deleted when its last handle closes. A file handle, unlike a mutex's
// ownership, can be inherited: the relocated uninstaller holds the same lock
// as the uninstaller that started it, with no moment when a third run could
// take it.
#include "app/setup_lock.h"

#include <windows.h>

#include <string>

#include "app/decimal.h"
#include "app/helpers.h"
#include "app/log.h"
#include "app/state.h"
#include "app/texts.h"

namespace {

constexpr wchar_t kLockName[] = L"Norvale-Lockra-setup.lock";
constexpr wchar_t kHandOverVariable[] = L"NORVALE_SETUP_LOCK";
constexpr DWORD kRetryMs = 100;

HANDLE held = INVALID_HANDLE_VALUE;

std::wstring LockPath() {
  wchar_t temp[MAX_PATH + 1];
  DWORD n = GetTempPathW(MAX_PATH + 1, temp);
  if (n == 0 || n > MAX_PATH) return std::wstring();
  return std::wstring(temp, n) + kLockName;
}

HANDLE OpenLock(const std::wstring& path) {
  return CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                     FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
}

}  // namespace

bool TakeSetupLock(uint32_t waitMs) {
  if (held != INVALID_HANDLE_VALUE) return true;
  const std::wstring path = LockPath();
  // Without a temporary folder there is nothing to lock on: the run goes on.
  if (path.empty()) return true;
  const ULONGLONG deadline = GetTickCount64() + waitMs;
  for (;;) {
    held = OpenLock(path);
    if (held != INVALID_HANDLE_VALUE) return true;
    const DWORD error = GetLastError();
    if (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) return true;
    if (GetTickCount64() >= deadline) return false;
    Sleep(kRetryMs);
  }
}

bool TakeSetupLockForRun() {
  if (TakeSetupLock(InstallerState.silent ? kSilentLockWaitMs : 0)) return true;
  LogLine(L"another install, update or uninstall holds the lock: nothing changed");
  SetErrorText(kSetupBusyMessage);
  return false;
}

void PrepareLockHandOver() {
  if (held == INVALID_HANDLE_VALUE) return;
  SetHandleInformation(held, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  const std::wstring value = DecimalText(reinterpret_cast<uintptr_t>(held));
  SetEnvironmentVariableW(kHandOverVariable, value.c_str());
}

void AdoptHandedOverLock() {
  wchar_t value[32];
  const DWORD n = GetEnvironmentVariableW(kHandOverVariable, value, 32);
  SetEnvironmentVariableW(kHandOverVariable, nullptr);  // not passed on to the product
  if (n == 0 || n >= 32) return;
  HANDLE handle = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(wcstoull(value, nullptr, 10)));
  // Only a handle that really is the lock file counts: a variable alone
  // proves nothing.
  wchar_t name[MAX_PATH + 1];
  const DWORD length = GetFinalPathNameByHandleW(handle, name, MAX_PATH + 1, FILE_NAME_NORMALIZED);
  if (length == 0 || length > MAX_PATH) return;
  const std::wstring path(name, length);
  const size_t lockLength = wcslen(kLockName);
  if (path.size() < lockLength ||
      !SameTextIgnoringCase(std::wstring_view(path).substr(path.size() - lockLength), kLockName))
    return;
  SetHandleInformation(handle, HANDLE_FLAG_INHERIT, 0);
  held = handle;
}

void ReleaseSetupLock() {
  if (held == INVALID_HANDLE_VALUE) return;
  CloseHandle(held);
  held = INVALID_HANDLE_VALUE;
}
