// Late DLLs come from System32, with their imports.
#include <gtest/gtest.h>

#include "app/system_dll.h"
#include "support/test_support.h"

namespace {

std::wstring ModuleFolder(HMODULE module) {
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(module, path, MAX_PATH);
  std::wstring full(path, n);
  return full.substr(0, full.find_last_of(L'\\'));
}

TEST(LoadSystemLibrary, LoadsFromSystem32WithReferenceCounting) {
  wchar_t system[MAX_PATH];
  GetSystemDirectoryW(system, MAX_PATH);
  ASSERT_EQ(GetModuleHandleW(L"cabinet.dll"), nullptr) << "loaded before the test";
  HMODULE cabinet = LoadSystemLibrary(L"cabinet.dll");
  ASSERT_NE(cabinet, nullptr);
  EXPECT_EQ(_wcsicmp(ModuleFolder(cabinet).c_str(), system), 0);
  HMODULE again = LoadSystemLibrary(L"cabinet.dll");
  EXPECT_EQ(again, cabinet);
  FreeLibrary(again);
  EXPECT_NE(GetModuleHandleW(L"cabinet.dll"), nullptr) << "one reference is still held";
  FreeLibrary(cabinet);
  EXPECT_EQ(LoadSystemLibrary(L"no-such-library-here.dll"), nullptr);
}

}  // namespace
