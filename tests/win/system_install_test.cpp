// The install sequence run in this process over the packed setup file: the
// differences between a window install, a silent install and an update, and
// the failure to write the uninstaller.
#include <objbase.h>
#include <shlobj.h>

#include "package/package.h"
#include "system/registration.h"
#include "system/sequences.h"
#include "system/shortcuts.h"
#include "system_test_util.h"

using namespace systest;

namespace {

bool KeyExists(const wchar_t* key) {
  HKEY h;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, key, 0, KEY_READ, &h) != ERROR_SUCCESS) return false;
  RegCloseKey(h);
  return true;
}

std::wstring ErrorText() {
  std::lock_guard<std::mutex> lock(InstallerState.statusMutex);
  return InstallerState.errorText;
}

class InstallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::wstring setup = OutDir() + L"\\Norvale-Lockra-Setup.exe";
    ASSERT_TRUE(FileExists(setup)) << "the setup file has not been built (stub or packer missing)";
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    log = UseFreshStandinLog(L"install");
    InstallerState.selfPath = setup;
    ASSERT_TRUE(ReadPackageIndex());
    dir = FreshFolder(L"install\\Norvale Lockra");
    InstallerState.installDir = dir;
    InstallerState.mode = Install;
    InstallerState.silent = false;
    InstallerState.createDesktopShortcut = true;
    InstallerState.bytesDone = 0;
    SetErrorText(L"");
    DeleteUninstallEntry();
    DeleteShortcut(StartMenuShortcutPath());
    DeleteShortcut(DesktopShortcutPath());
  }
  void TearDown() override {
    DeleteUninstallEntry();
    DeleteShortcut(StartMenuShortcutPath());
    DeleteShortcut(DesktopShortcutPath());
    RemoveTree(L"C:\\NorvaleTests\\install");
    CoUninitialize();
  }
  std::wstring log, dir;
};

TEST_F(InstallTest, WindowInstallMakesBothShortcutsAndUsesTheShortGrace) {
  HANDLE stubborn = StartStandinIn(dir, L"--ignore-quit");
  ASSERT_TRUE(WaitForTrayWindows(1));
  ULONGLONG t0 = GetTickCount64();
  EXPECT_TRUE(RunInstall());
  ULONGLONG elapsed = GetTickCount64() - t0;
  EXPECT_EQ(WaitForSingleObject(stubborn, 0), WAIT_OBJECT_0) << "ended after the grace period";
  EndAndClose(stubborn);
  EXPECT_LT(elapsed, 15000u) << "1.5 s of grace in a window install, not 20 s";
  EXPECT_EQ(StatusText(), L"Termin\u00e9");
  EXPECT_EQ(ErrorText(), L"");
  EXPECT_TRUE(FileExists(dir + L"\\uninstall.exe"));
  EXPECT_TRUE(FileExists(StartMenuShortcutPath()));
  EXPECT_TRUE(FileExists(DesktopShortcutPath()));
  EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, kUninstallKey, L"InstallLocation"), dir);
  // The tray was running at the start: the product comes back in the background.
  EXPECT_TRUE(WaitForText(log, L"args=[--background]", 1, 15000));
  WaitForTrayWindows(1);
  RunUninstall();  // ends the relaunched copy
}

TEST_F(InstallTest, NoDesktopShortcutUntickedSilentOrUpdate) {
  InstallerState.createDesktopShortcut = false;
  EXPECT_TRUE(RunInstall());
  EXPECT_TRUE(FileExists(StartMenuShortcutPath()));
  EXPECT_FALSE(FileExists(DesktopShortcutPath()));

  InstallerState.createDesktopShortcut = true;
  InstallerState.silent = true;
  EXPECT_TRUE(RunInstall());
  EXPECT_FALSE(FileExists(DesktopShortcutPath()));

  InstallerState.silent = false;
  InstallerState.mode = Update;
  EXPECT_TRUE(RunInstall());
  EXPECT_FALSE(FileExists(DesktopShortcutPath()));
  EXPECT_EQ(CountOccurrences(ReadFileWide(log), L"start "), 0u) << "no tray was running: no relaunch";
}

TEST_F(InstallTest, UninstallerWriteFailureStopsBeforeRegistration) {
  CreateDirectories(dir + L"\\uninstall.exe");
  WriteFileText(dir + L"\\uninstall.exe\\occup\u00e9.txt", "x");
  EXPECT_FALSE(RunInstall());
  EXPECT_EQ(ErrorText(), L"Impossible de cr\u00e9er le d\u00e9sinstalleur.");
  EXPECT_FALSE(KeyExists(kUninstallKey));
  EXPECT_FALSE(FileExists(StartMenuShortcutPath()));
  EXPECT_FALSE(FileExists(DesktopShortcutPath()));
  EXPECT_NE(StatusText(), L"Termin\u00e9");
}

}  // namespace
