#include "system/folder_guard.h"

#include <shlobj.h>
#include <windows.h>

#include <vector>

#include "app/helpers.h"

namespace {

// Backslashes only, no trailing separators, and the long-path prefixes
// turned back into their ordinary form.
std::wstring Normalised(std::wstring path) {
  for (wchar_t& c : path)
    if (c == L'/') c = L'\\';
  if (path.rfind(L"\\\\?\\UNC\\", 0) == 0)
    path = L"\\\\" + path.substr(8);
  else if (path.rfind(L"\\\\?\\", 0) == 0)
    path = path.substr(4);
  // Doubled separators name the same folder; collapse them (past a UNC lead).
  std::wstring collapsed;
  for (size_t i = 0; i < path.size(); ++i)
    if (!(i > 1 && path[i] == L'\\' && collapsed.back() == L'\\')) collapsed += path[i];
  path.swap(collapsed);
  while (!path.empty() && path.back() == L'\\') path.pop_back();
  return path;
}

bool IsDriveLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

// "C:\x..." or "\\server\share\x...". Anything else (relative, "C:x",
// "\x", device paths "\\.\") would be resolved against the current drive or
// folder, or is not a plain folder.
bool IsFullyQualified(const std::wstring& path) {
  if (path.size() >= 3 && IsDriveLetter(path[0]) && path[1] == L':' && path[2] == L'\\') return true;
  if (path.size() >= 2 && path[0] == L'\\' && path[1] == L'\\') {
    if (path.size() >= 3 && (path[2] == L'.' || path[2] == L'?')) return false;
    return true;
  }
  return false;
}

// Number of path components below the root ("C:" or "\\server\share").
size_t DepthBelowRoot(const std::wstring& path) {
  size_t start;
  if (path[0] == L'\\') {
    size_t server = path.find(L'\\', 2);
    if (server == std::wstring::npos) return 0;
    size_t share = path.find(L'\\', server + 1);
    if (share == std::wstring::npos) return 0;
    start = share;
  } else {
    start = 2;
  }
  size_t depth = 0;
  for (size_t i = start; i < path.size(); ++i)
    if (path[i] == L'\\' && i + 1 < path.size() && path[i + 1] != L'\\') ++depth;
  return depth;
}

bool SameText(const std::wstring& a, size_t n, const std::wstring& b) {
  return SameTextIgnoringCase(std::wstring_view(a).substr(0, n), std::wstring_view(b).substr(0, n));
}

// True when `folder` is `known` or lies above it.
bool CoversFolder(const std::wstring& folder, const std::wstring& known) {
  if (known.size() < folder.size()) return false;
  if (!SameText(known, folder.size(), folder)) return false;
  return known.size() == folder.size() || known[folder.size()] == L'\\';
}

// "..", "." and short names resolved; junctions and links followed when the
// folder exists. Empty when nothing could be resolved.
std::wstring Canonical(const std::wstring& path) {
  std::wstring result;
  DWORD n = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (n == 0) return result;
  std::vector<wchar_t> full(n + 1);
  n = GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
  if (n == 0 || n >= full.size()) return result;
  result.assign(full.data(), n);

  HANDLE handle = CreateFileW(result.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle != INVALID_HANDLE_VALUE) {
    wchar_t finalPath[1024];
    DWORD length = GetFinalPathNameByHandleW(handle, finalPath, 1024, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length > 0 && length < 1024) result.assign(finalPath, length);
    CloseHandle(handle);
  }
  return Normalised(result);
}

std::vector<std::wstring> ProtectedFolders() {
  static const KNOWNFOLDERID* const ids[] = {
      &FOLDERID_Profile,         &FOLDERID_LocalAppData, &FOLDERID_RoamingAppData,  &FOLDERID_Programs,
      &FOLDERID_StartMenu,       &FOLDERID_Startup,      &FOLDERID_Desktop,         &FOLDERID_Documents,
      &FOLDERID_Downloads,       &FOLDERID_Windows,      &FOLDERID_System,          &FOLDERID_ProgramFiles,
      &FOLDERID_ProgramFilesX86, &FOLDERID_ProgramData,  &FOLDERID_UserProgramFiles};
  std::vector<std::wstring> folders;
  // The temporary folder holds every program's downloads and working files.
  wchar_t temp[MAX_PATH + 1];
  DWORD n = GetTempPathW(MAX_PATH + 1, temp);
  if (n > 0 && n <= MAX_PATH) {
    folders.push_back(Normalised(std::wstring(temp, n)));
    std::wstring canonical = Canonical(folders.back());
    if (!canonical.empty() && canonical != folders.back()) folders.push_back(canonical);
  }
  for (const KNOWNFOLDERID* id : ids) {
    std::wstring path = KnownFolderPath(*id);
    if (path.empty()) continue;
    // Per-user programs live here even where the system has no name for it.
    if (id == &FOLDERID_LocalAppData) folders.push_back(Normalised(path) + L"\\Programs");
    folders.push_back(Normalised(path));
    std::wstring canonical = Canonical(path);
    if (!canonical.empty() && canonical != folders.back()) folders.push_back(canonical);
  }
  return folders;
}

}  // namespace

bool IsSafeToRemoveAmong(const std::wstring& folder, const std::wstring* protectedFolders, size_t count) {
  std::wstring path = Normalised(folder);
  if (path.empty() || !IsFullyQualified(path + L"\\")) return false;
  if (DepthBelowRoot(path) == 0) return false;
  // A ".." anywhere could climb back up; only resolved paths are judged.
  if (path.find(L"\\..") != std::wstring::npos || path.find(L"\\.\\") != std::wstring::npos ||
      (path.size() >= 2 && path.compare(path.size() - 2, 2, L"\\.") == 0))
    return false;
  for (size_t i = 0; i < count; ++i) {
    std::wstring known = Normalised(protectedFolders[i]);
    if (!known.empty() && CoversFolder(path, known)) return false;
  }
  return true;
}

bool IsSafeToRemove(const std::wstring& folder) {
  std::wstring path = Normalised(folder);
  if (path.empty() || !IsFullyQualified(path + L"\\")) return false;
  // A link or junction would have its target emptied, not itself removed.
  DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return false;
  std::vector<std::wstring> known = ProtectedFolders();
  if (!IsSafeToRemoveAmong(path, known.data(), known.size())) {
    return false;
  }
  // Judge the resolved form too: "C:\Users\me\x\.." or a junction that leads
  // to a known folder must not slip through.
  std::wstring canonical = Canonical(path);
  if (canonical.empty()) return false;
  return IsSafeToRemoveAmong(canonical, known.data(), known.size());
}
