// In the program's text-record format:
//
//   Norvale Lockra uninstall journal, format 1
//   whole folder: no
//   registration: yes
//   folder: ui                     (a folder to remove once empty)
//   file: Norvale-Lockra.exe       (a file to remove)
//   end: 2
#include "system/uninstall_journal.h"

#include <windows.h>

#include "app/helpers.h"
#include "system/text_record.h"

namespace {

constexpr char kTitle[] = "Norvale Lockra uninstall journal, format 1";

const std::vector<std::string>& Keys() {
  static const std::vector<std::string> keys = {"whole folder", "registration"};
  return keys;
}

bool YesNo(const std::string& value, bool* flag) {
  *flag = value == "yes";
  return value == "yes" || value == "no";
}

}  // namespace

std::string FormatUninstallJournal(const UninstallJournal& journal) {
  TextRecord text;
  text.settings = {journal.wholeFolder ? "yes" : "no", journal.registration ? "yes" : "no"};
  AddRecordItems(journal.items, &text);
  return FormatTextRecord(kTitle, Keys(), text);
}

UninstallJournal ParseUninstallJournal(const std::string& bytes) {
  UninstallJournal journal;
  TextRecord text;
  if (!ParseTextRecord(bytes, kTitle, Keys(), {"folder", "file"}, &text) || !text.after.empty() ||
      !YesNo(text.settings[0], &journal.wholeFolder) || !YesNo(text.settings[1], &journal.registration) ||
      !TakeRecordItems(text, &journal.items))
    return UninstallJournal();
  journal.valid = journal.items.valid = true;
  return journal;
}

UninstallJournal ReadUninstallJournal(const std::wstring& dir) {
  std::string text;
  if (dir.empty() || !ReadSmallFile(dir + L"\\" + kUninstallJournalName, &text)) return UninstallJournal();
  return ParseUninstallJournal(text);
}

bool WriteUninstallJournal(const std::wstring& dir, const UninstallJournal& journal) {
  const std::wstring path = dir + L"\\" + kUninstallJournalName;
  if (!WriteFileReplacing(path, FormatUninstallJournal(journal))) return false;
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_HIDDEN);
  return true;
}

void DeleteUninstallJournal(const std::wstring& dir) {
  const std::wstring path = dir + L"\\" + kUninstallJournalName;
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileW(path.c_str());
}
