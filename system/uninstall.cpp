#include <shlobj.h>
#include <windows.h>

#include "app/helpers.h"
#include "app/log.h"
#include "app/setup_lock.h"
#include "app/state.h"
#include "app/texts.h"
#include "app/verdict.h"
#include "package/transaction.h"
#include "system/folder_guard.h"
#include "system/install_record.h"
#include "system/process.h"
#include "system/registration.h"
#include "system/sequences.h"
#include "system/shortcuts.h"
#include "system/uninstall_journal.h"

namespace {

constexpr uint32_t kGraceMs = 1500;
// Further rounds of closing and removing when a product file stays behind,
// 250 ms apart: about two seconds in all.
constexpr int kRemovalRounds = 8;
constexpr DWORD kRemovalRoundMs = 250;
// The log names at most this many of the files left for the user.
constexpr size_t kMaxKeptLines = 20;
constexpr wchar_t kUserDataBelowLocalAppData[] = L"\\Norvale\\Lockra";

// True when a folder between `dir` and the named item is a link: removing
// through it would reach whatever it points to.
bool ReachedThroughLink(const std::wstring& dir, const std::wstring& name) {
  for (size_t at = name.find(L'\\'); at != std::wstring::npos; at = name.find(L'\\', at + 1))
    if (IsLinkAt(dir + L"\\" + name.substr(0, at))) return true;
  return false;
}

bool IsUninstaller(const std::wstring& name) { return SameTextIgnoringCase(name, kUninstallerName); }

// Everything in a folder from before records existed, as if a record listed
// it: the files (and links) and the folders below it.
void ListFolder(const std::wstring& dir, const std::wstring& prefix, InstallRecord* items) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((dir + L"\\" + prefix + L"*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L".." || (prefix.empty() && name == kUninstallJournalName)) continue;
    const std::wstring relative = prefix + name;
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !IsLinkAt(dir + L"\\" + relative)) {
      items->folders.push_back(relative);
      ListFolder(dir, relative + L"\\", items);
    } else {
      items->files.push_back(relative);
    }
  } while (FindNextFileW(find, &data));
  FindClose(find);
}

// The product's programs are ended: everything running from its folder for a
// folder from before records existed, else only its own files.
void CloseProductPrograms(const std::wstring& dir, const UninstallJournal& journal) {
  if (journal.wholeFolder) return CloseRunningCopies(dir, kGraceMs);
  std::vector<std::wstring> owned = journal.items.files;
  MergeNames(&owned, {kProductExe});
  CloseRunningFiles(FullPaths(dir, owned), kGraceMs);
}

// The files to remove now: all of them but the uninstaller when `allButLast`.
void RemoveFiles(const std::wstring& dir, const UninstallJournal& journal, bool allButLast) {
  for (const std::wstring& file : journal.items.files)
    if (!(allButLast && IsUninstaller(file)) && !ReachedThroughLink(dir, file))
      RemoveFile(dir + L"\\" + file);
}

// The listed files that are still there (those behind a link are left on
// purpose and do not count, nor do links the system cannot remove alone).
std::vector<std::wstring> LeftBehind(const std::wstring& dir, const UninstallJournal& journal,
                                     bool allButLast) {
  std::vector<std::wstring> left;
  for (const std::wstring& file : journal.items.files) {
    const std::wstring path = dir + L"\\" + file;
    if ((allButLast && IsUninstaller(file)) || ReachedThroughLink(dir, file) || !FileExists(path)) continue;
    // The running uninstaller's own file, when it could not relocate, stays
    // as it always has.
    if (SameTextIgnoringCase(path, InstallerState.selfPath)) continue;
    if (!IsRedirected(path)) left.push_back(path);
  }
  return left;
}

// Removes the listed files, retrying for a while (a copy of the product that
// was only starting when the programs were closed, or a file the system
// releases a moment after its program ended). What stays is returned.
std::vector<std::wstring> RemoveWithRetries(const std::wstring& dir, const UninstallJournal& journal,
                                            bool allButLast, bool closePrograms) {
  RemoveFiles(dir, journal, allButLast);
  std::vector<std::wstring> left = LeftBehind(dir, journal, allButLast);
  for (int round = 0; round < kRemovalRounds && !left.empty(); ++round) {
    Sleep(kRemovalRoundMs);
    if (closePrograms) {
      AskTrayToQuit();
      CloseProductPrograms(dir, journal);
    }
    RemoveFiles(dir, journal, allButLast);
    left = LeftBehind(dir, journal, allButLast);
  }
  for (const std::wstring& path : left) LogLine(L"could not be removed (in use?): " + path);
  return left;
}

// The folders the product made, deepest first, then the installation folder,
// each only once nothing is left in it; whatever is left is named in the log.
void RemoveFolders(const std::wstring& dir, const UninstallJournal& journal) {
  RemoveTree(dir + L"\\" + kRollbackFolderName);
  RemoveEmptyFolders(dir, journal.items.folders, ReachedThroughLink);
  if (RemoveEmptyFolder(dir)) {
    LogFolderRemoval(dir, true);
    return;
  }
  size_t lines = 0;
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((dir + L"\\*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = data.cFileName;
      if (name == L"." || name == L".." || name == kUninstallJournalName) continue;
      if (lines++ < kMaxKeptLines) LogLine(L"kept (not installed by the product): " + dir + L"\\" + name);
    } while (FindNextFileW(find, &data));
    FindClose(find);
  }
  if (lines > kMaxKeptLines) LogFormat(L"kept: %zu more", lines - kMaxKeptLines);
  LogLine(L"the folder stays, with what the product did not install: " + dir);
}

void RemoveRegistration(const UninstallJournal& journal) {
  if (!journal.registration) return;
  SetStatus(kStatusRemovingShortcuts);
  DeleteShortcut(StartMenuShortcutPath());
  DeleteAutoStartValue();
  DeleteShortcut(DesktopShortcutPath());
  DeleteUninstallEntry();
}

// What an uninstall will remove, from the record (or, for a folder from
// before records existed, what it holds when it is the registered one).
// Not valid when the folder is not the product's to touch.
UninstallJournal PlanUninstall(const std::wstring& dir) {
  UninstallJournal journal;
  const InstallRecord record = ReadInstallRecord(dir);
  const bool registered = IsRegisteredInstallLocation(dir);
  // An old uninstaller run elsewhere leaves the current installation's
  // registration alone.
  journal.registration = registered || !UninstallEntryExists();
  if (record.valid) {
    journal.items = record;
  } else if (registered && FileExists(dir + L"\\" + kProductExe) && IsSafeToRemove(dir)) {
    journal.wholeFolder = true;
    journal.items.valid = true;
    ListFolder(dir, L"", &journal.items);
  } else {
    return journal;
  }
  MergeNames(&journal.items.files, {kUninstallerName, kInstallRecordName});
  journal.valid = true;
  return journal;
}

std::wstring CannotRemoveMessage(const std::wstring& dir, const std::vector<std::wstring>& left) {
  const std::wstring first = left.front().substr(dir.size() + 1);
  return CannotRemoveFilesMessage(first, left.size() - 1);
}

bool Fail(const std::wstring& message) {
  SetErrorText(message);
  ReportVerdict(false);
  return false;
}

}  // namespace

std::wstring UserDataFolder() {
  std::wstring localAppData = KnownFolderPath(FOLDERID_LocalAppData);
  if (localAppData.empty()) return std::wstring();
  return localAppData + kUserDataBelowLocalAppData;
}

bool FinishInterruptedUninstall(const std::wstring& dir) {
  const UninstallJournal journal = ReadUninstallJournal(dir);
  if (!journal.valid) return true;
  LogLine(L"an uninstall that stopped part-way is finished first: " + dir);
  if (!RemoveWithRetries(dir, journal, false, false).empty()) return false;
  DeleteUninstallJournal(dir);
  RemoveFolders(dir, journal);
  return true;
}

bool RunUninstall() {
  const std::wstring& dir = InstallerState.installDir;
  // A damaged setup file is never an uninstaller, and a folder without the
  // product is not the product's to touch: nothing changes in either case.
  if (InstallerState.damagedPackage) {
    LogLine(L"damaged setup file (its package is missing or unreadable): nothing changed");
    return Fail(kDamagedSetupMessage);
  }
  if (!TakeSetupLockForRun()) {
    ReportVerdict(false);
    return false;
  }
  // An install that a crash interrupted is undone first, so that what is
  // judged below is what the product really owns.
  if (!dir.empty() && !RecoverInterruptedInstall(dir)) {
    LogLine(L"an interrupted install could not be undone: nothing changed");
    return Fail(UnfinishedInstallMessage());
  }
  // A registered folder from before records existed that is far broader
  // than the product (a profile, a drive root): nothing in it is deleted,
  // everything else is done.
  if (!dir.empty() && !ReadUninstallJournal(dir).valid && !ReadInstallRecord(dir).valid &&
      IsRegisteredInstallLocation(dir) && FileExists(dir + L"\\" + kProductExe) && !IsSafeToRemove(dir)) {
    AskTrayToQuit();
    CloseRunningFiles({dir + L"\\" + kProductExe}, kGraceMs);
    RemoveRegistration(UninstallJournal{true, false, true, {}});
    LogFolderRemoval(dir, false);
    InstallerState.bytesTotal.store(100);
    InstallerState.bytesDone.store(100);
    SetStatus(kStatusFinished);
    ReportVerdict(true);
    return true;
  }
  // An uninstall that stopped part-way carries on from its journal; a new
  // one writes its journal before it changes anything.
  UninstallJournal journal = ReadUninstallJournal(dir);
  if (journal.valid) {
    LogLine(L"an uninstall that stopped part-way is taken up again");
  } else {
    journal = dir.empty() ? UninstallJournal() : PlanUninstall(dir);
    if (!journal.valid) {
      LogLine(FileExists(dir + L"\\" + kProductExe)
                  ? L"no record and not the registered folder: nothing changed in " + dir
                  : L"no product in this folder: nothing changed");
      return Fail(kNotInstalledMessage);
    }
    if (!WriteUninstallJournal(dir, journal)) {
      LogLine(L"the uninstall journal could not be written: nothing changed");
      return Fail(kFolderUnchangeableMessage);
    }
  }

  AskTrayToQuit();
  CloseProductPrograms(dir, journal);

  // The product's files first, the uninstaller last: the entry in the list
  // of installed applications keeps working until the files are gone.
  SetStatus(kStatusRemovingFiles);
  InstallerState.bytesTotal.store(100);
  const std::vector<std::wstring> left = RemoveWithRetries(dir, journal, true, true);
  if (!left.empty()) {
    LogLine(L"the uninstall stopped: what is left is listed in " + dir + L"\\" + kUninstallJournalName);
    return Fail(CannotRemoveMessage(dir, left));
  }
  InstallerState.bytesDone.store(60);
  RemoveRegistration(journal);

  if (InstallerState.removeUserData) {
    SetStatus(kStatusRemovingData);
    std::wstring userData = UserDataFolder();
    if (!userData.empty()) RemoveTree(userData);
    LogFolderRemoval(userData, !userData.empty());
  }

  // The first process, when it waits, learns the result now; its own file
  // goes once it has ended.
  ReportVerdict(true);
  WaitForFirstProcessEnd();
  const bool whole = RemoveWithRetries(dir, journal, false, false).empty();
  if (whole) DeleteUninstallJournal(dir);
  RemoveFolders(dir, journal);
  InstallerState.bytesDone.store(100);
  if (!whole) {
    SetErrorText(CannotRemoveMessage(dir, LeftBehind(dir, journal, false)));
    return false;
  }
  SetStatus(kStatusFinished);
  return true;
}
