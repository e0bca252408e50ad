#include <shlobj.h>
#include <windows.h>

#include "app/helpers.h"
#include "app/log.h"
#include "app/state.h"
#include "system/folder_guard.h"
#include "system/process.h"
#include "system/registration.h"
#include "system/sequences.h"
#include "system/shortcuts.h"

namespace {

constexpr uint32_t kGraceMs = 1500;
constexpr wchar_t kUserDataBelowLocalAppData[] = L"\\Norvale\\Lockra";

}  // namespace

std::wstring UserDataFolder() {
  std::wstring localAppData = KnownFolderPath(FOLDERID_LocalAppData);
  if (localAppData.empty()) return std::wstring();
  return localAppData + kUserDataBelowLocalAppData;
}

bool RunUninstall() {
  const std::wstring& dir = InstallerState.installDir;
  // The folder comes from "/dir=", from where the uninstaller lies or from the
  // registry; any of them can name far more than the product. Such a folder
  // is left alone entirely: neither its processes ended nor its files deleted.
  const bool removable = IsSafeToRemove(dir);

  AskTrayToQuit();
  if (removable)
    CloseRunningCopies(dir, kGraceMs);
  else if (!dir.empty())
    CloseRunningProduct(dir + L"\\" + kProductExe, kGraceMs);

  SetStatus(L"Suppression des raccourcis\u2026");
  DeleteShortcut(StartMenuShortcutPath());
  DeleteAutoStartValue();
  DeleteShortcut(DesktopShortcutPath());
  DeleteUninstallEntry();

  SetStatus(L"Suppression des fichiers\u2026");
  InstallerState.bytesTotal.store(100);
  if (removable) RemoveTree(dir);
  LogFolderRemoval(dir, removable);
  InstallerState.bytesDone.store(60);

  if (InstallerState.removeUserData) {
    SetStatus(L"Suppression de vos donn\u00e9es\u2026");
    std::wstring userData = UserDataFolder();
    if (!userData.empty()) RemoveTree(userData);
    LogFolderRemoval(userData, !userData.empty());
  }
  InstallerState.bytesDone.store(100);
  SetStatus(L"Termin\u00e9");
  return true;
}
