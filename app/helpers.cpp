#include "app/helpers.h"

#include <shlobj.h>

#include <algorithm>
#include <cstdarg>
#include <cwchar>

#include "app/decimal.h"
#include "app/log.h"
#include "package_format/entry_name.h"

std::wstring FormatString(const wchar_t* format, ...) {
  wchar_t buffer[1024];
  va_list args;
  va_start(args, format);
  int n = _vsnwprintf_s(buffer, 1024, _TRUNCATE, format, args);
  va_end(args);
  if (n < 0 && buffer[0] == L'\0') return std::wstring();
  return std::wstring(buffer);
}

std::wstring KnownFolderPath(REFKNOWNFOLDERID id) {
  PWSTR path = nullptr;
  std::wstring result;
  if (SUCCEEDED(SHGetKnownFolderPath(id, 0, nullptr, &path)) && path) result = path;
  CoTaskMemFree(path);
  return result;
}

std::wstring ParentDirectory(const std::wstring& path) {
  size_t pos = path.find_last_of(L"\\/");
  if (pos == std::wstring::npos) return path;
  return path.substr(0, pos);
}

bool FileExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void CreateDirectories(const std::wstring& path) {
  if (path.empty() || FileExists(path)) return;
  // A relative name, a bare drive or a missing drive is its own parent: stop
  // there instead of recursing forever; creating it then simply fails.
  std::wstring parent = ParentDirectory(path);
  if (parent != path) CreateDirectories(parent);
  CreateDirectoryW(path.c_str(), nullptr);
}

namespace {

// The path the system really opens for `path`, without following a link at
// the end of it; empty when it cannot be opened.
std::wstring OpenedPath(const std::wstring& path) {
  HANDLE handle =
      CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return std::wstring();
  std::wstring result(MAX_PATH, L'\0');
  for (int round = 0; round < 2; ++round) {
    const DWORD n = GetFinalPathNameByHandleW(handle, result.data(), static_cast<DWORD>(result.size()),
                                              FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (n == 0) {
      result.clear();
      break;
    }
    if (n < result.size()) {
      result.resize(n);
      break;
    }
    result.assign(n + 1, L'\0');
  }
  CloseHandle(handle);
  return result;
}

// The removals below treat links themselves: RemoveDirectoryW or DeleteFileW
// on a true reparse point removes the link on Windows, but a system that
// resolves the link while opening it (Wine does for Unix symbolic links, even
// with the reparse-point flag) would remove the target: such a link stays.
bool RemoveLinkItself(const std::wstring& path, bool folder) {
  if (IsRedirected(path)) {
    LogLine(L"a link, left in place (its target is not ours): " + path);
    return false;
  }
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  return folder ? RemoveDirectoryW(path.c_str()) : DeleteFileW(path.c_str());
}

}  // namespace

bool IsRedirected(const std::wstring& path) {
  const std::wstring opened = OpenedPath(path);
  const std::wstring parent = OpenedPath(ParentDirectory(path));
  if (opened.empty() || parent.empty()) return false;  // nothing there to follow
  const size_t cut = path.find_last_of(L"\\/");
  const std::wstring expected = parent + L"\\" + path.substr(cut + 1);
  return !SameTextIgnoringCase(opened, expected);
}

bool IsLinkAt(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) || IsRedirected(path);
}

bool RemoveFile(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return true;
  if (IsLinkAt(path)) return RemoveLinkItself(path, attributes & FILE_ATTRIBUTE_DIRECTORY);
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return false;
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  return DeleteFileW(path.c_str());
}

bool RemoveEmptyFolder(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return true;
  if (IsLinkAt(path)) return RemoveLinkItself(path, attributes & FILE_ATTRIBUTE_DIRECTORY);
  return RemoveDirectoryW(path.c_str());
}

void RemoveTree(const std::wstring& folder) {
  // A link where the folder was goes as a link, and is never walked into:
  // that would delete whatever it points to.
  if (IsLinkAt(folder)) {
    RemoveEmptyFolder(folder);
    return;
  }
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const wchar_t* name = data.cFileName;
      if (wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0) continue;
      std::wstring child = folder + L"\\" + name;
      if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
          !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        RemoveTree(child);
      else
        RemoveFile(child);
    } while (FindNextFileW(find, &data));
    FindClose(find);
  }
  RemoveDirectoryW(folder.c_str());
}

std::wstring ReadRegString(HKEY root, const std::wstring& subKey, const std::wstring& valueName) {
  wchar_t buffer[520];
  DWORD size = sizeof(buffer);
  if (RegGetValueW(root, subKey.c_str(), valueName.c_str(), RRF_RT_REG_SZ, nullptr, buffer, &size) !=
      ERROR_SUCCESS)
    return std::wstring();
  buffer[519] = L'\0';
  return std::wstring(buffer);
}

static LONG WriteRegValue(const std::wstring& subKey, const std::wstring& valueName, DWORD type,
                          const void* data, DWORD size) {
  HKEY key = nullptr;
  LONG result = RegCreateKeyExW(HKEY_CURRENT_USER, subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                KEY_SET_VALUE, nullptr, &key, nullptr);
  if (result != ERROR_SUCCESS) return result;
  result = RegSetValueExW(key, valueName.c_str(), 0, type, static_cast<const BYTE*>(data), size);
  RegCloseKey(key);
  return result;
}

void WriteRegString(const std::wstring& subKey, const std::wstring& valueName, const std::wstring& text) {
  LogRegistryWrite(
      subKey, valueName, text,
      WriteRegValue(subKey, valueName, REG_SZ, text.c_str(), static_cast<DWORD>(2 * (text.size() + 1))));
}

void WriteRegDword(const std::wstring& subKey, const std::wstring& valueName, uint32_t value) {
  DWORD data = value;
  LogRegistryWrite(subKey, valueName, DecimalText(value),
                   WriteRegValue(subKey, valueName, REG_DWORD, &data, sizeof(data)));
}

HANDLE CreateOutputFile(const std::wstring& path) {
  // A new file in a folder that exists (most files of a first install): one
  // call. Otherwise make the folders, clear attributes that refuse the
  // rewrite (Wine, running as root, would rewrite a read-only file and leave
  // it read-only), and wait out a file held open by another program.
  HANDLE fast =
      CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (fast != INVALID_HANDLE_VALUE) return fast;
  CreateDirectories(ParentDirectory(path));
  for (int attempt = 0; attempt < 40; ++attempt) {
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    HANDLE file =
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) return file;
    const DWORD error = GetLastError();  // the caller reports why
    Sleep(150);
    SetLastError(error);
  }
  return INVALID_HANDLE_VALUE;
}

std::string WideToUtf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                              nullptr);
  if (n <= 0) return std::string();
  std::string bytes(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), n, nullptr,
                      nullptr);
  return bytes;
}

bool Utf8ToWideStrict(const std::string& bytes, std::wstring* text) {
  int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()),
                              nullptr, 0);
  if (n <= 0) return false;
  text->assign(static_cast<size_t>(n), L'\0');
  return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()),
                             text->data(), n) == n;
}

bool ReadSmallFile(const std::wstring& path, std::string* bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size{};
  bool ok = GetFileSizeEx(file, &size) && size.QuadPart < (64 << 20);
  if (ok) {
    bytes->resize(static_cast<size_t>(size.QuadPart));
    DWORD got = 0;
    ok = bytes->empty() || (ReadFile(file, bytes->data(), static_cast<DWORD>(bytes->size()), &got, nullptr) &&
                            got == bytes->size());
  }
  CloseHandle(file);
  if (!ok) bytes->clear();
  return ok;
}

bool WriteFileReplacing(const std::wstring& path, const std::string& text) {
  // CREATE_NEW never opens a file that is already there.
  std::wstring temporary;
  HANDLE file = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 16 && file == INVALID_HANDLE_VALUE; ++attempt) {
    temporary = path + L"." + DecimalText(GetTickCount64()) + L"-" + DecimalText(attempt) + L".new";
    file =
        CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD put = 0;
  bool ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &put, nullptr) &&
            put == text.size() && FlushFileBuffers(file);
  CloseHandle(file);
  if (ok) {
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    ok = MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  }
  if (!ok) DeleteFileW(temporary.c_str());
  return ok;
}

void RemoveEmptyFolders(const std::wstring& dir, std::vector<std::wstring> folders,
                        bool (*skip)(const std::wstring& dir, const std::wstring& folder)) {
  auto depth = [](const std::wstring& name) { return std::count(name.begin(), name.end(), L'\\'); };
  std::stable_sort(folders.begin(), folders.end(),
                   [&](const std::wstring& a, const std::wstring& b) { return depth(a) > depth(b); });
  for (const std::wstring& folder : folders)
    if (!skip || !skip(dir, folder)) RemoveEmptyFolder(dir + L"\\" + folder);
}

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows text is UTF-16");

bool SameTextIgnoringCase(std::wstring_view a, std::wstring_view b) {
  return SameTextIgnoringCase(std::u16string_view(reinterpret_cast<const char16_t*>(a.data()), a.size()),
                              std::u16string_view(reinterpret_cast<const char16_t*>(b.data()), b.size()));
}

std::wstring UpcaseText(std::wstring text) {
  for (wchar_t& unit : text) unit = static_cast<wchar_t>(UpcaseUnit(static_cast<char16_t>(unit)));
  return text;
}
