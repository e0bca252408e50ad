// The uninstall entry read back with its value types, sizes and order, and
// its deletion together with the automatic-start value.
#include <algorithm>

#include "system/registration.h"
#include "system_test_util.h"

using namespace systest;

namespace {

const wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

struct RegValue {
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
  bool present = false;
};

RegValue Read(const wchar_t* key, const wchar_t* name) {
  RegValue v;
  HKEY h;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, key, 0, KEY_QUERY_VALUE, &h) != ERROR_SUCCESS) return v;
  DWORD size = 0;
  if (RegQueryValueExW(h, name, nullptr, &v.type, nullptr, &size) == ERROR_SUCCESS) {
    v.data.resize(size);
    v.present = RegQueryValueExW(h, name, nullptr, &v.type, v.data.data(), &size) == ERROR_SUCCESS;
  }
  RegCloseKey(h);
  return v;
}

// A REG_SZ stored with its terminator: (length + 1) * 2 bytes.
void ExpectString(const wchar_t* name, const std::wstring& expected) {
  RegValue v = Read(kUninstallKey, name);
  ASSERT_TRUE(v.present) << Narrow(name);
  EXPECT_EQ(v.type, static_cast<DWORD>(REG_SZ)) << Narrow(name);
  ASSERT_EQ(v.data.size(), (expected.size() + 1) * 2) << Narrow(name);
  std::wstring text(reinterpret_cast<const wchar_t*>(v.data.data()), expected.size());
  EXPECT_EQ(text, expected) << Narrow(name);
  EXPECT_EQ(reinterpret_cast<const wchar_t*>(v.data.data())[expected.size()], L'\0');
}

void ExpectDword(const wchar_t* name, uint32_t expected) {
  RegValue v = Read(kUninstallKey, name);
  ASSERT_TRUE(v.present) << Narrow(name);
  EXPECT_EQ(v.type, static_cast<DWORD>(REG_DWORD)) << Narrow(name);
  ASSERT_EQ(v.data.size(), 4u);
  uint32_t value = v.data[0] | v.data[1] << 8 | v.data[2] << 16 | static_cast<uint32_t>(v.data[3]) << 24;
  EXPECT_EQ(value, expected) << Narrow(name);
}

std::vector<std::wstring> ValueNames() {
  std::vector<std::wstring> names;
  HKEY h;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kUninstallKey, 0, KEY_QUERY_VALUE, &h) != ERROR_SUCCESS) return names;
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    DWORD len = 256;
    if (RegEnumValueW(h, i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    names.emplace_back(name, len);
  }
  RegCloseKey(h);
  return names;
}

bool KeyExists(const wchar_t* key) {
  HKEY h;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, key, 0, KEY_READ, &h) != ERROR_SUCCESS) return false;
  RegCloseKey(h);
  return true;
}

class RegistrationTest : public ::testing::Test {
 protected:
  void SetUp() override { DeleteUninstallEntry(); }
  void TearDown() override {
    DeleteUninstallEntry();
    InstallerState.bytesTotal = 0;
  }
  void Install(const std::wstring& dir, const std::wstring& version, uint64_t total) {
    InstallerState.installDir = dir;
    InstallerState.version = version;
    InstallerState.bytesTotal = total;
    WriteUninstallEntry();
  }
};

TEST_F(RegistrationTest, ElevenValuesInOrderWithTypesAndQuoting) {
  const std::wstring dir = L"C:\\Program Test\\Norvale Lockra";
  Install(dir, L"2.4.1", (1u << 20) + 1023);
  std::vector<std::wstring> expectedNames = {L"DisplayName",     L"DisplayVersion",       L"Publisher",
                                             L"DisplayIcon",     L"InstallLocation",      L"URLInfoAbout",
                                             L"UninstallString", L"QuietUninstallString", L"NoModify",
                                             L"NoRepair",        L"EstimatedSize"};
  // Exactly these values; the registry lists them in its own order.
  std::vector<std::wstring> names = ValueNames();
  std::sort(names.begin(), names.end());
  std::sort(expectedNames.begin(), expectedNames.end());
  EXPECT_EQ(names, expectedNames);
  ExpectString(L"DisplayName", L"Norvale Lockra");
  ExpectString(L"DisplayVersion", L"2.4.1");
  ExpectString(L"Publisher", L"\u00c9quipe Norvale");
  ExpectString(L"DisplayIcon", dir + L"\\Norvale-Lockra.exe,0");
  ExpectString(L"InstallLocation", dir);
  ExpectString(L"URLInfoAbout", L"https://norvale.app");
  ExpectString(L"UninstallString", L"\"C:\\Program Test\\Norvale Lockra\\uninstall.exe\" /uninstall");
  ExpectString(L"QuietUninstallString", L"\"C:\\Program Test\\Norvale Lockra\\uninstall.exe\" /uninstall /S");
  ExpectDword(L"NoModify", 1);
  ExpectDword(L"NoRepair", 1);
  ExpectDword(L"EstimatedSize", 1024);  // the remainder below one kibibyte is dropped
}

TEST_F(RegistrationTest, EstimatedSizeIsWholeKibibytesInThirtyTwoBits) {
  const uint64_t totals[] = {0, 1023, 1024, 1u << 20, (5ull << 42) + (7u << 10) + 5};
  const uint32_t expected[] = {0, 0, 1, 1024, 7};
  for (size_t i = 0; i < 5; ++i) {
    Install(L"C:\\NorvaleTests\\size", L"1.0", totals[i]);
    ExpectDword(L"EstimatedSize", expected[i]);
  }
}

TEST_F(RegistrationTest, RewriteReplacesOurValuesAndKeepsOthers) {
  Install(L"C:\\NorvaleTests\\a", L"1.0.0", 4096);
  WriteRegString(kUninstallKey, L"Comments", L"ajout\u00e9 par un autre programme");
  Install(L"C:\\NorvaleTests\\a", L"1.1.0", 8192);
  ExpectString(L"DisplayVersion", L"1.1.0");
  ExpectDword(L"EstimatedSize", 8);
  ExpectString(L"Comments", L"ajout\u00e9 par un autre programme");
  EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, kUninstallKey, L"InstallLocation"), L"C:\\NorvaleTests\\a");
}

TEST_F(RegistrationTest, DeleteRemovesTheWholeKeyAndTheAutoStartValueOnly) {
  Install(L"C:\\NorvaleTests\\a", L"1.0.0", 4096);
  WriteRegString(std::wstring(kUninstallKey) + L"\\Sub", L"x", L"y");
  WriteRegString(kRunKey, L"Norvale Lockra", L"\"C:\\NorvaleTests\\a\\Norvale-Lockra.exe\" --background");
  WriteRegString(kRunKey, L"Autre programme", L"autre.exe");
  DeleteUninstallEntry();
  DeleteAutoStartValue();
  EXPECT_FALSE(KeyExists(kUninstallKey));
  EXPECT_FALSE(Read(kRunKey, L"Norvale Lockra").present);
  EXPECT_TRUE(Read(kRunKey, L"Autre programme").present) << "other programs' start values stay";
  RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunKey, L"Autre programme");
  DeleteUninstallEntry();  // an absent key is silently ignored
  DeleteAutoStartValue();
}

}  // namespace
