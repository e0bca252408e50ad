// An install or update changes the installation folder as one transaction:
// a file of the package that would replace an existing one first moves the
// old file aside (a rename inside the folder, never a copy); new files are
// written in place. A failure puts everything back as it was; a success
// deletes what was moved aside. A journal written before the first change
// lets the next run finish the rollback of an attempt that a crash or a
// power cut interrupted.
#pragma once

#include <map>
#include <string>
#include <vector>

// Where the old files wait and the journal lives, inside installDir so that
// every move stays on one volume.
inline constexpr wchar_t kRollbackFolderName[] = L".norvale-rollback";

// One transaction: what its journal says, and where each planned file
// waits. The sequence that runs it owns it and hands it to whatever writes
// into the folder meanwhile (the extraction's writer thread only reads it).
struct InstallTransaction {
  std::wstring dir;
  std::wstring attempt;  // the old files wait in .norvale-rollback\ATTEMPT
  bool folderCreated = false;
  bool uiMoved = false;  // the old ui folder waits there too
  std::vector<std::wstring> names;
  std::vector<bool> replace;  // per name: an existing file, kept aside as ATTEMPT\i
  std::vector<std::wstring> folders;
  bool done = false;
  bool active = false;                     // begun, neither committed nor rolled back
  std::map<std::wstring, size_t> planned;  // upper-cased full path -> name
};

// Plans the transaction for these names (relative to `dir`; the package's
// entries, uninstall.exe and the install record) and writes the journal.
// With `moveUi`, the old ui folder is moved aside as part of it. False, with
// nothing changed, when the journal cannot be written.
bool BeginInstallTransaction(InstallTransaction* transaction, const std::wstring& dir,
                             const std::vector<std::wstring>& names, bool moveUi);

// Called right before a planned file is written: moves the existing file
// aside (waiting up to about 6 s for one that is in use). True when the path
// may now be written; also true without a transaction (null or not active)
// or for a path that is not planned as a replacement.
bool MoveAsideBeforeWrite(const InstallTransaction* transaction, const std::wstring& path);

// Success: the journal is marked done, what was moved aside is deleted (what
// cannot be deleted now, such as a running program, goes at the next run),
// then the journal.
void CommitInstallTransaction(InstallTransaction* transaction);
// Failure: what the attempt created is removed, the old files come back,
// the journal goes.
void RollBackInstallTransaction(InstallTransaction* transaction);

// At the start of every run that changes the folder: an attempt that was
// interrupted is rolled back (or its cleanup finished, when it had
// succeeded), and files left aside by an earlier success are deleted.
// False when an interrupted attempt could not be undone yet (a file of it is
// in use): its journal stays for the next run.
bool RecoverInterruptedInstall(const std::wstring& dir);
