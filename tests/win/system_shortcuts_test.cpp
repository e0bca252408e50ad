// Shortcut paths, and shortcut files loaded back through the shell link.
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include "system/shortcuts.h"
#include "system_test_util.h"

using namespace systest;

namespace {

struct LinkProperties {
  bool loaded = false;
  std::wstring target, workingDir, iconPath, description;
  int iconIndex = -1;
};

LinkProperties LoadLink(const std::wstring& file) {
  LinkProperties p;
  IShellLinkW* link = nullptr;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                              reinterpret_cast<void**>(&link))))
    return p;
  IPersistFile* persist = nullptr;
  if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist)))) {
    if (SUCCEEDED(persist->Load(file.c_str(), STGM_READ))) {
      wchar_t buffer[MAX_PATH * 2];
      p.loaded = true;
      if (SUCCEEDED(link->GetPath(buffer, MAX_PATH * 2, nullptr, SLGP_RAWPATH))) p.target = buffer;
      if (SUCCEEDED(link->GetWorkingDirectory(buffer, MAX_PATH * 2))) p.workingDir = buffer;
      if (SUCCEEDED(link->GetIconLocation(buffer, MAX_PATH * 2, &p.iconIndex))) p.iconPath = buffer;
      if (SUCCEEDED(link->GetDescription(buffer, MAX_PATH * 2))) p.description = buffer;
    }
    persist->Release();
  }
  link->Release();
  return p;
}

class ShortcutTest : public ::testing::Test {
 protected:
  void SetUp() override { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
  void TearDown() override { CoUninitialize(); }
};

TEST_F(ShortcutTest, PathsLieDirectlyInTheKnownFolders) {
  EXPECT_EQ(StartMenuShortcutPath(), KnownFolderPath(FOLDERID_Programs) + L"\\Norvale Lockra.lnk");
  EXPECT_EQ(DesktopShortcutPath(), KnownFolderPath(FOLDERID_Desktop) + L"\\Norvale Lockra.lnk");
  EXPECT_FALSE(KnownFolderPath(FOLDERID_Programs).empty());
}

TEST_F(ShortcutTest, PropertiesReadBackAndASecondWriteReplacesTheFirst) {
  std::wstring dir = FreshFolder(L"raccourcis");
  std::wstring installDir = dir + L"\\Norvale Lockra";
  std::wstring target = installDir + L"\\Norvale-Lockra.exe";
  std::wstring file = dir + L"\\Norvale Lockra.lnk";
  // The target does not exist: the shortcut is written all the same.
  ASSERT_TRUE(CreateShortcut(file, dir + L"\\old\\Norvale-Lockra.exe", dir + L"\\old"));
  ASSERT_TRUE(CreateShortcut(file, target, installDir));
  LinkProperties p = LoadLink(file);
  ASSERT_TRUE(p.loaded);
  EXPECT_EQ(p.target, target);
  EXPECT_EQ(p.workingDir, installDir);
  EXPECT_EQ(p.iconPath, target);
  EXPECT_EQ(p.iconIndex, 0);
  EXPECT_EQ(p.description, L"Coffre-fort de mots de passe et de codes \u00e0 deux facteurs");

  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((dir + L"\\*.lnk").c_str(), &data);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  int count = 0;
  do ++count;
  while (FindNextFileW(find, &data));
  FindClose(find);
  EXPECT_EQ(count, 1);
}

// A shortcut read by another program just as it is deleted (under Wine the
// menu builder opens every new one) still goes.
TEST_F(ShortcutTest, ShortcutHeldForAMomentIsStillDeleted) {
  std::wstring dir = FreshFolder(L"raccourci-ouvert");
  const std::wstring file = dir + L"\\Norvale Lockra.lnk";
  ASSERT_TRUE(CreateShortcut(file, dir + L"\\Norvale-Lockra.exe", dir));
  HANDLE held = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  std::thread letGo = CloseAfter(held, 300);
  DeleteShortcut(file);
  letGo.join();
  EXPECT_FALSE(FileExists(file));
}

TEST_F(ShortcutTest, NoFileNameNoShortcut) {
  std::wstring dir = FreshFolder(L"sans-nom");
  EXPECT_FALSE(CreateShortcut(L"", dir + L"\\Norvale-Lockra.exe", dir));
  EXPECT_FALSE(FileExists(L"\\Norvale Lockra.lnk")) << "never relative to the current drive";
  DeleteShortcut(L"");                    // ignored
  DeleteShortcut(dir + L"\\absent.lnk");  // ignored
}

}  // namespace
