// The installation folder made from the folder chosen in the dialog.
#include <gtest/gtest.h>

#include "window/folder_picker.h"

TEST(WindowFolderPicker, ProductFolderIsAppendedOnce) {
  EXPECT_EQ(InstallFolderFor(L"D:\\Apps"), L"D:\\Apps\\Norvale Lockra");
  EXPECT_EQ(InstallFolderFor(L"D:\\Apps\\"), L"D:\\Apps\\Norvale Lockra");
  EXPECT_EQ(InstallFolderFor(L"D:\\Apps\\norvale lockra"), L"D:\\Apps\\norvale lockra");
  EXPECT_EQ(InstallFolderFor(L"D:\\Apps\\NORVALE LOCKRA\\\\"), L"D:\\Apps\\NORVALE LOCKRA");
}

TEST(WindowFolderPicker, RootsAndLookalikes) {
  EXPECT_EQ(InstallFolderFor(L"E:\\"), L"E:\\Norvale Lockra");
  EXPECT_EQ(InstallFolderFor(L"D:\\MyNorvale Lockra"), L"D:\\MyNorvale Lockra\\Norvale Lockra");
  EXPECT_EQ(InstallFolderFor(L"C:"), L"C:\\Norvale Lockra");
  EXPECT_EQ(InstallFolderFor(L"\\\\server\\share\\Norvale Lockra"), L"\\\\server\\share\\Norvale Lockra");
}
