// The check that stands between the uninstaller and a folder that holds far
// more than the product.
#include <shlobj.h>

#include "system/folder_guard.h"
#include "system_test_util.h"

using namespace systest;

namespace {

TEST(FolderGuard, RootsRelativePathsAndEmptyAreRefused) {
  for (const wchar_t* path : {L"", L"\\", L"C:", L"C:\\", L"C:\\\\", L"c:/", L"D:\\", L"\\\\serveur\\partage",
                              L"\\\\serveur\\partage\\", L"\\\\serveur", L"\\\\?\\C:\\", L"\\\\.\\C:\\x",
                              L"Programs\\Norvale Lockra", L"\\Programs\\Norvale Lockra", L"C:Norvale",
                              L"C:\\NorvaleTests\\..", L"C:\\NorvaleTests\\x\\..\\.."})
    EXPECT_FALSE(IsSafeToRemove(path)) << Narrow(path);
}

TEST(FolderGuard, KnownFoldersAndEverythingAboveThemAreRefused) {
  const KNOWNFOLDERID* ids[] = {&FOLDERID_Profile,     &FOLDERID_LocalAppData, &FOLDERID_RoamingAppData,
                                &FOLDERID_Programs,    &FOLDERID_StartMenu,    &FOLDERID_Desktop,
                                &FOLDERID_Documents,   &FOLDERID_Downloads,    &FOLDERID_Windows,
                                &FOLDERID_ProgramFiles};
  for (const KNOWNFOLDERID* id : ids) {
    std::wstring known = KnownFolderPath(*id);
    ASSERT_FALSE(known.empty());
    EXPECT_FALSE(IsSafeToRemove(known)) << Narrow(known);
    EXPECT_FALSE(IsSafeToRemove(known + L"\\")) << Narrow(known);
    EXPECT_FALSE(IsSafeToRemove(ParentDirectory(known))) << Narrow(known);
    std::wstring upper = known;
    CharUpperW(upper.data());
    for (wchar_t& c : upper)
      if (c == L'\\') c = L'/';
    EXPECT_FALSE(IsSafeToRemove(upper)) << Narrow(upper);
  }
  std::wstring profile = KnownFolderPath(FOLDERID_Profile);
  EXPECT_FALSE(IsSafeToRemove(profile + L"\\AppData\\..")) << "dot segments are not judged by their text";
  EXPECT_FALSE(IsSafeToRemove(KnownFolderPath(FOLDERID_LocalAppData) + L"\\Programs"));
}

TEST(FolderGuard, ProductFoldersAreAccepted) {
  std::wstring local = KnownFolderPath(FOLDERID_LocalAppData);
  for (const std::wstring& path :
       {local + L"\\Programs\\Norvale Lockra", local + L"\\Programs\\Norvale Lockra\\",
        KnownFolderPath(FOLDERID_Documents) + L"\\Norvale", std::wstring(L"C:\\NorvaleTests\\Norvale Lockra"),
        std::wstring(L"\\\\serveur\\partage\\Norvale Lockra")})
    EXPECT_TRUE(IsSafeToRemove(path)) << Narrow(path);
}

TEST(FolderGuard, ListCheckComparesWholeComponents) {
  const std::wstring known[] = {L"C:\\Users\\ana", L"D:\\Data\\"};
  EXPECT_FALSE(IsSafeToRemoveAmong(L"C:\\Users", known, 2));
  EXPECT_FALSE(IsSafeToRemoveAmong(L"c:\\users\\ANA", known, 2));
  EXPECT_FALSE(IsSafeToRemoveAmong(L"D:\\Data", known, 2));
  EXPECT_TRUE(IsSafeToRemoveAmong(L"C:\\Users\\anabel", known, 2)) << "a longer name is another folder";
  EXPECT_TRUE(IsSafeToRemoveAmong(L"C:\\Users\\ana\\Appli", known, 2));
  EXPECT_TRUE(IsSafeToRemoveAmong(L"C:\\Users\\an", known, 2));
}

TEST(FolderGuard, ALinkToAKnownFolderIsRefused) {
  std::wstring dir = FreshFolder(L"lien");
  std::wstring link = dir + L"\\profil";
  if (!CreateSymbolicLinkW(link.c_str(), KnownFolderPath(FOLDERID_Profile).c_str(),
                           SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE))
    GTEST_SKIP() << "this system cannot make a folder link";
  if (GetFileAttributesW(link.c_str()) == INVALID_FILE_ATTRIBUTES)
    GTEST_SKIP() << "the link was reported made but does not exist (Wine)";
  EXPECT_FALSE(IsSafeToRemove(link));
  RemoveDirectoryW(link.c_str());
}

}  // namespace
