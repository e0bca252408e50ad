#include "app/verdict.h"

#include <cwchar>
#include <string>

#include "app/decimal.h"
#include "app/log.h"

namespace {

constexpr wchar_t kVariable[] = L"NORVALE_UNINSTALL_VERDICT";
constexpr DWORD kFirstProcessEndMs = 30000;

HANDLE success = nullptr;
HANDLE failure = nullptr;
HANDLE firstProcess = nullptr;
bool reported = false;

HANDLE Inheritable(HANDLE handle) {
  HANDLE copy = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &copy, 0, TRUE,
                       DUPLICATE_SAME_ACCESS))
    return nullptr;
  return copy;
}

}  // namespace

bool PrepareVerdictChannel() {
  success = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  failure = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE self = Inheritable(GetCurrentProcess());
  if (!success || !failure || !self) return false;
  SetHandleInformation(success, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  SetHandleInformation(failure, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  const std::wstring value = DecimalText(reinterpret_cast<uintptr_t>(success)) + L"," +
                             DecimalText(reinterpret_cast<uintptr_t>(failure)) + L"," +
                             DecimalText(reinterpret_cast<uintptr_t>(self)) + L"," +
                             DecimalText(GetCurrentProcessId());
  return SetEnvironmentVariableW(kVariable, value.c_str());
}

int AwaitVerdict(HANDLE copy, DWORD waitMs) {
  const HANDLE waits[] = {success, failure, copy};
  const DWORD got = WaitForMultipleObjects(3, waits, FALSE, waitMs);
  if (got == WAIT_OBJECT_0) {
    LogLine(L"the relocated copy reports: uninstalled");
    return 0;
  }
  if (got == WAIT_OBJECT_0 + 1) {
    LogLine(L"the relocated copy reports: the uninstall failed");
    return 1;
  }
  if (got == WAIT_OBJECT_0 + 2) {
    DWORD code = 1;
    GetExitCodeProcess(copy, &code);
    LogLine(L"the relocated copy ended without a verdict, exit code " + DecimalText(code));
    return code == 0 ? 0 : 1;
  }
  LogLine(L"the relocated copy gave no verdict in time: exit code 1");
  return 1;
}

void AdoptVerdictChannel() {
  wchar_t value[128];
  const DWORD n = GetEnvironmentVariableW(kVariable, value, 128);
  SetEnvironmentVariableW(kVariable, nullptr);  // not passed on to the product
  if (n == 0 || n >= 128) return;
  unsigned long long parts[4] = {};
  wchar_t* at = value;
  for (unsigned long long& part : parts) {
    part = wcstoull(at, &at, 10);
    if (*at == L',') ++at;
  }
  HANDLE s = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(parts[0]));
  HANDLE f = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(parts[1]));
  HANDLE p = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(parts[2]));
  // A variable alone proves nothing: the process handle must be the named
  // process, and the events must be events this process holds.
  if (GetProcessId(p) != parts[3] || parts[3] == 0) return;
  if (WaitForSingleObject(s, 0) != WAIT_TIMEOUT || WaitForSingleObject(f, 0) != WAIT_TIMEOUT) return;
  success = s, failure = f, firstProcess = p;
  SetHandleInformation(success, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(failure, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(firstProcess, HANDLE_FLAG_INHERIT, 0);
}

unsigned long FirstProcessId() { return firstProcess ? GetProcessId(firstProcess) : 0; }

void ReportVerdict(bool ok) {
  if (!firstProcess || reported) return;
  reported = true;
  SetEvent(ok ? success : failure);
  LogLine(ok ? L"verdict sent to the first process: uninstalled"
             : L"verdict sent to the first process: failed");
}

void WaitForFirstProcessEnd() {
  if (!firstProcess) return;
  if (WaitForSingleObject(firstProcess, kFirstProcessEndMs) != WAIT_OBJECT_0)
    LogLine(L"the first process has not ended: its file may stay");
}
