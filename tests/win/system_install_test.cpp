// The install sequence run in this process over the packed setup file: the
// differences between a window install, a silent install and an update, and
// the failure to write the uninstaller.
#include <aclapi.h>
#include <objbase.h>
#include <sddl.h>
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

// True when the folder's own DACL lets every application package
// (S-1-15-2-2) read and execute, inherited by its files and sub-folders.
bool GrantsPackagesReadExecute(const std::wstring& folder) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                            &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
    return false;
  PSID packages = nullptr;
  ConvertStringSidToSidW(L"S-1-15-2-2", &packages);
  const DWORD rx = FILE_GENERIC_READ | FILE_GENERIC_EXECUTE;
  const BYTE inherit = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
  bool found = false;
  for (DWORD i = 0; dacl && packages && i < dacl->AceCount && !found; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    if (!GetAce(dacl, i, reinterpret_cast<void**>(&ace)) || ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE)
      continue;
    found = EqualSid(&ace->SidStart, packages) && (ace->Mask & rx) == rx &&
            (ace->Header.AceFlags & inherit) == inherit && !(ace->Header.AceFlags & INHERIT_ONLY_ACE);
  }
  LocalFree(packages);
  LocalFree(descriptor);
  return found;
}

// The same grant written through the security API, for a folder of the test's own.
bool GrantThroughApi(const std::wstring& folder) {
  PSID packages = nullptr;
  if (!ConvertStringSidToSidW(L"S-1-15-2-2", &packages)) return false;
  EXPLICIT_ACCESSW access = {};
  access.grfAccessPermissions = FILE_GENERIC_READ | FILE_GENERIC_EXECUTE;
  access.grfAccessMode = GRANT_ACCESS;
  access.grfInheritance = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
  access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
  access.Trustee.ptstrName = static_cast<LPWSTR>(packages);
  PACL dacl = nullptr;
  bool ok =
      SetEntriesInAclW(1, &access, nullptr, &dacl) == ERROR_SUCCESS &&
      SetNamedSecurityInfoW(const_cast<wchar_t*>(folder.c_str()), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                            nullptr, nullptr, dacl, nullptr) == ERROR_SUCCESS;
  LocalFree(dacl);
  LocalFree(packages);
  return ok;
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

TEST_F(InstallTest, InstallFolderGrantsApplicationPackagesReadAndExecute) {
  ASSERT_TRUE(RunInstall());
  // Wine derives a file's DACL from its Unix mode bits: a grant written
  // through the security API reads back as owner, SYSTEM and Everyone only
  // (and Wine's icacls.exe is a stub that reports success and changes
  // nothing). Where a grant of our own cannot be seen, neither can the
  // installer's.
  const std::wstring own = dir + L"-own-grant";
  CreateDirectories(own);
  if (!GrantThroughApi(own) || !GrantsPackagesReadExecute(own))
    GTEST_SKIP() << "this file system shows no ACL granted to S-1-15-2-2 (Wine keeps only Unix mode bits)";
  EXPECT_TRUE(GrantsPackagesReadExecute(dir));
}

}  // namespace
