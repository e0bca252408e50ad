// The uninstall sequence run in this process against a product laid out by
// hand inside the prefix.
#include <objbase.h>
#include <shlobj.h>

#include "system/install_record.h"
#include "system/process.h"
#include "system/registration.h"
#include "system/sequences.h"
#include "system/shortcuts.h"
#include "system/uninstall_journal.h"
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

  // A second run finds no product: it changes nothing and says why.
  WriteFileText(dir + L"\\t\u00e9moin.txt", "reste");
  WriteUninstallEntry();
  EXPECT_FALSE(RunUninstall());
  EXPECT_EQ(ErrorText(), L"Norvale Lockra n\u2019est pas install\u00e9 dans ce dossier.");
  EXPECT_TRUE(FileExists(dir + L"\\t\u00e9moin.txt"));
  EXPECT_TRUE(KeyExists(kUninstallKey));
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

// Broad folders given by "/dir=", the uninstaller's place or the registry,
// even holding the product's executable and registered: everything else is
// done, the folder itself stays whole.
TEST_F(UninstallTest, BroadFoldersAreLeftAlone) {
  ASSERT_TRUE(InThrowawayPrefix())
      << "aims the uninstall at the profile and C:\\; only in a temporary prefix";
  std::wstring profile = KnownFolderPath(FOLDERID_Profile);
  std::wstring local = KnownFolderPath(FOLDERID_LocalAppData);
  for (const std::wstring& broad : {profile, local, std::wstring(L"C:\\")}) {
    LayOutProduct();
    std::wstring folder = broad;
    if (folder.back() == L'\\') folder.pop_back();
    ASSERT_TRUE(CopyFileW(StandinExe().c_str(), (folder + L"\\Norvale-Lockra.exe").c_str(), FALSE));
    WriteFileText(folder + L"\\t\u00e9moin.txt", "reste");
    InstallerState.installDir = folder;
    WriteUninstallEntry();
    InstallerState.bytesDone = 0;
    EXPECT_TRUE(RunUninstall());
    ExpectRegistrationGone();
    ExpectFinished();
    EXPECT_TRUE(FileExists(folder + L"\\t\u00e9moin.txt")) << Narrow(broad);
    EXPECT_TRUE(FileExists(folder + L"\\Norvale-Lockra.exe")) << Narrow(broad);
    EXPECT_TRUE(FileExists(dir + L"\\Norvale-Lockra.exe")) << Narrow(broad);
    EXPECT_TRUE(FileExists(userData + L"\\favoris.json"));
    DeleteFileW((folder + L"\\Norvale-Lockra.exe").c_str());
    DeleteFileW((folder + L"\\t\u00e9moin.txt").c_str());
  }
}

// Whether the install made the folder or not, only what the record names
// goes, and the folders an install made once they are empty: the user's
// files stay (a notes file in the default folder, a folder made in it).
TEST_F(UninstallTest, RecordDecidesWhatGoes) {
  for (bool created : {false, true}) {
    LayOutProduct();
    WriteFileText(dir + L"\\mes notes.txt", "\xc3\xa0 garder");
    WriteFileText(dir + L"\\photos\\\u65e5\u672c.jpg", "jpg");
    WriteFileText(dir + L"\\ui\\mien.css", "a{}");  // the user's, inside a product folder
    WriteFileText(dir + L"\\donn\u00e9es\\\u5b57.txt", "x");
    WriteFileText(dir + L"\\donn\u00e9es\\vide.dat", "");
    WriteFileText(dir + L"\\cache\\journal.log", "x");  // made by the product when it ran
    InstallRecord record;
    record.createdFolder = created;
    record.folders = {L"ui", L"donn\u00e9es"};
    record.files = {L"Norvale-Lockra.exe",       L"ui\\index.html",         L"lecture-seule.txt",
                    L"donn\u00e9es\\\u5b57.txt", L"donn\u00e9es\\vide.dat", L"absent.txt",
                    kInstallRecordName};
    ASSERT_TRUE(WriteInstallRecord(dir, record));
    EXPECT_TRUE(RunUninstall());
    ExpectRegistrationGone();
    EXPECT_EQ(ReadFileText(dir + L"\\mes notes.txt"), "\xc3\xa0 garder");
    EXPECT_EQ(ReadFileText(dir + L"\\photos\\\u65e5\u672c.jpg"), "jpg");
    EXPECT_EQ(ReadFileText(dir + L"\\ui\\mien.css"), "a{}");
    EXPECT_TRUE(FileExists(dir + L"\\cache\\journal.log"));
    for (const wchar_t* gone : {L"Norvale-Lockra.exe", L"ui\\index.html", L"lecture-seule.txt",
                                L"donn\u00e9es", kInstallRecordName})
      EXPECT_FALSE(FileExists(dir + L"\\" + gone)) << Narrow(gone);
    RemoveTree(dir);
    CreateDirectories(dir);
  }
}

// A product file let go a moment after the programs were closed (a copy of
// the product that was only starting then) is removed all the same, in a
// folder of the product's and in one of the user's.
TEST_F(UninstallTest, FileLetGoShortlyAfterIsStillRemoved) {
  for (bool created : {true, false}) {
    LayOutProduct();
    WriteFileText(dir + L"\\mes notes.txt", "x");
    InstallRecord record;
    record.createdFolder = created;
    record.folders = {L"ui"};
    record.files = {L"Norvale-Lockra.exe", L"ui\\index.html", kInstallRecordName};
    ASSERT_TRUE(WriteInstallRecord(dir, record));
    HANDLE held =
        CreateFileW((dir + L"\\ui\\index.html").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    std::thread letGo = CloseAfter(held, 700);
    EXPECT_TRUE(RunUninstall());
    letGo.join();
    EXPECT_FALSE(FileExists(dir + L"\\ui\\index.html")) << created;
    EXPECT_TRUE(FileExists(dir + L"\\mes notes.txt")) << created;
    RemoveTree(dir);
    CreateDirectories(dir);
  }
}

// An uninstaller run against another folder than the registered one leaves
// the registered installation's entry, Run value and shortcuts alone; one
// aimed at a folder without the product changes nothing at all.
TEST_F(UninstallTest, OnlyTheRegisteredFolderTakesTheRegistrationAlong) {
  LayOutProduct();  // registered at dir
  std::wstring other = FreshFolder(L"autre copie");
  ASSERT_TRUE(CopyFileW(StandinExe().c_str(), (other + L"\\Norvale-Lockra.exe").c_str(), FALSE));
  InstallRecord record;
  record.files = {L"Norvale-Lockra.exe"};
  ASSERT_TRUE(WriteInstallRecord(other, record));
  std::wstring empty = FreshFolder(L"sans produit");
  WriteFileText(empty + L"\\t\u00e9moin.txt", "reste");
  InstallerState.installDir = empty;
  EXPECT_FALSE(RunUninstall());
  EXPECT_TRUE(FileExists(empty + L"\\t\u00e9moin.txt"));

  InstallerState.installDir = other;
  EXPECT_TRUE(RunUninstall());
  EXPECT_FALSE(FileExists(other + L"\\Norvale-Lockra.exe"));
  EXPECT_TRUE(KeyExists(kUninstallKey));
  EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, kUninstallKey, L"InstallLocation"), dir);
  EXPECT_NE(ReadRegString(HKEY_CURRENT_USER, kRunKey, L"Norvale Lockra"), L"");
  EXPECT_TRUE(FileExists(StartMenuShortcutPath()));
  EXPECT_TRUE(FileExists(DesktopShortcutPath()));
  EXPECT_TRUE(FileExists(dir + L"\\Norvale-Lockra.exe"));

  // Without a record, a folder that is not the registered one keeps its
  // files, and the run says nothing was uninstalled.
  CreateDirectories(other);
  ASSERT_TRUE(CopyFileW(StandinExe().c_str(), (other + L"\\Norvale-Lockra.exe").c_str(), FALSE));
  EXPECT_FALSE(RunUninstall());
  EXPECT_TRUE(FileExists(other + L"\\Norvale-Lockra.exe"));
}

// What an install leaves, with its record (uninstall.exe included), and a
// file of the user's beside it.
InstallRecord RecordedProduct(const std::wstring& dir) {
  WriteFileText(dir + L"\\uninstall.exe", "MZ");
  WriteFileText(dir + L"\\mes notes.txt", "\xc3\xa0 garder");
  InstallRecord record;
  record.createdFolder = true;
  record.folders = {L"ui"};
  record.files = {L"Norvale-Lockra.exe", L"ui\\index.html", L"lecture-seule.txt", kUninstallerName,
                  kInstallRecordName};
  EXPECT_TRUE(WriteInstallRecord(dir, record));
  return record;
}

void ExpectOnlyTheUsersFileLeft(const std::wstring& dir) {
  EXPECT_EQ(ReadFileText(dir + L"\\mes notes.txt"), "\xc3\xa0 garder");
  for (const wchar_t* gone : {L"Norvale-Lockra.exe", L"ui", L"lecture-seule.txt", L"uninstall.exe",
                              kInstallRecordName, kUninstallJournalName})
    EXPECT_FALSE(FileExists(dir + L"\\" + gone)) << Narrow(gone);
}

// A product file held open past the retries: the run fails and says which,
// the registration and the uninstaller stay so that the entry still works;
// once the file is let go, the same uninstall finishes.
TEST_F(UninstallTest, HeldFileFailsThenTheRerunFinishes) {
  LayOutProduct();
  RecordedProduct(dir);
  HANDLE held =
      CreateFileW((dir + L"\\ui\\index.html").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(RunUninstall());
  EXPECT_NE(ErrorText().find(L"index.html"), std::wstring::npos) << Narrow(ErrorText());
  EXPECT_TRUE(KeyExists(kUninstallKey));
  EXPECT_TRUE(FileExists(StartMenuShortcutPath()));
  EXPECT_TRUE(FileExists(dir + L"\\uninstall.exe"));
  EXPECT_TRUE(ReadUninstallJournal(dir).valid);
  EXPECT_FALSE(FileExists(dir + L"\\Norvale-Lockra.exe"));
  CloseHandle(held);
  EXPECT_TRUE(RunUninstall());
  ExpectRegistrationGone();
  ExpectOnlyTheUsersFileLeft(dir);
}

// An uninstall stopped hard at each point leaves what the next one needs:
// the journal, written before the first change and removed last.
TEST_F(UninstallTest, HardStopAtAnyPointThenTheUninstallAgain) {
  enum Stop { BeforeAnyChange, AfterTheFiles, AfterTheRegistration, AfterTheUninstaller };
  for (Stop stop : {BeforeAnyChange, AfterTheFiles, AfterTheRegistration, AfterTheUninstaller}) {
    LayOutProduct();
    UninstallJournal journal;
    journal.valid = journal.registration = true;
    journal.items = RecordedProduct(dir);
    ASSERT_TRUE(WriteUninstallJournal(dir, journal));
    if (stop >= AfterTheFiles)
      for (const wchar_t* file :
           {L"Norvale-Lockra.exe", L"ui\\index.html", L"lecture-seule.txt", kInstallRecordName}) {
        SetFileAttributesW((dir + L"\\" + file).c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW((dir + L"\\" + file).c_str());
      }
    if (stop >= AfterTheRegistration) {
      DeleteUninstallEntry();
      DeleteShortcut(StartMenuShortcutPath());
    }
    if (stop >= AfterTheUninstaller) DeleteFileW((dir + L"\\uninstall.exe").c_str());
    EXPECT_TRUE(RunUninstall()) << stop;
    ExpectRegistrationGone();
    ExpectOnlyTheUsersFileLeft(dir);
    RemoveTree(dir);
    CreateDirectories(dir);
  }
}

// An install into a folder where an uninstall stopped part-way finishes that
// uninstall first: the new record owns nothing of the old one by mistake.
TEST_F(UninstallTest, InterruptedUninstallIsFinishedBeforeAnInstall) {
  UninstallJournal journal;
  journal.valid = true;
  journal.items = RecordedProduct(dir);
  ASSERT_TRUE(WriteUninstallJournal(dir, journal));
  ASSERT_TRUE(CopyFileW(StandinExe().c_str(), (dir + L"\\Norvale-Lockra.exe").c_str(), FALSE));
  EXPECT_TRUE(FinishInterruptedUninstall(dir));
  ExpectOnlyTheUsersFileLeft(dir);
}

}  // namespace
