// Reading the command line, choosing the mode and resolving the folder.
#include "app/launch.h"

#include <gtest/gtest.h>

#include "app/helpers.h"
#include "app/state.h"
#include "support/test_support.h"
#include "system/install_record.h"

namespace {

TEST(HasSwitch, MatchesWholeSwitchesOnly) {
  EXPECT_TRUE(HasSwitch(L"setup.exe /SILENT", L"/SILENT"));
  EXPECT_FALSE(HasSwitch(L"setup.exe /SILENTLY", L"/SILENT"));
  EXPECT_FALSE(HasSwitch(L"setup.exe /SILENTLY", L"/S"));
  EXPECT_FALSE(HasSwitch(L"setup.exe /VERYSILENT", L"/S"));
  EXPECT_TRUE(HasSwitch(L"setup.exe /s", L"/S"));
  EXPECT_TRUE(HasSwitch(L"\"C:\\a b\\setup.exe\" /S /update", L"/S"));
  EXPECT_TRUE(HasSwitch(L"setup.exe /S\"", L"/S"));
  EXPECT_TRUE(HasSwitch(L"setup.exe /S=1", L"/S"));
  EXPECT_FALSE(HasSwitch(L"setup.exe /updated", L"/update"));
  EXPECT_TRUE(HasSwitch(L"setup.exe /updated /update", L"/update"));
  // Nothing is asked of the character before: "/Sx/S" still holds "/S" at its end.
  EXPECT_TRUE(HasSwitch(L"setup.exe x/S", L"/S"));
  // A path that holds "/S" followed by another letter is no switch.
  EXPECT_FALSE(HasSwitch(L"Z:/Setup/setup.exe", L"/S"));
}

TEST(SwitchValue, QuotedUnquotedAndAbsent) {
  EXPECT_EQ(SwitchValue(L"setup.exe /dir=\"C:\\Mes Programmes\\NL\" /S", L"/dir="),
            L"C:\\Mes Programmes\\NL");
  EXPECT_EQ(SwitchValue(L"setup.exe /dir=C:\\Mes Programmes /S", L"/dir="), L"C:\\Mes");
  EXPECT_EQ(SwitchValue(L"setup.exe /dir=\"C:\\open", L"/dir="), L"C:\\open");
  EXPECT_EQ(SwitchValue(L"setup.exe /DIR=C:\\x\ty", L"/dir="), L"C:\\x\ty");  // tabs are ordinary
  EXPECT_EQ(SwitchValue(L"setup.exe /S", L"/dir="), L"");
  EXPECT_EQ(SwitchValue(L"setup.exe /dir= /S", L"/dir="), L"");
  EXPECT_EQ(SwitchValue(L"setup.exe /dir=A /dir=B", L"/dir="), L"A");  // only the first
}

TEST(CommandLines, RelocationAndSelfDeletion) {
  EXPECT_EQ(RelocationCommandLine(L"C:\\T\\Norvale-uninstall-42.exe", L"C:\\Mes Programmes\\NL", false),
            L"\"C:\\T\\Norvale-uninstall-42.exe\" /uninstall /fromtemp /dir=\"C:\\Mes Programmes\\NL\"");
  EXPECT_EQ(RelocationCommandLine(L"C:\\T\\u.exe", L"C:\\NL", true),
            L"\"C:\\T\\u.exe\" /uninstall /fromtemp /dir=\"C:\\NL\" /S");
  EXPECT_EQ(
      SelfDeletionCommandLine(L"C:\\S\\cmd.exe", L"C:\\S\\ping.exe", L"C:\\T\\u 1.exe"),
      L"\"C:\\S\\cmd.exe\" /c \"\"C:\\S\\ping.exe\" 127.0.0.1 -n 3 >nul & del /f /q \"C:\\T\\u 1.exe\"\"");
  // The temporary name: folder, fixed part, tick count in decimal.
  EXPECT_EQ(FormatString(L"%sNorvale-uninstall-%llu.exe", L"C:\\T\\", 18446744073709551615ull),
            L"C:\\T\\Norvale-uninstall-18446744073709551615.exe");
}

// The mode and folder decisions, on real files with and without a package.
struct LaunchTest : ::testing::Test {
  TempFolder temp;
  std::wstring withPackage, withoutPackage;

  void SetUp() override {
    wchar_t self[520];
    GetModuleFileNameW(nullptr, self, 520);
    auto image = ReadFileBytes(self);
    withoutPackage = temp.path + L"\\app\\uninstall.exe";
    CreateDirectories(temp.path + L"\\app");
    ASSERT_TRUE(WriteFileBytes(withoutPackage, image));
    // A minimal valid package: header (version 2.0.1, total 0), no entries, no blocks.
    std::vector<uint8_t> file = image;
    uint64_t p = file.size();
    const uint8_t package[] = {'H', 'L', 'V', 'X', 1, 0, 0, 0, 5, 0, 0, 0, '2', '.', '0', '.', '1',
                               0,   0,   0,   0,   0, 0, 0, 0, 0, 0, 0, 0, 0,   0,   0,   0};
    file.insert(file.end(), package, package + sizeof(package));
    for (uint64_t v : {p, static_cast<uint64_t>(sizeof(package))})
      for (int i = 0; i < 8; ++i) file.push_back(static_cast<uint8_t>(v >> (8 * i)));
    const char* magic = "HLVXPAK1";
    file.insert(file.end(), magic, magic + 8);
    withPackage = temp.path + L"\\setup.exe";
    ASSERT_TRUE(WriteFileBytes(withPackage, file));
    RegDeleteTreeW(HKEY_CURRENT_USER, kUninstallKey);
  }
  void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, kUninstallKey); }

  void Launch(const std::wstring& exe, const std::wstring& switches) {
    InstallerState.selfPath = exe;
    InstallerState.version.clear();
    InstallerState.installDir.clear();
    std::wstring line = L"\"" + exe + L"\" " + switches;
    ReadSwitchesAndMode(line.c_str());
    ResolveInstallDir(line.c_str());
  }
};

TEST_F(LaunchTest, ModeFollowsThePackageAndTheSwitches) {
  Launch(withPackage, L"");
  EXPECT_EQ(InstallerState.mode, Install);
  EXPECT_EQ(InstallerState.version, L"2.0.1");
  EXPECT_FALSE(InstallerState.silent);
  Launch(withPackage, L"/update /S");
  EXPECT_EQ(InstallerState.mode, Update);
  EXPECT_TRUE(InstallerState.silent);
  Launch(withPackage, L"/update /uninstall");
  EXPECT_EQ(InstallerState.mode, Uninstall);
  Launch(withoutPackage, L"/update");
  EXPECT_EQ(InstallerState.mode, Uninstall);
  Launch(withoutPackage, L"/VERYSILENT /relaunch=1");
  EXPECT_TRUE(InstallerState.silent);
  EXPECT_TRUE(InstallerState.relaunch);
  for (const wchar_t* value : {L"/relaunch=true", L"/relaunch=10", L"/relaunch=\"\""}) {
    Launch(withoutPackage, value);
    EXPECT_FALSE(InstallerState.relaunch) << Narrow(value);
  }
}

TEST_F(LaunchTest, FolderResolutionOrder) {
  std::wstring defaultDir = KnownFolderPath(FOLDERID_LocalAppData) + L"\\Programs\\Norvale Lockra";
  ASSERT_FALSE(KnownFolderPath(FOLDERID_LocalAppData).empty());

  // Install: "/dir=", then the registry, then the default folder.
  Launch(withPackage, L"");
  EXPECT_EQ(InstallerState.installDir, defaultDir);
  WriteRegString(kUninstallKey, L"InstallLocation", L"D:\\Registered");
  WriteRegString(kUninstallKey, L"DisplayVersion", L"1.2.3");
  Launch(withPackage, L"");
  EXPECT_EQ(InstallerState.installDir, L"D:\\Registered");
  EXPECT_EQ(InstallerState.version, L"2.0.1") << "an installer shows its package's version";
  Launch(withPackage, L"/dir=\"C:\\Mes Apps\\NL\\\\\"");
  EXPECT_EQ(InstallerState.installDir, L"C:\\Mes Apps\\NL") << "trailing backslashes go";

  // Uninstall: its own folder comes before the registry, and the registry gives the version.
  Launch(withoutPackage, L"");
  EXPECT_EQ(InstallerState.installDir, temp.path + L"\\app");
  EXPECT_EQ(InstallerState.version, L"1.2.3");
  Launch(withoutPackage, L"/dir=C:\\Elsewhere\\");
  EXPECT_EQ(InstallerState.installDir, L"C:\\Elsewhere");

  RegDeleteTreeW(HKEY_CURRENT_USER, kUninstallKey);
  Launch(withoutPackage, L"/dir=C:\\X");
  EXPECT_EQ(InstallerState.version, L"");
}

// A setup file that lost its package is never an uninstaller: started with
// "/update", from a folder without the product, or with a trailer whose
// header is wrong. uninstall.exe beside the product and an explicit folder
// keep working.
TEST_F(LaunchTest, DamagedSetupFilesAreNotUninstallers) {
  std::vector<uint8_t> bad = ReadFileBytes(withPackage);
  bad[ReadFileBytes(withoutPackage).size()] = 'Z';  // the header's magic
  const std::wstring badHeader = temp.path + L"\\bad.exe";
  ASSERT_TRUE(WriteFileBytes(badHeader, bad));
  const std::wstring stray = temp.path + L"\\t\u00e9l\u00e9chargements\\uninstall.exe";
  CreateDirectories(ParentDirectory(stray));
  ASSERT_TRUE(CopyFileW(withoutPackage.c_str(), stray.c_str(), FALSE));
  ASSERT_TRUE(WriteFileBytes(temp.path + L"\\app\\Norvale-Lockra.exe", {'M', 'Z'}));
  const struct {
    const std::wstring& exe;
    const wchar_t* switches;
    bool damaged;
  } cases[] = {
      {withoutPackage, L"/S", false},
      {withoutPackage, L"/S /update", true},
      {withoutPackage, L"/uninstall /dir=C:\\X", false},
      {stray, L"/S", true},
      {stray, L"", true},
      {stray, L"/uninstall /dir=\"C:\\X Y\"", false},
      {badHeader, L"/S /uninstall /dir=C:\\X", true},
      {withPackage, L"/update", false},
      {withPackage, L"/uninstall", false},
  };
  for (const auto& c : cases) {
    Launch(c.exe, c.switches);
    EXPECT_EQ(InstallerState.damagedPackage, c.damaged) << Narrow(c.exe) << " " << Narrow(c.switches);
  }
}

// The whole program, started as a user would: the exit codes of the paths
// that do not depend on later subsystems.
TEST(SetupProgram, StartsAndTakesTheUninstallPathWithoutPackage) {
  std::wstring stub = OutPath(L"setup-stub.exe");
  ASSERT_NE(GetFileAttributesW(stub.c_str()), INVALID_FILE_ATTRIBUTES);
  TempFolder temp;
  // Copied out of the install folder it names, so no relocation happens.
  std::wstring exe = temp.path + L"\\setup-stub.exe";
  ASSERT_TRUE(CopyFileW(stub.c_str(), exe.c_str(), FALSE));
  std::wstring target = temp.path + L"\\target";
  CreateDirectories(target);
  ASSERT_TRUE(CopyFileW(stub.c_str(), (target + L"\\Norvale-Lockra.exe").c_str(), FALSE));
  InstallRecord record;
  record.createdFolder = true;
  ASSERT_TRUE(WriteInstallRecord(target, record));
  // A real update always carries a package: without one nothing changes.
  EXPECT_EQ(RunAndWait(L"\"" + exe + L"\" /S /update /dir=\"" + target + L"\""), 1);
  EXPECT_TRUE(FileExists(target + L"\\Norvale-Lockra.exe"));
  EXPECT_EQ(RunAndWait(L"\"" + exe + L"\" /S /uninstall /dir=\"" + target + L"\""), 0);
  EXPECT_FALSE(FileExists(target)) << "the uninstall removed the folder the product made";
}

}  // namespace
