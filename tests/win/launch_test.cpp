// Reading the command line, choosing the mode and resolving the folder.
#include "app/launch.h"

#include <gtest/gtest.h>

#include "app/helpers.h"
#include "app/state.h"
#include "app/texts.h"
#include "support/test_support.h"
#include "system/install_record.h"
#include "window/flow.h"

namespace {

// What each command line asks, as the switches read it. The first rows are
// forms that deployment tools, batch files, the uninstall entry and the
// relocation have always used; the others are the ones a switch used to be
// found in: another switch's value, the program's path, a value quoted whole.
TEST(CommandLine, SwitchesAreWholeArguments) {
  const struct {
    const wchar_t* line;
    const char* asks;  // S: silent, U: update, X: uninstall, T: fromtemp, O: quote left open
    const wchar_t* dir;
    const wchar_t* log;
  } cases[] = {
      // Forms that work today, with the same reading.
      {L"setup.exe", "", L"", L""},
      {L"setup.exe /S", "S", L"", L""},
      {L"setup.exe /s", "S", L"", L""},
      {L"setup.exe /SILENT", "S", L"", L""},
      {L"setup.exe /verysilent", "S", L"", L""},
      {L"setup.exe /SILENTLY", "", L"", L""},
      {L"setup.exe /S\"\"", "S", L"", L""},
      {L"\"C:\\a b\\setup.exe\" /S /update", "SU", L"", L""},
      {L"setup.exe /updated /update", "U", L"", L""},
      {L"setup.exe /S /dir=\"C:\\Mes Programmes\\NL\"", "S", L"C:\\Mes Programmes\\NL", L""},
      {L"setup.exe /DIR=C:\\NL /S", "S", L"C:\\NL", L""},
      {L"setup.exe /dir=C:\\Mes Programmes /S", "S", L"C:\\Mes", L""},
      {L"setup.exe /dir=\"C:\\My Apps\\\" /S", "S", L"C:\\My Apps\\", L""},
      {L"setup.exe /dir=\"C:\\My Apps\\NL\\\\\" /S", "S", L"C:\\My Apps\\NL\\\\", L""},
      {L"setup.exe /dir=A /dir=B", "", L"A", L""},
      {L"setup.exe /dir= /S", "S", L"", L""},
      {L"setup.exe /S /dir=\"C:\\x\" /log=\"C:\\Norvale Logs\\setup log.txt\"", "S", L"C:\\x",
       L"C:\\Norvale Logs\\setup log.txt"},
      {L"setup.exe /log=C:\\l.txt /uninstall", "X", L"", L"C:\\l.txt"},
      {L"\"C:\\NL\\uninstall.exe\" /uninstall /S", "SX", L"", L""},
      {L"\"C:\\T\\Norvale-uninstall-42.exe\" /uninstall /fromtemp /dir=\"C:\\Mes Programmes\\NL\" /S "
       L"/log=\"C:\\L\\a b.txt\"",
       "SXT", L"C:\\Mes Programmes\\NL", L"C:\\L\\a b.txt"},
      // Switches inside values or the program's path are none.
      {L"Setup.exe /S /dir=C:\\t\\inst /log=C:/t/logs/uninstall", "S", L"C:\\t\\inst",
       L"C:/t/logs/uninstall"},
      {L"Setup.exe /S /dir=C:/t/Update", "S", L"C:/t/Update", L""},
      {L"Setup.exe /dir=C:\\t\\x/S", "", L"C:\\t\\x/S", L""},
      {L"Setup.exe /S /log=C:/t/logs/fromtemp", "S", L"", L"C:/t/logs/fromtemp"},
      {L"\"C:/Users/me/update files/Setup.exe\" /S", "S", L"", L""},
      {L"setup.exe x/S", "", L"", L""},
      {L"setup.exe /S=1", "", L"", L""},
      // A value quoted whole is read whole.
      {L"Setup.exe /S \"/dir=C:\\My Apps\\Lockra\"", "S", L"C:\\My Apps\\Lockra", L""},
      {L"Setup.exe \"/log=C:\\my logs\\x.txt\"", "", L"", L"C:\\my logs\\x.txt"},
      {L"Setup.exe \"/dir=C:\\My Apps\\\\\"", "", L"C:\\My Apps\\\\", L""},
      // A quote left open swallows the rest: nothing of it is read.
      {L"Setup.exe /S /dir=\"C:\\t\\inst /log=C:\\t\\l.txt", "SO", L"", L""},
      {L"Setup.exe /log=C:\\l.txt /dir=\"C:\\t\\inst /S", "O", L"", L"C:\\l.txt"},
      {L"\"C:\\a b\\setup.exe /S", "O", L"", L""},
  };
  for (const auto& c : cases) {
    const std::string asks = c.asks;
    const bool silent =
        HasSwitch(c.line, L"/S") || HasSwitch(c.line, L"/SILENT") || HasSwitch(c.line, L"/VERYSILENT");
    EXPECT_EQ(silent, asks.find('S') != std::string::npos) << Narrow(c.line);
    EXPECT_EQ(HasSwitch(c.line, L"/update"), asks.find('U') != std::string::npos) << Narrow(c.line);
    EXPECT_EQ(HasSwitch(c.line, L"/uninstall"), asks.find('X') != std::string::npos) << Narrow(c.line);
    EXPECT_EQ(HasSwitch(c.line, L"/fromtemp"), asks.find('T') != std::string::npos) << Narrow(c.line);
    EXPECT_EQ(QuoteLeftOpen(c.line), asks.find('O') != std::string::npos) << Narrow(c.line);
    EXPECT_EQ(SwitchValue(c.line, L"/dir="), c.dir) << Narrow(c.line);
    EXPECT_EQ(SwitchValue(c.line, L"/log="), c.log) << Narrow(c.line);
  }
  // The relocation's own line reads back as it was made.
  const std::wstring relocation = RelocationCommandLine(L"C:\\T\\u 1.exe", L"C:\\Mes Apps\\NL", true);
  EXPECT_EQ(SwitchValue(relocation.c_str(), L"/dir="), L"C:\\Mes Apps\\NL");
  EXPECT_TRUE(HasSwitch(relocation.c_str(), L"/fromtemp") && HasSwitch(relocation.c_str(), L"/S"));
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
  // A relative folder is taken from the current folder, as the log's file is.
  wchar_t current[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, current);
  SetCurrentDirectoryW(temp.path.c_str());
  Launch(withPackage, L"\"/dir=rel\\N L\"");
  SetCurrentDirectoryW(current);
  EXPECT_EQ(InstallerState.installDir, temp.path + L"\\rel\\N L");

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
  // A setup file cut 0 to 7 bytes into its package (at 0 it is an
  // uninstall.exe), started as a deployment script starts an install.
  const size_t imageSize = ReadFileBytes(withoutPackage).size();
  const std::vector<uint8_t> whole = ReadFileBytes(withPackage);
  std::vector<std::wstring> cut;
  for (size_t n = 0; n < 8; ++n) {
    cut.push_back(temp.path + L"\\cut-" + std::to_wstring(n) + L".exe");
    ASSERT_TRUE(
        WriteFileBytes(cut.back(), std::vector<uint8_t>(whole.begin(), whole.begin() + imageSize + n)));
  }
  const struct {
    const std::wstring& exe;
    const wchar_t* switches;
    bool damaged;
  } cases[] = {
      {cut[0], L"/S /dir=C:\\X", true},
      {cut[1], L"/S /dir=C:\\X", true},
      {cut[2], L"/dir=\"C:\\X Y\"", true},
      {cut[3], L"/S /dir=C:\\X", true},
      {cut[4], L"/S /dir=C:\\X /relaunch=1", true},
      {cut[5], L"/S /dir=C:\\X", true},
      {cut[6], L"/VERYSILENT /dir=C:\\X", true},
      {cut[7], L"/S /dir=C:\\X", true},
      {withoutPackage, L"/S /dir=C:\\X", true},
      {withoutPackage, L"/S /fromtemp /dir=C:\\X", false},
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
  record.files = {L"Norvale-Lockra.exe", kInstallRecordName};
  ASSERT_TRUE(WriteInstallRecord(target, record));
  // A real update always carries a package: without one nothing changes.
  EXPECT_EQ(RunAndWait(L"\"" + exe + L"\" /S /update /dir=\"" + target + L"\""), 1);
  EXPECT_TRUE(FileExists(target + L"\\Norvale-Lockra.exe"));
  // Nor is an install into a folder that holds the product.
  EXPECT_EQ(RunAndWait(L"\"" + exe + L"\" /S /dir=\"" + target + L"\""), 1);
  EXPECT_TRUE(FileExists(target + L"\\Norvale-Lockra.exe"));
  EXPECT_EQ(RunAndWait(L"\"" + exe + L"\" /S /uninstall /dir=\"" + target + L"\""), 0);
  EXPECT_FALSE(FileExists(target)) << "the uninstall removed the folder the product made";
}

// A command line whose last quote is left open asks for nothing that can be
// known: exit 1, nothing made (but the log asked before that quote), and
// the window's "Réessayer" meets the same refusal.
TEST(SetupProgram, AQuoteLeftOpenChangesNothing) {
  const std::wstring setup = OutPath(L"Norvale-Lockra-Setup.exe");
  ASSERT_NE(GetFileAttributesW(setup.c_str()), INVALID_FILE_ATTRIBUTES);
  TempFolder temp;
  const std::wstring folder = temp.path + L"\\inst", log = temp.path + L"\\l.txt";
  EXPECT_EQ(RunAndWait(L"\"" + setup + L"\" /S /dir=\"" + folder + L" /log=" + log), 1);
  EXPECT_FALSE(FileExists(folder));
  EXPECT_FALSE(FileExists(log));
  EXPECT_EQ(RunAndWait(L"\"" + setup + L"\" /S /log=\"" + log + L"\" /dir=\"" + folder), 1);
  EXPECT_FALSE(FileExists(folder));
  const std::vector<uint8_t> text = ReadFileBytes(log);
  EXPECT_NE(std::string(text.begin(), text.end()).find("command line refused"), std::string::npos);

  InstallerState.commandLineRefused = true;
  InstallerState.mode = Install;
  WorkerMain();
  InstallerState.commandLineRefused = false;
  EXPECT_EQ(InstallerState.screen, Error);
  EXPECT_EQ(InstallerState.errorText, kCommandLineRefusedMessage);
}

}  // namespace
