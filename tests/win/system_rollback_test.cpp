// An install or update that fails leaves the folder exactly as it was, and
// the registration with it; an attempt stopped hard is undone by the next run.
#include <objbase.h>

#include <map>

#include "app/setup_lock.h"
#include "package/transaction.h"
#include "package_support.h"
#include "system/install_record.h"
#include "system/registration.h"
#include "system/sequences.h"
#include "system/shortcuts.h"
#include "system_test_util.h"

using namespace systest;

namespace {

using Tree = std::map<std::wstring, std::vector<uint8_t>>;

// Every file under `dir`, relative name -> bytes.
void ReadTree(const std::wstring& dir, const std::wstring& prefix, Tree* tree) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((dir + L"\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      ReadTree(dir + L"\\" + name, prefix + name + L"\\", tree);
    else
      (*tree)[prefix + name] = ReadFileBytes(dir + L"\\" + name);
  } while (FindNextFileW(find, &data));
  FindClose(find);
}

Tree TreeOf(const std::wstring& dir) {
  Tree tree;
  ReadTree(dir, L"", &tree);
  return tree;
}

// Four files in three stored blocks, "lib\big.dat" spanning the last two.
std::vector<TestEntry> Product(uint32_t seed, bool withNewFiles) {
  std::vector<TestEntry> entries = {{"Norvale-Lockra.exe", Content(70000, seed)},
                                    {"ui\\style.css", Content(30000, seed + 1)},
                                    {"b.txt", Content(20000, seed + 2)},
                                    {"lib\\big.dat", Content(150000, seed + 3)}};
  if (withNewFiles) {
    entries.insert(entries.begin() + 1, {"neuf.txt", Content(100, seed + 4)});
    entries.push_back({"plugins\\x.dll", Content(5000, seed + 5)});
  }
  return entries;
}

// Block `damaged` (or none for -1) has its first chunk claim more bytes
// than it holds, so that it fails to decode.
std::vector<uint8_t> SetupFile(const std::string& version, const std::vector<TestEntry>& entries,
                               int damaged) {
  std::vector<TestBlock> blocks = StoredBlocks(Concatenate(entries), {90000, 100000});
  if (damaged >= 0) blocks[damaged].packed[26] ^= 0x40;
  std::vector<uint8_t> image(4096, 0);
  image[0] = 'M';
  image[1] = 'Z';
  return SetupBytes(image, PackageBytes(version, entries, blocks));
}

class RollbackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    base = FreshFolder(L"rollback");
    dir = base + L"\\Norvale Lockra";
    DeleteUninstallEntry();
    DeleteShortcut(StartMenuShortcutPath());
  }
  void TearDown() override {
    DeleteUninstallEntry();
    DeleteShortcut(StartMenuShortcutPath());
    RemoveTree(base);
    CoUninitialize();
  }
  bool RunSetupFile(const std::vector<uint8_t>& file, Mode mode) {
    const std::wstring path = base + L"\\setup-" + std::to_wstring(++runs) + L".exe";
    EXPECT_TRUE(WriteFileBytes(path, file));
    InstallerState.selfPath = path;
    EXPECT_TRUE(ReadPackageIndex());
    InstallerState.installDir = dir;
    InstallerState.mode = mode;
    InstallerState.silent = true;
    InstallerState.bytesDone = 0;
    SetErrorText(L"");
    return RunInstall();
  }
  std::wstring Registered() { return ReadRegString(HKEY_CURRENT_USER, kUninstallKey, L"DisplayVersion"); }
  std::wstring base, dir;
  int runs = 0;
};

TEST_F(RollbackTest, FailedUpdateLeavesThePreviousVersionWhole) {
  ASSERT_TRUE(RunSetupFile(SetupFile("1.0", Product(1, false), -1), ::Install));
  const Tree before = TreeOf(dir);
  ASSERT_EQ(before.size(), 6u);  // four files, uninstall.exe, the record
  for (int damaged : {0, 1, 2}) {
    EXPECT_FALSE(RunSetupFile(SetupFile("2.0", Product(7, true), damaged), ::Update)) << "block " << damaged;
    EXPECT_EQ(systest::ErrorText(),
              L"Installateur endommag\u00e9 ou disque plein : t\u00e9l\u00e9chargez-le de nouveau.");
    EXPECT_TRUE(TreeOf(dir) == before) << "block " << damaged << ": the folder changed";
    EXPECT_FALSE(FileExists(dir + L"\\plugins")) << "a folder the attempt made is gone";
    EXPECT_FALSE(FileExists(dir + L"\\" + kRollbackFolderName));
    EXPECT_EQ(Registered(), L"1.0");
  }
  ASSERT_TRUE(RunSetupFile(SetupFile("2.0", Product(7, true), -1), ::Update));
  EXPECT_EQ(ReadFileBytes(dir + L"\\lib\\big.dat"), Content(150000, 10));
  EXPECT_EQ(ReadFileBytes(dir + L"\\plugins\\x.dll"), Content(5000, 12));
  EXPECT_EQ(Registered(), L"2.0");
  EXPECT_FALSE(FileExists(dir + L"\\" + kRollbackFolderName)) << "what was kept aside is deleted";
}

TEST_F(RollbackTest, FailedFirstInstallLeavesNothingOfItsOwn) {
  EXPECT_FALSE(RunSetupFile(SetupFile("1.0", Product(1, true), 2), ::Install));
  EXPECT_FALSE(FileExists(dir)) << "the folder it made is gone";
  EXPECT_FALSE(FileExists(StartMenuShortcutPath()));
  EXPECT_EQ(Registered(), L"");

  // A folder that was there keeps exactly its own files.
  WriteFileText(dir + L"\\ui\\mien.css", "a{}");
  WriteFileText(dir + L"\\notes.txt", "x");
  const Tree mine = TreeOf(dir);
  EXPECT_FALSE(RunSetupFile(SetupFile("1.0", Product(1, true), 1), ::Install));
  EXPECT_TRUE(TreeOf(dir) == mine);
}

TEST_F(RollbackTest, FileInUseFailsAfterTheWaitAndRollsBack) {
  ASSERT_TRUE(RunSetupFile(SetupFile("1.0", Product(1, false), -1), ::Install));
  const Tree before = TreeOf(dir);
  HANDLE held = CreateFileW((dir + L"\\b.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  const ULONGLONG t0 = GetTickCount64();
  EXPECT_FALSE(RunSetupFile(SetupFile("2.0", Product(7, true), -1), ::Update));
  const ULONGLONG elapsed = GetTickCount64() - t0;
  CloseHandle(held);
  EXPECT_GE(elapsed, 5000u);
  EXPECT_NE(systest::ErrorText().find(L"Impossible d'\u00e9crire b.txt"), std::wstring::npos)
      << Narrow(systest::ErrorText());
  EXPECT_TRUE(TreeOf(dir) == before);
  EXPECT_EQ(Registered(), L"1.0");
}

// The product still runs (it ignored the request to quit): its executable is
// renamed aside, which Windows allows for a running program, the new one is
// written, and the old file goes once it is free, at the latest with the
// next run.
TEST_F(RollbackTest, ARunningProgramIsMovedAsideAndGoesWithTheNextRun) {
  CreateDirectories(dir);
  const std::wstring exe = dir + L"\\Norvale-Lockra.exe";
  ASSERT_TRUE(CopyFileW(StandinExe().c_str(), exe.c_str(), FALSE));
  HANDLE running = StartStandinIn(dir, L"--ignore-quit");
  ASSERT_NE(running, nullptr);
  ASSERT_TRUE(WaitForTrayWindows(1));
  InstallTransaction transaction;
  ASSERT_TRUE(BeginInstallTransaction(&transaction, dir, {L"Norvale-Lockra.exe"}, false));
  EXPECT_TRUE(MoveAsideBeforeWrite(&transaction, exe)) << "a running program can be renamed";
  WriteFileText(exe, "new version");
  CommitInstallTransaction(&transaction);
  EXPECT_EQ(ReadFileText(exe), "new version");
  EndAndClose(running);
  EXPECT_TRUE(RecoverInterruptedInstall(dir));
  EXPECT_FALSE(FileExists(dir + L"\\" + kRollbackFolderName)) << "nothing is left aside";
}

// The setup program ended hard while it replaces the files: the next run
// puts the previous version back before anything else, and a good update
// then goes through.
TEST_F(RollbackTest, AnAttemptStoppedHardIsUndoneByTheNextRun) {
  std::vector<TestEntry> many;
  for (int i = 0; i < 1500; ++i) many.push_back({"f\\" + std::to_string(i) + ".txt", Content(64, i)});
  ASSERT_TRUE(RunSetupFile(SetupFile("1.0", many, -1), ::Install));
  const Tree before = TreeOf(dir);
  for (TestEntry& e : many) e.content = Content(64, 9000);
  const std::wstring setup = base + L"\\update.exe";
  std::vector<uint8_t> stub = ReadFileBytes(OutPath(L"setup-stub.exe"));
  ASSERT_FALSE(stub.empty());
  ASSERT_TRUE(WriteFileBytes(
      setup, SetupBytes(stub, PackageBytes("2.0", many, StoredBlocks(Concatenate(many), {})))));
  std::wstring line = L"\"" + setup + L"\" /S /update /dir=\"" + dir + L"\"";
  ReleaseSetupLock();  // taken by this process's own install above
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION child{};
  ASSERT_TRUE(CreateProcessW(setup.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &startup, &child));
  // Stopped once about half of the old files are kept aside.
  bool half = false;
  for (ULONGLONG end = GetTickCount64() + 60000; !half && GetTickCount64() < end;) {
    WIN32_FIND_DATAW data;
    const std::wstring rollback = dir + L"\\" + kRollbackFolderName;
    HANDLE find = FindFirstFileW((rollback + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        const std::wstring name = data.cFileName;
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && name != L"." && name != L"..")
          half = FileExists(rollback + L"\\" + name + L"\\750");
      } while (!half && FindNextFileW(find, &data));
      FindClose(find);
    }
    if (WaitForSingleObject(child.hProcess, 0) == WAIT_OBJECT_0) break;
  }
  TerminateProcess(child.hProcess, 9);
  WaitForSingleObject(child.hProcess, 5000);
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  ASSERT_TRUE(half) << "the update ended before the test could stop it";
  EXPECT_FALSE(TreeOf(dir) == before) << "the stopped attempt had changed the folder";

  EXPECT_TRUE(RecoverInterruptedInstall(dir));
  EXPECT_TRUE(TreeOf(dir) == before) << "the next run put the previous version back";
  EXPECT_EQ(Registered(), L"1.0");
  ASSERT_TRUE(RunSetupFile(SetupFile("2.0", many, -1), ::Update));
  EXPECT_EQ(ReadFileBytes(dir + L"\\f\\3.txt"), Content(64, 9000));
  EXPECT_EQ(Registered(), L"2.0");
}

}  // namespace
