#include "system/registration.h"

#include <windows.h>

#include "app/helpers.h"
#include "app/log.h"
#include "app/state.h"
#include "app/texts.h"

namespace {

constexpr wchar_t kMakerAddress[] = L"https://norvale.app";
constexpr wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

}  // namespace

std::wstring UninstallCommandLine(const std::wstring& installDir) {
  return L"\"" + installDir + L"\\" + kUninstallerName + L"\" /uninstall";
}

void WriteUninstallEntry() {
  const std::wstring& dir = InstallerState.installDir;
  const std::wstring exePath = dir + L"\\" + kProductExe;
  const std::wstring uninstall = UninstallCommandLine(dir);
  const uint64_t total = InstallerState.bytesTotal.load();

  WriteRegString(kUninstallKey, L"DisplayName", kProductName);
  WriteRegString(kUninstallKey, L"DisplayVersion", InstallerState.version);
  WriteRegString(kUninstallKey, L"Publisher", kPublisher);
  WriteRegString(kUninstallKey, L"DisplayIcon", exePath + L",0");
  WriteRegString(kUninstallKey, L"InstallLocation", dir);
  WriteRegString(kUninstallKey, L"URLInfoAbout", kMakerAddress);
  WriteRegString(kUninstallKey, L"UninstallString", uninstall);
  WriteRegString(kUninstallKey, L"QuietUninstallString", uninstall + L" /S");
  WriteRegDword(kUninstallKey, L"NoModify", 1);
  WriteRegDword(kUninstallKey, L"NoRepair", 1);
  WriteRegDword(kUninstallKey, L"EstimatedSize", static_cast<uint32_t>(total >> 10));
}

bool IsRegisteredInstallLocation(const std::wstring& dir) {
  std::wstring registered = ReadRegString(HKEY_CURRENT_USER, kUninstallKey, L"InstallLocation");
  std::wstring folder = dir;
  while (!registered.empty() && registered.back() == L'\\') registered.pop_back();
  while (!folder.empty() && folder.back() == L'\\') folder.pop_back();
  return !folder.empty() && SameTextIgnoringCase(registered, folder);
}

bool UninstallEntryExists() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kUninstallKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

void DeleteUninstallEntry() {
  LogResult(std::wstring(L"registry: removed HKCU\\") + kUninstallKey,
            static_cast<DWORD>(RegDeleteTreeW(HKEY_CURRENT_USER, kUninstallKey)));
}

void DeleteAutoStartValue() {
  LogResult(std::wstring(L"registry: removed HKCU\\") + kRunKey + L"\\" + kProductName,
            static_cast<DWORD>(RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunKey, kProductName)));
}
