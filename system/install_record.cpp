// The install record is plain UTF-8 text, one item a line (CRLF or LF):
//
//   Norvale Lockra install record, format 1
//   folder created: yes            (or "no": installDir existed before)
//   folder: ui                     (a folder an install created)
//   file: Norvale-Lockra.exe       (a file the product owns)
//   ...
//   end: 42                        (the number of folder and file lines)
//
// Names are relative to the installation folder, with backslashes, exactly as
// the package stores them. The closing count tells a whole record from one
// cut short; a record that is not whole is not believed at all.
#include "system/install_record.h"

#include <windows.h>

#include <algorithm>

#include "app/helpers.h"
#include "app/state.h"
#include "package/extract.h"
#include "package/transaction.h"

namespace {

constexpr char kFirstLine[] = "Norvale Lockra install record, format 1";

bool SameName(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                              TRUE) == CSTR_EQUAL;
}

bool StartsWith(const std::string& line, const char* prefix, std::string* rest) {
  const size_t n = strlen(prefix);
  if (line.compare(0, n, prefix) != 0) return false;
  *rest = line.substr(n);
  return true;
}

}  // namespace

std::string FormatInstallRecord(const InstallRecord& record) {
  std::string text = std::string(kFirstLine) + "\r\n";
  text += record.createdFolder ? "folder created: yes\r\n" : "folder created: no\r\n";
  for (const std::wstring& folder : record.folders) text += "folder: " + WideToUtf8(folder) + "\r\n";
  for (const std::wstring& file : record.files) text += "file: " + WideToUtf8(file) + "\r\n";
  text += "end: " + std::to_string(record.folders.size() + record.files.size()) + "\r\n";
  return text;
}

InstallRecord ParseInstallRecord(const std::string& text) {
  InstallRecord record;
  const std::vector<std::string> lines = CompleteLines(text);
  if (lines.size() < 3 || lines[0] != kFirstLine) return record;
  if (lines[1] == "folder created: yes")
    record.createdFolder = true;
  else if (lines[1] != "folder created: no")
    return record;
  std::string rest;
  for (size_t i = 2; i + 1 < lines.size(); ++i) {
    std::vector<std::wstring>* list = nullptr;
    if (StartsWith(lines[i], "folder: ", &rest))
      list = &record.folders;
    else if (StartsWith(lines[i], "file: ", &rest))
      list = &record.files;
    else
      return InstallRecord();
    std::wstring name;
    // The same rules as the package's own names: nothing outside the folder.
    if (!IsSafeEntryName(rest) || !Utf8ToWideStrict(rest, &name)) return InstallRecord();
    list->push_back(name);
  }
  if (!StartsWith(lines.back(), "end: ", &rest) ||
      rest != std::to_string(record.folders.size() + record.files.size()))
    return InstallRecord();
  record.valid = true;
  return record;
}

InstallRecord ReadInstallRecord(const std::wstring& dir) {
  std::string text;
  if (!ReadSmallFile(dir + L"\\" + kInstallRecordName, &text)) return InstallRecord();
  return ParseInstallRecord(text);
}

bool WriteInstallRecord(const std::wstring& dir, const InstallRecord& record) {
  const std::string text = FormatInstallRecord(record);
  const std::wstring target = dir + L"\\" + kInstallRecordName;
  // A fresh name that nothing else uses: CREATE_NEW never opens a file that
  // is already there.
  std::wstring temporary;
  HANDLE file = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 16 && file == INVALID_HANDLE_VALUE; ++attempt) {
    temporary = FormatString(L"%s.%llu-%d.new", target.c_str(), GetTickCount64(), attempt);
    file =
        CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD put = 0;
  bool ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &put, nullptr) &&
            put == text.size() && FlushFileBuffers(file);
  CloseHandle(file);
  if (ok && !MoveAsideBeforeWrite(target)) ok = false;
  if (ok) {
    SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
    ok = MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  }
  if (!ok) DeleteFileW(temporary.c_str());
  return ok;
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
  return FileExists(dir + L"\\" + kProductExe) || ReadInstallRecord(dir).valid;
}
