// The uninstall sequence run in this process against a product laid out by
// hand inside the prefix.
#include <objbase.h>
#include <shlobj.h>

#include "system/process.h"
#include "system/registration.h"
#include "system/sequences.h"
#include "system/shortcuts.h"
#include "system_test_util.h"

using namespace systest;

namespace {

const wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

bool KeyExists(const wchar_t* key) {
  HKEY h;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, key, 0, KEY_READ, &h) != ERROR_SUCCESS) return false;
  RegCloseKey(h);
  return true;
}

class UninstallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    log = UseFreshStandinLog(L"uninstall");
    dir = FreshFolder(L"d\u00e9sinstall\u00e9\\Norvale Lockra");
    userData = UserDataFolder();
    ASSERT_FALSE(userData.empty());
    InstallerState.installDir = dir;
    InstallerState.version = L"3.0.0";
    InstallerState.bytesTotal = 0;
    InstallerState.bytesDone = 0;
    InstallerState.removeUserData = false;
  }
  void TearDown() override {
    RemoveTree(userData);
    CoUninitialize();
  }
  // What an install leaves: files (one read-only), uninstall entry, Run
  // value, both shortcuts, and the user's data.
  void LayOutProduct() {
    ASSERT_TRUE(CopyFileW(StandinExe().c_str(), (dir + L"\\Norvale-Lockra.exe").c_str(), FALSE));
    WriteFileText(dir + L"\\ui\\index.html", "<p>x</p>");
    WriteFileText(dir + L"\\lecture-seule.txt", "x");
    SetFileAttributesW((dir + L"\\lecture-seule.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    WriteUninstallEntry();
    WriteRegString(kRunKey, L"Norvale Lockra", L"\"" + dir + L"\\Norvale-Lockra.exe\" --background");
    ASSERT_TRUE(CreateShortcut(StartMenuShortcutPath(), dir + L"\\Norvale-Lockra.exe", dir));
    ASSERT_TRUE(CreateShortcut(DesktopShortcutPath(), dir + L"\\Norvale-Lockra.exe", dir));
    WriteFileText(userData + L"\\favoris.json", "{}");
  }
  void ExpectRegistrationGone() {
    EXPECT_FALSE(KeyExists(kUninstallKey));
    EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, kRunKey, L"Norvale Lockra"), L"");
    EXPECT_FALSE(FileExists(StartMenuShortcutPath()));
    EXPECT_FALSE(FileExists(DesktopShortcutPath()));
  }
  void ExpectFinished() {
    EXPECT_EQ(StatusText(), L"Termin\u00e9");
    EXPECT_EQ(InstallerState.bytesTotal.load(), 100u);
    EXPECT_EQ(InstallerState.bytesDone.load(), 100u);
  }
  std::wstring log, dir, userData;
};

TEST_F(UninstallTest, RemovesEverythingButTheUserDataByDefault) {
  LayOutProduct();
  EXPECT_TRUE(RunUninstall());
  ExpectRegistrationGone();
  EXPECT_FALSE(FileExists(dir)) << "the folder and its read-only file are gone";
  EXPECT_TRUE(FileExists(userData + L"\\favoris.json"));
  ExpectFinished();

  // A second run finds nothing and still succeeds.
  InstallerState.bytesDone = 0;
  EXPECT_TRUE(RunUninstall());
  ExpectFinished();
}

TEST_F(UninstallTest, UserDataOnRequestKeepsTheNorvaleFolder) {
  LayOutProduct();
  InstallerState.removeUserData = true;
  EXPECT_TRUE(RunUninstall());
  EXPECT_FALSE(FileExists(userData));
  EXPECT_TRUE(FileExists(ParentDirectory(userData))) << "\"Norvale\" stays";
  EXPECT_FALSE(FileExists(dir));
  ExpectFinished();
}

TEST_F(UninstallTest, RunningProductIsAskedToQuitThenRemoved) {
  LayOutProduct();
  HANDLE tray = StartStandinIn(dir, L"");
  HANDLE stubborn = StartStandinIn(dir + L"\\sub", L"--ignore-quit");
  ASSERT_TRUE(WaitForTrayWindows(2));
  ULONGLONG t0 = GetTickCount64();
  EXPECT_TRUE(RunUninstall());
  EXPECT_LT(GetTickCount64() - t0, 8000u) << "one 1.5 s grace period for all copies";
  EXPECT_EQ(WaitForSingleObject(tray, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(stubborn, 0), WAIT_OBJECT_0);
  EXPECT_EQ(CountOccurrences(ReadFileWide(log), L"quit-request"), 2u);
  EXPECT_FALSE(FileExists(dir));
  EndAndClose(tray);
  EndAndClose(stubborn);
}

// Broad folders given by "/dir=", the uninstaller's place or the registry:
// everything else is done, the folder itself stays whole.
TEST_F(UninstallTest, BroadFoldersAreLeftAlone) {
  ASSERT_TRUE(InThrowawayPrefix())
      << "aims the uninstall at the profile and C:\\; only in a temporary prefix";
  std::wstring profile = KnownFolderPath(FOLDERID_Profile);
  std::wstring local = KnownFolderPath(FOLDERID_LocalAppData);
  for (const std::wstring& broad :
       {profile, local, std::wstring(L"C:\\"), std::wstring(L"C:"), std::wstring()}) {
    LayOutProduct();
    WriteFileText(profile + L"\\t\u00e9moin.txt", "reste");
    WriteFileText(local + L"\\t\u00e9moin.txt", "reste");
    WriteFileText(L"C:\\t\u00e9moin.txt", "reste");
    InstallerState.installDir = broad;
    InstallerState.bytesDone = 0;
    EXPECT_TRUE(RunUninstall());
    ExpectRegistrationGone();
    ExpectFinished();
    EXPECT_TRUE(FileExists(profile + L"\\t\u00e9moin.txt")) << Narrow(broad);
    EXPECT_TRUE(FileExists(local + L"\\t\u00e9moin.txt")) << Narrow(broad);
    EXPECT_TRUE(FileExists(L"C:\\t\u00e9moin.txt")) << Narrow(broad);
    EXPECT_TRUE(FileExists(dir + L"\\Norvale-Lockra.exe")) << Narrow(broad);
    EXPECT_TRUE(FileExists(userData + L"\\favoris.json"));
  }
}

}  // namespace
