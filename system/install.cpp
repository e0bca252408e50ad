#include <objbase.h>
#include <windows.h>

#include "app/helpers.h"
#include "app/log.h"
#include "app/state.h"
#include "package/package.h"
#include "system/folder_guard.h"
#include "system/process.h"
#include "system/registration.h"
#include "system/sequences.h"
#include "system/shortcuts.h"

namespace {

constexpr uint32_t kLongGraceMs = 20000;
constexpr uint32_t kShortGraceMs = 1500;

std::wstring AccessGrantCommand(const std::wstring& dir) {
  return L"icacls.exe \"" + dir + L"\" /grant *S-1-15-2-2:(OI)(CI)(RX) /T /C /Q";
}

}  // namespace

bool RunInstall() {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  const std::wstring& dir = InstallerState.installDir;
  const std::wstring exePath = dir + L"\\" + kProductExe;
  const bool update = InstallerState.mode == Update;

  const bool trayFound = AskTrayToQuit();
  const uint32_t grace = (update || InstallerState.silent) ? kLongGraceMs : kShortGraceMs;
  // A folder as broad as a drive or a profile holds other programs too: then
  // only the product's own executable is ended, never everything inside.
  if (IsSafeToRemove(dir))
    CloseRunningCopies(dir, grace);
  else if (!dir.empty())
    CloseRunningProduct(exePath, grace);

  SetStatus(L"Pr\u00e9paration\u2026");
  CreateDirectories(dir);
  // Nothing of an earlier ui folder may survive, whatever the package holds.
  if (!dir.empty()) RemoveTree(dir + L"\\ui");

  bool ok = ExtractPayload();
  LogExtractionResult(ok);
  if (ok) {
    SetStatus(L"Inscription dans Windows\u2026");
    ok = WriteUninstaller();
    LogLine(ok ? L"uninstall.exe written" : L"uninstall.exe could not be written");
    if (!ok) {
      SetErrorText(L"Impossible de cr\u00e9er le d\u00e9sinstalleur.");
    } else {
      RunHiddenAndWait(AccessGrantCommand(dir));
      WriteUninstallEntry();
      CreateShortcut(StartMenuShortcutPath(), exePath, dir);
      if (FileExists(exePath) && trayFound) LaunchProduct(exePath, dir, L"--background");
      if (InstallerState.createDesktopShortcut && InstallerState.mode == Install && !InstallerState.silent)
        CreateShortcut(DesktopShortcutPath(), exePath, dir);
      SetStatus(L"Termin\u00e9");
    }
  }
  CoUninitialize();
  return ok;
}
