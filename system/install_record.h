// The record of what the product owns inside its installation folder, kept
// beside uninstall.exe so that an uninstall deletes exactly that and never a
// file the user put there.
#pragma once

#include <string>
#include <vector>

inline constexpr wchar_t kInstallRecordName[] = L"install-record.txt";

struct InstallRecord {
  bool valid = false;                 // read whole and understood
  bool createdFolder = false;         // the first install made installDir itself
  std::vector<std::wstring> files;    // relative to installDir, backslashes
  std::vector<std::wstring> folders;  // made by an install, relative to installDir
};

// The UTF-8 text of a record, and its reading back. A text that is cut
// short, of another format, or names anything outside the folder reads as
// no record at all (valid false).
std::string FormatInstallRecord(const InstallRecord& record);
InstallRecord ParseInstallRecord(const std::string& text);

// The record in `dir`, or one that is not valid when there is none.
InstallRecord ReadInstallRecord(const std::wstring& dir);
// Written under a temporary name, then renamed over the old one: a crash
// leaves either the old record or the new one, never half of one.
// Inside an install, the transaction moves the old record aside first.
struct InstallTransaction;
bool WriteInstallRecord(const std::wstring& dir, const InstallRecord& record,
                        const InstallTransaction* transaction = nullptr);

// Adds the names not yet in the list (compared without regard to case, as
// Windows names are).
void MergeNames(std::vector<std::wstring>* into, const std::vector<std::wstring>& names);
bool ContainsName(const std::vector<std::wstring>& names, const std::wstring& name);
// dir + "\" + name for each name.
std::vector<std::wstring> FullPaths(const std::wstring& dir, const std::vector<std::wstring>& names);

// Every folder between `dir` and the entries' files (as "a", "a\b") that does
// not exist yet: the folders an extraction of these names will create.
std::vector<std::wstring> FoldersToCreate(const std::wstring& dir, const std::vector<std::wstring>& names);

// The folder and file lines of a record as text items, and back (false when
// a name is not one the package could hold).
struct TextRecord;
void AddRecordItems(const InstallRecord& record, TextRecord* text);
bool TakeRecordItems(const TextRecord& text, InstallRecord* record);

// A folder holds the product when it has a valid record, the product's
// executable, or the journal of an uninstall that did not finish.
bool FolderHoldsProduct(const std::wstring& dir);
