// One run at a time: while another process holds the lock, a silent run
// waits a little, then changes nothing and fails; a window holds the lock
// from the moment it opens; a holder that crashed leaves the lock free.
#include "app/setup_lock.h"
#include "system/install_record.h"
#include "system_test_util.h"

using namespace systest;

namespace {

HANDLE Start(const std::wstring& exe, const std::wstring& switches) {
  std::wstring line = L"\"" + exe + L"\" " + switches;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION child{};
  if (!CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &child))
    return nullptr;
  CloseHandle(child.hThread);
  return child.hProcess;
}

DWORD ExitCodeOf(HANDLE process) {
  WaitForSingleObject(process, 60000);
  DWORD code = 259;
  GetExitCodeProcess(process, &code);
  CloseHandle(process);
  return code;
}

TEST(SetupLock, SilentRunWaitsThenChangesNothing) {
  const std::wstring stub = OutPath(L"setup-stub.exe");
  const std::wstring dir = FreshFolder(L"verrou\\Norvale Lockra");
  ASSERT_TRUE(CopyFileW(stub.c_str(), (dir + L"\\Norvale-Lockra.exe").c_str(), FALSE));
  InstallRecord record;
  record.createdFolder = true;
  record.files = {L"Norvale-Lockra.exe", kInstallRecordName};
  ASSERT_TRUE(WriteInstallRecord(dir, record));
  const std::wstring copy = FreshFolder(L"verrou\\ailleurs") + L"\\uninstall.exe";
  ASSERT_TRUE(CopyFileW(stub.c_str(), copy.c_str(), FALSE));
  const std::wstring switches = L"/S /uninstall /dir=\"" + dir + L"\"";

  ASSERT_TRUE(TakeSetupLock(0));
  const ULONGLONG t0 = GetTickCount64();
  EXPECT_EQ(ExitCodeOf(Start(copy, switches)), 1u);
  EXPECT_GE(GetTickCount64() - t0, 9000u) << "a silent run waits for the lock";
  EXPECT_TRUE(FileExists(dir + L"\\Norvale-Lockra.exe"));
  ReleaseSetupLock();
  EXPECT_EQ(ExitCodeOf(Start(copy, switches)), 0u);
  EXPECT_FALSE(FileExists(dir));
}

TEST(SetupLock, AWindowHoldsItAndACrashFreesIt) {
  const std::wstring copy = FreshFolder(L"verrou\\fen\u00eatre") + L"\\uninstall.exe";
  ASSERT_TRUE(CopyFileW(OutPath(L"setup-stub.exe").c_str(), copy.c_str(), FALSE));
  HANDLE window = Start(copy, L"/uninstall /dir=C:\\NorvaleTests\\verrou\\rien");
  ASSERT_NE(window, nullptr);
  // The lock is taken before the window is made: once it shows, it is held.
  bool shown = false;
  for (ULONGLONG end = GetTickCount64() + 20000; !shown && GetTickCount64() < end; Sleep(100))
    shown = FindWindowW(nullptr, L"Norvale Lockra \u2014 D\u00e9sinstallation") != nullptr;
  ASSERT_TRUE(shown);
  EXPECT_FALSE(TakeSetupLock(0)) << "the open window holds the lock";
  TerminateProcess(window, 9);
  WaitForSingleObject(window, 5000);
  CloseHandle(window);
  EXPECT_TRUE(TakeSetupLock(2000)) << "the lock of a crashed holder is free";
  ReleaseSetupLock();
}

}  // namespace
