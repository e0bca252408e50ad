// Path, file and registry helpers.
#include <gtest/gtest.h>
#include <windows.h>
#include <winioctl.h>

#include "app/helpers.h"
#include "support/test_support.h"

namespace {

TEST(FormatString, FormatsAndTruncatesAt1023Units) {
  EXPECT_EQ(FormatString(L"%d %% %s", 64, L"Mo"), L"64 % Mo");
  std::wstring longText(2000, L'x');
  std::wstring out = FormatString(L"%s!", longText.c_str());
  EXPECT_EQ(out.size(), 1023u);
  EXPECT_EQ(out, std::wstring(1023, L'x'));
}

TEST(ParentDirectory, SeparatorsAndRoots) {
  EXPECT_EQ(ParentDirectory(L"C:\\A\\B"), L"C:\\A");
  EXPECT_EQ(ParentDirectory(L"C:\\A\\B\\"), L"C:\\A\\B");
  EXPECT_EQ(ParentDirectory(L"C:/A/B"), L"C:/A");
  EXPECT_EQ(ParentDirectory(L"C:\\"), L"C:");
  EXPECT_EQ(ParentDirectory(L"name"), L"name");
  EXPECT_EQ(ParentDirectory(L""), L"");
}

TEST(CreateDirectories, CreatesChainsAndEndsForEveryPath) {
  TempFolder temp;
  std::wstring deep = temp.path + L"\\a\\b\\c";
  CreateDirectories(deep);
  EXPECT_TRUE(FileExists(deep));
  // An existing file name: nothing is created in its place.
  std::wstring file = temp.path + L"\\file";
  ASSERT_TRUE(WriteFileBytes(file, {1, 2, 3}));
  CreateDirectories(file + L"\\sub");
  EXPECT_FALSE(FileExists(file + L"\\sub"));
  EXPECT_EQ(ReadFileBytes(file).size(), 3u);
  // Paths whose parent is themselves end instead of recursing forever.
  CreateDirectories(L"Q:");
  CreateDirectories(L"Q:\\nowhere\\deeper");
  EXPECT_FALSE(FileExists(L"Q:\\nowhere"));
  wchar_t cwd[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, cwd);
  SetCurrentDirectoryW(temp.path.c_str());
  CreateDirectories(L"relative\\inner");
  SetCurrentDirectoryW(cwd);
  EXPECT_TRUE(FileExists(temp.path + L"\\relative\\inner"));
}

TEST(CreateOutputFile, ReplacesReadOnlyFilesAndTruncates) {
  TempFolder temp;
  std::wstring path = temp.path + L"\\new\\folder\\out.bin";
  HANDLE h = CreateOutputFile(path);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
  ASSERT_TRUE(WriteFileBytes(path, std::vector<uint8_t>(100, 7)));
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
  h = CreateOutputFile(path);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
  EXPECT_EQ(ReadFileBytes(path).size(), 0u);
  EXPECT_EQ(GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
}

TEST(CreateOutputFile, WaitsAboutSixSecondsForALockedFile) {
  TempFolder temp;
  std::wstring path = temp.path + L"\\locked.bin";
  HANDLE holder = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  ULONGLONG start = GetTickCount64();
  HANDLE h = CreateOutputFile(path);
  ULONGLONG elapsed = GetTickCount64() - start;
  EXPECT_EQ(h, INVALID_HANDLE_VALUE);
  EXPECT_GE(elapsed, 5500u);
  EXPECT_LE(elapsed, 9000u);
  // Released within the time: the call succeeds.
  std::thread release = CloseAfter(holder, 1000);
  h = CreateOutputFile(path);
  release.join();
  EXPECT_NE(h, INVALID_HANDLE_VALUE);
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
}

TEST(RemoveTree, RemovesEverythingButFilesInUse) {
  TempFolder temp;
  RemoveTree(temp.path + L"\\missing");  // nothing visible happens
  std::wstring root = temp.path + L"\\tree";
  CreateDirectories(root + L"\\a\\b");
  CreateDirectories(root + L"\\c");
  ASSERT_TRUE(WriteFileBytes(root + L"\\a\\b\\busy.txt", {1}));
  ASSERT_TRUE(WriteFileBytes(root + L"\\c\\free.txt", {1}));
  ASSERT_TRUE(WriteFileBytes(root + L"\\ro.txt", {1}));
  SetFileAttributesW((root + L"\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  HANDLE busy = CreateFileW((root + L"\\a\\b\\busy.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(busy, INVALID_HANDLE_VALUE);
  RemoveTree(root);
  EXPECT_TRUE(FileExists(root + L"\\a\\b\\busy.txt"));
  EXPECT_FALSE(FileExists(root + L"\\c"));
  EXPECT_FALSE(FileExists(root + L"\\ro.txt"));
  CloseHandle(busy);
  RemoveTree(root);
  EXPECT_FALSE(FileExists(root));
}

// A junction (mount-point reparse point) from `link` to `target`.
bool MakeJunction(const std::wstring& link, const std::wstring& target) {
  if (!CreateDirectoryW(link.c_str(), nullptr)) return false;
  HANDLE h = CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  std::wstring substitute = L"\\??\\" + target;
  std::vector<uint8_t> buffer(1024, 0);
  auto* words = reinterpret_cast<uint16_t*>(buffer.data() + 8);
  uint16_t subBytes = static_cast<uint16_t>(substitute.size() * 2);
  uint16_t printBytes = static_cast<uint16_t>(target.size() * 2);
  words[0] = 0;                      // substitute name offset
  words[1] = subBytes;               // substitute name length
  words[2] = subBytes + 2;           // print name offset
  words[3] = printBytes;             // print name length
  memcpy(buffer.data() + 16, substitute.c_str(), subBytes);
  memcpy(buffer.data() + 16 + subBytes + 2, target.c_str(), printBytes);
  uint16_t dataLength = static_cast<uint16_t>(8 + subBytes + 2 + printBytes + 2);
  uint32_t tag = IO_REPARSE_TAG_MOUNT_POINT;
  memcpy(buffer.data(), &tag, 4);
  memcpy(buffer.data() + 4, &dataLength, 2);
  DWORD returned = 0;
  BOOL ok = DeviceIoControl(h, FSCTL_SET_REPARSE_POINT, buffer.data(), 8 + dataLength, nullptr, 0, &returned, nullptr);
  CloseHandle(h);
  return ok;
}

TEST(RemoveTree, NeverFollowsLinksOutOfTheTree) {
  TempFolder temp;
  std::wstring outside = temp.path + L"\\outside";
  CreateDirectories(outside);
  ASSERT_TRUE(WriteFileBytes(outside + L"\\precious.txt", {42}));
  std::wstring root = temp.path + L"\\tree";
  CreateDirectories(root);
  bool junction = MakeJunction(root + L"\\junction", outside);
  bool symlink = CreateSymbolicLinkW((root + L"\\symlink").c_str(), outside.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY);
  ASSERT_TRUE(junction || symlink) << "this system makes neither junctions nor symbolic links";
  if (junction) {
    ASSERT_TRUE(FileExists(root + L"\\junction\\precious.txt"));
  }
  RemoveTree(root);
  EXPECT_TRUE(FileExists(outside + L"\\precious.txt"));
  EXPECT_FALSE(FileExists(root));
}

TEST(Registry, StringsUpTo519CharactersAndDwords) {
  const std::wstring key = L"Software\\NorvaleHelpersTest";
  WriteRegString(key, L"fits", std::wstring(519, L'a'));
  WriteRegString(key, L"long", std::wstring(520, L'b'));
  WriteRegString(key, L"accent", L"Équipe");
  WriteRegDword(key, L"dword", 0xDEADBEEF);
  EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, key, L"fits"), std::wstring(519, L'a'));
  EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, key, L"long"), L"");
  EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, key, L"accent"), L"Équipe");
  EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, key, L"dword"), L"") << "another type reads as empty";
  EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, key, L"missing"), L"");
  DWORD value = 0, size = sizeof(value);
  EXPECT_EQ(RegGetValueW(HKEY_CURRENT_USER, key.c_str(), L"dword", RRF_RT_REG_DWORD, nullptr, &value, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(value, 0xDEADBEEFu);
  RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
}

TEST(KnownFolderPath, ResolvesLocalAppData) {
  std::wstring local = KnownFolderPath(FOLDERID_LocalAppData);
  EXPECT_FALSE(local.empty());
  EXPECT_TRUE(FileExists(local));
}

}  // namespace
