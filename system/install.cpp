#include <objbase.h>
#include <windows.h>

#include <algorithm>

#include "app/helpers.h"
#include "app/log.h"
#include "app/setup_lock.h"
#include "app/state.h"
#include "app/texts.h"
#include "package/package.h"
#include "package/transaction.h"
#include "system/folder_guard.h"
#include "system/install_record.h"
#include "system/process.h"
#include "system/registration.h"
#include "system/sequences.h"
#include "system/shortcuts.h"

namespace {

constexpr uint32_t kLongGraceMs = 20000;
constexpr uint32_t kShortGraceMs = 1500;
constexpr wchar_t kGrantFolder[] = L" /grant *S-1-15-2-2:(OI)(CI)(RX) /T /C /Q";
constexpr wchar_t kGrantFile[] = L" /grant *S-1-15-2-2:(RX) /C /Q";

void Grant(const std::wstring& icacls, const std::wstring& path, const wchar_t* rights) {
  RunHiddenAndWait(icacls, L"\"" + icacls + L"\" \"" + path + L"\"" + rights);
}

bool UnderAnyFolder(const std::wstring& name, const std::vector<std::wstring>& folders) {
  for (size_t at = name.find(L'\\'); at != std::wstring::npos; at = name.find(L'\\', at + 1))
    if (ContainsName(folders, name.substr(0, at))) return true;
  return false;
}

// Read and execute for restricted application containers. On a folder the
// product made, the whole tree; in a folder that was the user's before, only
// what the product put there, so that the user's own files keep their rights.
void GrantAccess(const std::wstring& dir, bool ownsFolder, const std::vector<std::wstring>& files,
                 const std::vector<std::wstring>& createdFolders) {
  const std::wstring icacls = SystemToolPath(L"icacls.exe");
  if (ownsFolder) {
    Grant(icacls, dir, kGrantFolder);
    return;
  }
  for (const std::wstring& folder : createdFolders)
    if (!UnderAnyFolder(folder, createdFolders)) Grant(icacls, dir + L"\\" + folder, kGrantFolder);
  for (const std::wstring& file : files)
    if (!UnderAnyFolder(file, createdFolders)) Grant(icacls, dir + L"\\" + file, kGrantFile);
}

// What the product owns in the folder before this run: the earlier record,
// or for a folder installed before records existed, the whole registered
// folder that holds the product.
struct Ownership {
  InstallRecord earlier;
  bool legacyOwned = false;
  bool ownsFolder = false;
};

Ownership JudgeOwnership(const std::wstring& dir) {
  Ownership owner;
  owner.earlier = ReadInstallRecord(dir);
  owner.legacyOwned =
      !owner.earlier.valid && FileExists(dir + L"\\" + kProductExe) && IsRegisteredInstallLocation(dir);
  // A folder that was there without our record is never taken as the
  // product's own, even one an older version registered: it may hold the
  // user's files, and only what an install records is removed later.
  owner.ownsFolder = !FileExists(dir) || (owner.earlier.valid && owner.earlier.createdFolder);
  return owner;
}

// Windows' plain-path calls stop at 259 characters for a file and 247 for a
// folder; the uninstaller uses the same calls. Every path an install or its
// rollback writes must fit: the longest entry, also as it waits in
// ".norvale-rollback\ATTEMPT\" (an attempt number has at most 20 digits),
// and the temporary names of the journal and the record.
constexpr size_t kMaxFilePath = 259;
constexpr size_t kMaxFolderPath = 247;
constexpr size_t kRollbackReserve = 18 + 20 + 1;      // ".norvale-rollback\" ATTEMPT "\"
constexpr size_t kTemporaryNames = 18 + 12 + 20 + 7;  // ".norvale-rollback\journal.txt." TICK "-15.new"

bool FolderFitsPaths(const std::wstring& dir, const std::vector<std::wstring>& names) {
  size_t longestFile = kTemporaryNames, longestFolder = kRollbackReserve;
  for (const std::wstring& name : names) {
    longestFile = std::max(longestFile, kRollbackReserve + name.size());
    const size_t folder = name.find_last_of(L'\\');
    if (folder != std::wstring::npos) longestFolder = std::max(longestFolder, kRollbackReserve + folder);
  }
  return dir.size() + 1 + longestFile <= kMaxFilePath && dir.size() + 1 + longestFolder <= kMaxFolderPath;
}

}  // namespace

bool RunInstall() {
  // One run at a time: a silent one waits a little, a window says so.
  if (!TakeSetupLockForRun()) return false;
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  const std::wstring& dir = InstallerState.installDir;
  const std::wstring exePath = dir + L"\\" + kProductExe;
  const bool update = InstallerState.mode == Update;

  std::vector<std::wstring> names;
  ReadPackageEntryNames(&names);  // a damaged table is reported by the extraction
  if (!FolderFitsPaths(dir, names)) {
    LogLine(L"the folder is too long for the product's paths: nothing changed");
    SetErrorText(kFolderTooLongMessage);
    CoUninitialize();
    return false;
  }
  Ownership owner = JudgeOwnership(dir);

  const bool trayFound = AskTrayToQuit();
  const uint32_t grace = (update || InstallerState.silent) ? kLongGraceMs : kShortGraceMs;
  // In a folder that is not wholly the product's (or is as broad as a
  // profile), only the product's own programs are ended, never everything
  // running from inside it.
  if (owner.ownsFolder && IsSafeToRemove(dir)) {
    CloseRunningCopies(dir, grace);
  } else if (!dir.empty()) {
    std::vector<std::wstring> owned = names;
    MergeNames(&owned, owner.earlier.files);
    MergeNames(&owned, {kProductExe});
    CloseRunningFiles(FullPaths(dir, owned), grace);
  }

  SetStatus(kStatusPreparing);
  // An attempt that a crash interrupted is undone before anything else, and
  // what it owned is judged again from what it left.
  if (!RecoverInterruptedInstall(dir) || !FinishInterruptedUninstall(dir)) {
    SetErrorText(UnfinishedInstallMessage());
    CoUninitialize();
    return false;
  }
  owner = JudgeOwnership(dir);

  // The whole folder changes as one transaction: every file of the package,
  // the uninstaller and the record. Nothing of an earlier ui folder may
  // survive, but only a ui folder that an install made is the product's to
  // move away.
  std::vector<std::wstring> planned = names;
  MergeNames(&planned, {kUninstallerName, kInstallRecordName});
  const bool moveUi =
      owner.legacyOwned || (owner.earlier.valid && ContainsName(owner.earlier.folders, L"ui"));
  InstallTransaction transaction;
  bool ok = !dir.empty() && BeginInstallTransaction(&transaction, dir, planned, moveUi);
  const std::vector<std::wstring> createdFolders = FoldersToCreate(dir, names);

  InstallRecord record = owner.earlier;
  record.valid = true;
  record.createdFolder = owner.ownsFolder;
  MergeNames(&record.folders, createdFolders);
  MergeNames(&record.files, names);
  MergeNames(&record.files, {kUninstallerName, kInstallRecordName});

  ok = ok && ExtractPayload(&transaction);
  LogExtractionResult(ok);
  if (ok) {
    SetStatus(kStatusRegistering);
    // Without its record an uninstall could not tell the product's files from
    // the user's: an install that cannot write it has failed like one that
    // cannot write the uninstaller.
    ok = WriteUninstaller(&transaction);
    LogLine(ok ? L"uninstall.exe written" : L"uninstall.exe could not be written");
    ok = ok && WriteInstallRecord(dir, record, &transaction);
    LogLine(ok ? L"install record written" : L"the install record could not be written");
    if (!ok) SetErrorText(kUninstallerFailedMessage);
  }
  if (!ok) {
    RollBackInstallTransaction(&transaction);
    LogLine(L"rolled back: the folder is as it was before this run");
  } else {
    CommitInstallTransaction(&transaction);
    std::vector<std::wstring> granted = names;
    MergeNames(&granted, {kUninstallerName, kInstallRecordName});
    GrantAccess(dir, owner.ownsFolder, granted, record.folders);
    WriteUninstallEntry();
    CreateShortcut(StartMenuShortcutPath(), exePath, dir);
    if (FileExists(exePath) && trayFound) LaunchProduct(exePath, dir, L"--background");
    if (InstallerState.createDesktopShortcut && InstallerState.mode == Install && !InstallerState.silent)
      CreateShortcut(DesktopShortcutPath(), exePath, dir);
    SetStatus(kStatusFinished);
  }
  CoUninitialize();
  return ok;
}
