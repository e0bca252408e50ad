// The install record, in the program's text-record format:
//
//   Norvale Lockra install record, format 1
//   folder created: yes            (or "no": installDir existed before)
//   folder: ui                     (a folder an install created)
//   file: Norvale-Lockra.exe       (a file the product owns)
//   ...
//   end: 42                        (the number of folder and file lines)
//
// Names are relative to the installation folder, with backslashes, exactly as
// the package stores them. A record that is not whole is not believed at all.
#include "system/install_record.h"

#include <windows.h>

#include <algorithm>

#include "app/helpers.h"
#include "app/state.h"
#include "package/extract.h"
#include "package/transaction.h"
#include "system/text_record.h"
#include "system/uninstall_journal.h"

namespace {

constexpr char kTitle[] = "Norvale Lockra install record, format 1";

bool SameName(const std::wstring& a, const std::wstring& b) { return SameTextIgnoringCase(a, b); }

}  // namespace

void AddRecordItems(const InstallRecord& record, TextRecord* text) {
  for (const std::wstring& folder : record.folders) text->items.emplace_back("folder", WideToUtf8(folder));
  for (const std::wstring& file : record.files) text->items.emplace_back("file", WideToUtf8(file));
}

bool TakeRecordItems(const TextRecord& text, InstallRecord* record) {
  for (const auto& item : text.items) {
    std::wstring name;
    // The same rules as the package's own names: nothing outside the folder.
    if (!IsSafeEntryName(item.second) || !Utf8ToWideStrict(item.second, &name)) return false;
    (item.first == "folder" ? record->folders : record->files).push_back(name);
  }
  return true;
}

std::string FormatInstallRecord(const InstallRecord& record) {
  TextRecord text;
  text.settings = {record.createdFolder ? "yes" : "no"};
  AddRecordItems(record, &text);
  return FormatTextRecord(kTitle, {"folder created"}, text);
}

InstallRecord ParseInstallRecord(const std::string& bytes) {
  InstallRecord record;
  TextRecord text;
  if (!ParseTextRecord(bytes, kTitle, {"folder created"}, {"folder", "file"}, &text) || !text.after.empty())
    return record;
  if (text.settings[0] != "yes" && text.settings[0] != "no") return record;
  record.createdFolder = text.settings[0] == "yes";
  if (!TakeRecordItems(text, &record)) return InstallRecord();
  record.valid = true;
  return record;
}

InstallRecord ReadInstallRecord(const std::wstring& dir) {
  std::string text;
  if (!ReadSmallFile(dir + L"\\" + kInstallRecordName, &text)) return InstallRecord();
  return ParseInstallRecord(text);
}

bool WriteInstallRecord(const std::wstring& dir, const InstallRecord& record,
                        const InstallTransaction* transaction) {
  const std::wstring target = dir + L"\\" + kInstallRecordName;
  return MoveAsideBeforeWrite(transaction, target) && WriteFileReplacing(target, FormatInstallRecord(record));
}

bool ContainsName(const std::vector<std::wstring>& names, const std::wstring& name) {
  return std::any_of(names.begin(), names.end(), [&](const std::wstring& n) { return SameName(n, name); });
}

void MergeNames(std::vector<std::wstring>* into, const std::vector<std::wstring>& names) {
  for (const std::wstring& name : names)
    if (!ContainsName(*into, name)) into->push_back(name);
}

std::vector<std::wstring> FullPaths(const std::wstring& dir, const std::vector<std::wstring>& names) {
  std::vector<std::wstring> paths;
  for (const std::wstring& name : names) paths.push_back(dir + L"\\" + name);
  return paths;
}

std::vector<std::wstring> FoldersToCreate(const std::wstring& dir, const std::vector<std::wstring>& names) {
  std::vector<std::wstring> folders;
  for (const std::wstring& name : names) {
    for (size_t at = name.find_first_of(L"\\/"); at != std::wstring::npos;
         at = name.find_first_of(L"\\/", at + 1)) {
      std::wstring folder = name.substr(0, at);
      for (wchar_t& c : folder)
        if (c == L'/') c = L'\\';
      if (ContainsName(folders, folder) || FileExists(dir + L"\\" + folder)) continue;
      folders.push_back(folder);
    }
  }
  return folders;
}

bool FolderHoldsProduct(const std::wstring& dir) {
  if (dir.empty()) return false;
  return FileExists(dir + L"\\" + kProductExe) || ReadInstallRecord(dir).valid ||
         ReadUninstallJournal(dir).valid;
}
