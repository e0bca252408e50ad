#include <shlobj.h>
#include <windows.h>

#include "app/helpers.h"
#include "app/log.h"
#include "app/setup_lock.h"
#include "app/state.h"
#include "package/transaction.h"
#include "system/folder_guard.h"
#include "system/install_record.h"
#include "system/process.h"
#include "system/registration.h"
#include "system/sequences.h"
#include "system/shortcuts.h"

namespace {

constexpr uint32_t kGraceMs = 1500;
// Further rounds of closing and removing when a product file stays behind,
// 250 ms apart: about two seconds in all.
constexpr int kRemovalRounds = 8;
constexpr DWORD kRemovalRoundMs = 250;
constexpr wchar_t kUserDataBelowLocalAppData[] = L"\\Norvale\\Lockra";
constexpr wchar_t kNotInstalledMessage[] = L"Norvale Lockra n\u2019est pas install\u00e9 dans ce dossier.";

bool IsLink(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// True when a folder between `dir` and the named item is a junction or link:
// deleting through it would reach whatever it points to.
bool ReachedThroughLink(const std::wstring& dir, const std::wstring& name) {
  for (size_t at = name.find(L'\\'); at != std::wstring::npos; at = name.find(L'\\', at + 1))
    if (IsLink(dir + L"\\" + name.substr(0, at))) return true;
  return false;
}

// The recorded files, then the recorded folders deepest first and the
// installation folder, each only when nothing else is left in it.
void RemoveRecordedItems(const std::wstring& dir, const InstallRecord& record) {
  for (const std::wstring& file : record.files) {
    if (ReachedThroughLink(dir, file)) continue;
    const std::wstring path = dir + L"\\" + file;
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(path.c_str());
  }
  RemoveEmptyFolders(dir, record.folders, ReachedThroughLink);
  RemoveDirectoryW(dir.c_str());
}

// The product's programs are ended: everything running from its folder when
// the folder is wholly its own, else only its own files.
void CloseProductPrograms(const std::wstring& dir, const InstallRecord& record, bool wholeFolder) {
  if (wholeFolder) return CloseRunningCopies(dir, kGraceMs);
  std::vector<std::wstring> owned = record.files;
  MergeNames(&owned, {kProductExe});
  CloseRunningFiles(FullPaths(dir, owned), kGraceMs);
}

void RemoveProductFiles(const std::wstring& dir, const InstallRecord& record, bool wholeFolder) {
  if (wholeFolder)
    RemoveTree(dir);
  else if (record.valid)
    RemoveRecordedItems(dir, record);
}

// What the removal should have taken and did not: the folder when it was
// wholly the product's, else the recorded files still there (those behind a
// link are left on purpose and do not count).
std::vector<std::wstring> LeftBehind(const std::wstring& dir, const InstallRecord& record, bool wholeFolder) {
  std::vector<std::wstring> left;
  if (wholeFolder) {
    if (FileExists(dir)) left.push_back(dir);
  } else if (record.valid) {
    for (const std::wstring& file : record.files)
      if (!ReachedThroughLink(dir, file) && FileExists(dir + L"\\" + file))
        left.push_back(dir + L"\\" + file);
  }
  return left;
}

}  // namespace

std::wstring UserDataFolder() {
  std::wstring localAppData = KnownFolderPath(FOLDERID_LocalAppData);
  if (localAppData.empty()) return std::wstring();
  return localAppData + kUserDataBelowLocalAppData;
}

bool RunUninstall() {
  const std::wstring& dir = InstallerState.installDir;
  // A damaged setup file is never an uninstaller, and a folder without the
  // product is not the product's to touch: nothing changes in either case.
  if (InstallerState.damagedPackage) {
    LogLine(L"damaged setup file (its package is missing or unreadable): nothing changed");
    SetErrorText(kDamagedSetupMessage);
    return false;
  }
  if (!TakeSetupLockForRun()) return false;
  // An install that a crash interrupted is undone first, so that what is
  // judged below is what the product really owns.
  RecoverInterruptedInstall(dir);
  const InstallRecord record = ReadInstallRecord(dir);
  const std::wstring exePath = dir + L"\\" + kProductExe;
  if (dir.empty() || (!record.valid && !FileExists(exePath))) {
    LogLine(L"no product in this folder: nothing changed");
    SetErrorText(kNotInstalledMessage);
    return false;
  }
  // The whole folder goes only when the product made it; a folder from
  // before records existed, only when it is the registered one. The folder
  // guard has the last word either way.
  const bool registered = IsRegisteredInstallLocation(dir);
  const bool wholeFolder = (record.valid ? record.createdFolder : registered) && IsSafeToRemove(dir);
  // An old uninstaller run elsewhere leaves the current installation's
  // registration alone.
  const bool registration = registered || !UninstallEntryExists();

  AskTrayToQuit();
  CloseProductPrograms(dir, record, wholeFolder);

  SetStatus(L"Suppression des raccourcis\u2026");
  if (registration) {
    DeleteShortcut(StartMenuShortcutPath());
    DeleteAutoStartValue();
    DeleteShortcut(DesktopShortcutPath());
    DeleteUninstallEntry();
  }

  SetStatus(L"Suppression des fichiers\u2026");
  InstallerState.bytesTotal.store(100);
  RemoveProductFiles(dir, record, wholeFolder);
  // A copy of the product that was only starting when the programs were
  // closed (the relaunch at the end of an update just before) escaped them
  // and holds its file; so can a file the system releases a moment after
  // its program ended. Close and remove again for a short while.
  for (int round = 0; round < kRemovalRounds && !LeftBehind(dir, record, wholeFolder).empty(); ++round) {
    Sleep(kRemovalRoundMs);
    AskTrayToQuit();
    CloseProductPrograms(dir, record, wholeFolder);
    RemoveProductFiles(dir, record, wholeFolder);
  }
  if (!wholeFolder)
    for (const std::wstring& path : LeftBehind(dir, record, wholeFolder))
      LogLine(L"could not be removed (in use?): " + path);
  if (wholeFolder)
    LogFolderRemoval(dir, true);
  else
    LogLine((record.valid ? L"only the recorded files and folders removed from: "
                          : L"no record and not the registered folder: nothing deleted in ") +
            dir);
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
