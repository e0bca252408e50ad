// Stopping, finding and starting processes, with the stand-in product
// running from folders inside the prefix.
#include "system/process.h"
#include "system_test_util.h"

using namespace systest;

namespace {

class ProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(FileExists(StandinExe())) << "stand-in product not built";
    log = UseFreshStandinLog(L"process");
    ASSERT_EQ(CountTrayWindows(), 0) << "a stand-in from an earlier test is still running";
  }
  void TearDown() override {
    for (HANDLE p : started) EndAndClose(p);
  }
  HANDLE Start(const std::wstring& folder, const std::wstring& args = L"") {
    HANDLE p = StartStandinIn(folder, args);
    EXPECT_NE(p, nullptr);
    started.push_back(p);
    return p;
  }
  std::wstring log;
  std::vector<HANDLE> started;
};

TEST(PathMatching, AsciiLettersIgnoreCaseOtherCharactersExact) {
  EXPECT_TRUE(PathStartsWith(L"C:\\PROGRAMS\\LOCKRA\\x.exe", L"c:\\programs\\lockra\\"));
  EXPECT_FALSE(PathStartsWith(L"C:\\\u00c9t\u00e9\\x.exe", L"C:\\\u00e9t\u00e9\\"));
  EXPECT_FALSE(PathStartsWith(L"C:\\A", L"C:\\A\\"));
  EXPECT_TRUE(PathEquals(L"C:\\a\\B.exe", L"c:\\A\\b.EXE"));
  EXPECT_FALSE(PathEquals(L"C:\\a\\B.exe2", L"c:\\A\\b.EXE"));
}

TEST_F(ProcessTest, NoMatchReturnsAtOnceAndLeavesTheStatus) {
  std::wstring dir = FreshFolder(L"empty-folder");
  SetStatus(L"avant");
  ULONGLONG t0 = GetTickCount64();
  CloseRunningCopies(dir, 20000);
  EXPECT_LT(GetTickCount64() - t0, 250u) << "no process matched: no grace period and no pause";
  EXPECT_EQ(StatusText(), L"avant");
}

TEST_F(ProcessTest, SiblingFolderIsNotMatchedSubfolderIs) {
  std::wstring base = FreshFolder(L"prefix");
  HANDLE sibling = Start(base + L"\\Lockra 2");
  HANDLE inside = Start(base + L"\\Lockra\\bin");
  ASSERT_TRUE(WaitForTrayWindows(2));
  SetStatus(L"avant");
  CloseRunningCopies(base + L"\\Lockra", 1500);
  EXPECT_TRUE(IsRunning(sibling)) << "\"Lockra 2\" only begins with the folder's name";
  EXPECT_FALSE(IsRunning(inside)) << "a copy in a subfolder is matched";
  EXPECT_EQ(StatusText(), L"Fermeture de Norvale Lockra\u2026");
}

TEST_F(ProcessTest, AsciiCaseIgnoredAccentedCaseNot) {
  std::wstring base = FreshFolder(L"casse");
  HANDLE upper = Start(base + L"\\Lockra");
  HANDLE accented = Start(base + L"\\\u00c9t\u00e9");
  ASSERT_TRUE(WaitForTrayWindows(2));
  CloseRunningCopies(L"C:\\NORVALETESTS\\CASSE\\lockra", 1500);
  EXPECT_FALSE(IsRunning(upper));
  CloseRunningCopies(base + L"\\\u00e9t\u00e9", 1500);
  EXPECT_TRUE(IsRunning(accented)) << "\u00c9 and \u00e9 are different characters here";
  CloseRunningCopies(base + L"\\\u00c9T\u00e9", 1500);
  EXPECT_FALSE(IsRunning(accented)) << "the same accented letter, other letters in capitals";
}

TEST_F(ProcessTest, TwoStubbornCopiesShareOneDeadline) {
  std::wstring dir = FreshFolder(L"stubborn");
  HANDLE first = Start(dir, L"--ignore-quit");
  HANDLE second = Start(dir + L"\\sub", L"--ignore-quit");
  ASSERT_TRUE(WaitForTrayWindows(2));
  EXPECT_TRUE(AskTrayToQuit());
  ULONGLONG t0 = GetTickCount64();
  CloseRunningCopies(dir, 1500);
  ULONGLONG elapsed = GetTickCount64() - t0;
  EXPECT_FALSE(IsRunning(first));
  EXPECT_FALSE(IsRunning(second));
  DWORD code = 99;
  GetExitCodeProcess(first, &code);
  EXPECT_EQ(code, 0u) << "terminated with exit code 0";
  EXPECT_GE(elapsed, 1500u + 300u - 50u);
  EXPECT_LT(elapsed, 2900u) << "the second copy must not get a grace period of its own";
  EXPECT_EQ(CountOccurrences(ReadFileWide(log), L"exit pid="), 0u) << "neither ended by itself";
}

TEST_F(ProcessTest, CopyEndingWithinTheGracePeriodIsNotTerminated) {
  std::wstring dir = FreshFolder(L"graceful");
  HANDLE p = Start(dir, L"--ignore-quit --exit-after=400");
  ASSERT_TRUE(WaitForTrayWindows(1));
  CloseRunningCopies(dir, 5000);
  EXPECT_FALSE(IsRunning(p));
  EXPECT_EQ(CountOccurrences(ReadFileWide(log), L"exit pid="), 1u) << "it was waited for, not killed";
}

TEST_F(ProcessTest, OwnProcessIsNeverMatched) {
  wchar_t self[520];
  DWORD n = GetModuleFileNameW(nullptr, self, 520);
  ASSERT_GT(n, 0u);
  CloseRunningCopies(ParentDirectory(std::wstring(self, n)), 0);
  SUCCEED() << "still running";
}

TEST_F(ProcessTest, TrayWindowsGetTheQuitRequest) {
  EXPECT_FALSE(AskTrayToQuit()) << "no tray window yet";
  std::wstring dir = FreshFolder(L"tray");
  HANDLE a = Start(dir + L"\\a");
  HANDLE b = Start(dir + L"\\b");
  ASSERT_TRUE(WaitForTrayWindows(2));
  EXPECT_TRUE(AskTrayToQuit());
  EXPECT_EQ(WaitForSingleObject(a, 5000), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(b, 5000), WAIT_OBJECT_0);
  EXPECT_EQ(CountOccurrences(ReadFileWide(log), L"quit-request"), 2u);
}

TEST_F(ProcessTest, LaunchProductQuotesThePathAndAddsArgumentsOnlyWhenGiven) {
  std::wstring dir = FreshFolder(L"launch dir");
  std::wstring exe = dir + L"\\Norvale-Lockra.exe";
  ASSERT_TRUE(CopyFileW(StandinExe().c_str(), exe.c_str(), FALSE));
  LaunchProduct(exe, dir, L"");
  ASSERT_TRUE(WaitForText(log, L"ready", 1, 15000));
  LaunchProduct(exe, dir, L"--background");
  ASSERT_TRUE(WaitForText(log, L"ready", 2, 15000));
  std::wstring text = ReadFileWide(log);
  EXPECT_NE(text.find(L"cmdline=[\"" + exe + L"\"] cwd=[" + dir + L"]"), std::wstring::npos) << Narrow(text);
  EXPECT_NE(text.find(L"cmdline=[\"" + exe + L"\" --background]"), std::wstring::npos) << Narrow(text);
  AskTrayToQuit();
  CloseRunningCopies(dir, 5000);
}

TEST_F(ProcessTest, HiddenToolIsWaitedForAndAbandonedAfterItsTime) {
  std::wstring dir = FreshFolder(L"hidden");
  const std::wstring cmd = SystemToolPath(L"cmd.exe");
  RunHiddenAndWait(cmd, L"\"" + cmd + L"\" /c echo fait> \"" + dir + L"\\out.txt\"");
  EXPECT_TRUE(FileExists(dir + L"\\out.txt")) << "the tool had finished when the call returned";

  std::wstring exe = dir + L"\\Norvale-Lockra.exe";
  ASSERT_TRUE(CopyFileW(StandinExe().c_str(), exe.c_str(), FALSE));
  ULONGLONG t0 = GetTickCount64();
  RunHiddenAndWaitFor(exe, L"\"" + exe + L"\" --ignore-quit", 800);
  ULONGLONG elapsed = GetTickCount64() - t0;
  EXPECT_GE(elapsed, 750u);
  EXPECT_LT(elapsed, 5000u);
  ASSERT_TRUE(WaitForTrayWindows(1));
  EXPECT_EQ(CountTrayWindows(), 1) << "a hung tool is left running";
  CloseRunningCopies(dir, 0);
  EXPECT_EQ(CountTrayWindows(), 0);
}

}  // namespace
