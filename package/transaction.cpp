// The journal is UTF-8 text in installDir\.norvale-rollback\journal.txt,
// written whole and flushed before the first change:
//
//   Norvale Lockra install journal, format 1
//   attempt: 12345                 (the old files wait in .norvale-rollback\12345)
//   folder created: yes|no         (installDir did not exist before)
//   ui moved: yes|no               (the old ui folder waits as ...\12345\ui)
//   replace: ui\style.css          (entry i: an existing file, kept aside as ...\12345\i)
//   create: Norvale-Lockra.exe     (entry i: a file that did not exist)
//   folder: ui\icons               (a folder the attempt makes)
//   end: 7                         (the number of the lines above of those three kinds)
//   done                           (added once every file is in place)
//
// Every version of the journal is written whole under a temporary name and
// renamed. It says "ui moved: yes" (and names the new files below ui) only
// once the old ui folder has been moved aside.
//
// Rolling back therefore never needs to know how far the attempt came: a
// created file that exists is the attempt's, a kept-aside file that exists
// goes back. A journal without its "end" line was cut while being written,
// before anything changed.
#include "package/transaction.h"

#include <windows.h>

#include <algorithm>
#include <map>

#include "app/decimal.h"
#include "app/helpers.h"
#include "app/state.h"
#include "app/texts.h"
#include "package/extract.h"
#include "system/text_record.h"

namespace {

constexpr char kFirstLine[] = "Norvale Lockra install journal, format 1";
constexpr wchar_t kJournalName[] = L"journal.txt";

using Plan = InstallTransaction;

std::wstring RollbackFolder(const std::wstring& dir) { return dir + L"\\" + kRollbackFolderName; }
std::wstring AttemptFolder(const Plan& plan) { return RollbackFolder(plan.dir) + L"\\" + plan.attempt; }
std::wstring KeptAside(const Plan& plan, size_t i) { return AttemptFolder(plan) + L"\\" + DecimalText(i); }
std::wstring JournalPath(const std::wstring& dir) { return RollbackFolder(dir) + L"\\" + kJournalName; }

bool IsFile(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsFolder(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool UnderUi(const std::wstring& name) {
  return name.size() > 3 && SameTextIgnoringCase(std::wstring_view(name).substr(0, 3), L"ui\\");
}

bool IsUi(const std::wstring& name) { return SameTextIgnoringCase(name, L"ui"); }

const std::vector<std::string>& Keys() {
  static const std::vector<std::string> keys = {"attempt", "folder created", "ui moved"};
  return keys;
}

// The journal's text; without `withUi`, the entries below the ui folder are
// left out (the old ui folder is not moved yet, so none of them is written).
std::string JournalText(const Plan& plan, bool withUi) {
  TextRecord text;
  text.settings = {WideToUtf8(plan.attempt), plan.folderCreated ? "yes" : "no",
                   plan.uiMoved && withUi ? "yes" : "no"};
  const bool skipUi = plan.uiMoved && !withUi;
  for (size_t i = 0; i < plan.names.size(); ++i)
    if (!(skipUi && UnderUi(plan.names[i])))
      text.items.emplace_back(plan.replace[i] ? "replace" : "create", WideToUtf8(plan.names[i]));
  for (const std::wstring& folder : plan.folders)
    if (!(skipUi && (IsUi(folder) || UnderUi(folder)))) text.items.emplace_back("folder", WideToUtf8(folder));
  if (plan.done) text.after.push_back("done");
  return FormatTextRecord(kFirstLine, Keys(), text);
}

// The journal in `dir`, when there is one that reads whole. `cut` tells a
// journal that exists but was never finished.
bool ReadJournal(const std::wstring& dir, Plan* plan, bool* cut) {
  *cut = false;
  std::string bytes;
  if (!IsFile(JournalPath(dir))) return false;
  ReadSmallFile(JournalPath(dir), &bytes);
  *cut = true;
  TextRecord text;
  if (!ParseTextRecord(bytes, kFirstLine, Keys(), {"replace", "create", "folder"}, &text)) return false;
  const std::string& attempt = text.settings[0];
  if (attempt.empty() || attempt.find_first_not_of("0123456789") != std::string::npos) return false;
  plan->dir = dir;
  plan->attempt.assign(attempt.begin(), attempt.end());
  plan->folderCreated = text.settings[1] == "yes";
  plan->uiMoved = text.settings[2] == "yes";
  for (const auto& item : text.items) {
    std::wstring name;
    if (!IsSafeEntryName(item.second) || !Utf8ToWideStrict(item.second, &name)) return false;
    if (item.first == "folder") {
      plan->folders.push_back(name);
    } else {
      plan->names.push_back(name);
      plan->replace.push_back(item.first == "replace");
    }
  }
  plan->done = !text.after.empty() && text.after[0] == "done";
  *cut = false;
  return true;
}

// Puts the folder back as the journal found it. True when everything kept
// aside is back, so that the journal may go.
bool RollBack(const Plan& plan) {
  const std::wstring& dir = plan.dir;
  bool whole = true;
  for (size_t i = 0; i < plan.names.size(); ++i) {
    const std::wstring path = dir + L"\\" + plan.names[i];
    if (!plan.replace[i]) {
      SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      DeleteFileW(path.c_str());
    } else if (IsFile(KeptAside(plan, i))) {
      SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      DeleteFileW(path.c_str());
      if (!MoveFileExW(KeptAside(plan, i).c_str(), path.c_str(), 0)) whole = false;
    }
  }
  RemoveEmptyFolders(dir, plan.folders);
  // The old ui folder goes back wherever it waits, even when the journal
  // could not yet say it had moved (a stop right after the rename).
  const std::wstring keptUi = AttemptFolder(plan) + L"\\ui";
  if (IsFolder(keptUi)) {
    RemoveDirectoryW((dir + L"\\ui").c_str());
    if (!MoveFileExW(keptUi.c_str(), (dir + L"\\ui").c_str(), 0)) whole = false;
  }
  return whole;
}

// Deletes every earlier attempt's folder (files that could not
// be deleted when their attempt succeeded), then the rollback folder when it
// is empty; the installation folder too when the attempt made it and
// nothing else is in it.
void CleanRollbackFolder(const std::wstring& dir, bool folderCreated) {
  const std::wstring root = RollbackFolder(dir);
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((root + L"\\*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = data.cFileName;
      if (name == L"." || name == L".." || name == kJournalName) continue;
      // A journal's temporary copy that a crash left before its rename.
      if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
          name.rfind(std::wstring(kJournalName) + L".", 0) == 0 && name.size() > 4 &&
          name.compare(name.size() - 4, 4, L".new") == 0)
        DeleteFileW((root + L"\\" + name).c_str());
      if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
          name.find_first_not_of(L"0123456789") == std::wstring::npos)
        RemoveTree(root + L"\\" + name);
    } while (FindNextFileW(find, &data));
    FindClose(find);
  }
  RemoveDirectoryW(root.c_str());
  if (folderCreated) RemoveDirectoryW(dir.c_str());
}

void Finish(const Plan& plan) {
  RemoveTree(AttemptFolder(plan));
  DeleteFileW(JournalPath(plan.dir).c_str());
  CleanRollbackFolder(plan.dir, false);
}

// An attempt that changed nothing yet: only its journal and folders go.
void Discard(const Plan& plan) {
  DeleteFileW(JournalPath(plan.dir).c_str());
  RemoveDirectoryW(AttemptFolder(plan).c_str());
  CleanRollbackFolder(plan.dir, plan.folderCreated);
}

bool Abandon(const Plan& plan) {
  if (!RollBack(plan)) return false;  // the journal stays, and the next run tries again
  RemoveDirectoryW(AttemptFolder(plan).c_str());
  DeleteFileW(JournalPath(plan.dir).c_str());
  CleanRollbackFolder(plan.dir, plan.folderCreated);
  return true;
}

}  // namespace

bool BeginInstallTransaction(InstallTransaction* transaction, const std::wstring& dir,
                             const std::vector<std::wstring>& names, bool moveUi) {
  InstallTransaction& current = *transaction;
  current = InstallTransaction();
  current.dir = dir;
  current.attempt = DecimalText(GetTickCount64());
  current.folderCreated = !IsFolder(dir);
  current.uiMoved = moveUi && IsFolder(dir + L"\\ui");
  for (const std::wstring& name : names) {
    const bool gone = current.uiMoved && UnderUi(name);
    current.names.push_back(name);
    current.replace.push_back(!gone && IsFile(dir + L"\\" + name));
    for (size_t at = name.find(L'\\'); at != std::wstring::npos; at = name.find(L'\\', at + 1)) {
      const std::wstring folder = name.substr(0, at);
      const bool made =
          (current.uiMoved && (IsUi(folder) || UnderUi(folder))) || !IsFolder(dir + L"\\" + folder);
      if (made && std::find(current.folders.begin(), current.folders.end(), folder) == current.folders.end())
        current.folders.push_back(folder);
    }
  }
  CreateDirectories(AttemptFolder(current));
  SetFileAttributesW(RollbackFolder(dir).c_str(), FILE_ATTRIBUTE_HIDDEN);
  // Journal first, truth always: until the old ui folder has really moved,
  // the journal says it has not and names nothing below it.
  if (!IsFolder(AttemptFolder(current)) ||
      !WriteFileReplacing(JournalPath(dir), JournalText(current, false))) {
    Discard(current);
    SetErrorText(kDamagedOrFullMessage);
    return false;
  }
  if (current.uiMoved) {
    bool moved = false;
    for (int attempt = 0;
         attempt < 40 &&
         !(moved = MoveFileExW((dir + L"\\ui").c_str(), (AttemptFolder(current) + L"\\ui").c_str(), 0));
         ++attempt)
      Sleep(150);
    if (moved && !WriteFileReplacing(JournalPath(dir), JournalText(current, true))) {
      MoveFileExW((AttemptFolder(current) + L"\\ui").c_str(), (dir + L"\\ui").c_str(), 0);
      moved = false;
    }
    if (!moved) {
      Discard(current);
      SetErrorText(CannotWriteMessage(L"ui"));
      return false;
    }
  }
  for (size_t i = 0; i < current.names.size(); ++i)
    current.planned[UpcaseText(dir + L"\\" + current.names[i])] = i;
  current.active = true;
  return true;
}

bool MoveAsideBeforeWrite(const InstallTransaction* transaction, const std::wstring& path) {
  if (!transaction || !transaction->active) return true;
  const InstallTransaction& current = *transaction;
  const auto found = current.planned.find(UpcaseText(path));
  if (found == current.planned.end() || !current.replace[found->second] || !IsFile(path)) return true;
  // A file in use refuses the rename for a while, as it would refuse a rewrite.
  for (int attempt = 0; attempt < 40; ++attempt) {
    if (MoveFileExW(path.c_str(), KeptAside(current, found->second).c_str(), 0)) return true;
    Sleep(150);
  }
  return false;
}

void CommitInstallTransaction(InstallTransaction* transaction) {
  InstallTransaction& current = *transaction;
  if (!current.active) return;
  current.active = false;
  // Marked done first: from here on an interruption must not bring the old
  // files back over the new ones.
  current.done = true;
  WriteFileReplacing(JournalPath(current.dir), JournalText(current, true));
  Finish(current);
}

void RollBackInstallTransaction(InstallTransaction* transaction) {
  if (!transaction->active) return;
  transaction->active = false;
  Abandon(*transaction);
}

bool RecoverInterruptedInstall(const std::wstring& dir) {
  if (dir.empty() || !IsFolder(RollbackFolder(dir))) return true;
  Plan plan;
  bool cut = false;
  if (ReadJournal(dir, &plan, &cut)) {
    if (!plan.done) return Abandon(plan);
    Finish(plan);
    return true;
  }
  if (cut) {
    // A journal cut while it was written: nothing had changed yet. Only
    // empty folders go, in case it is not what it seems.
    DeleteFileW(JournalPath(dir).c_str());
    RemoveDirectoryW((RollbackFolder(dir) + L"\\" + plan.attempt).c_str());
    RemoveDirectoryW(RollbackFolder(dir).c_str());
    return true;
  }
  // No journal: files kept aside by earlier successes that were in use then.
  CleanRollbackFolder(dir, false);
  return true;
}
