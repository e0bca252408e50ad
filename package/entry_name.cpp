#include "package/entry_name.h"

#include <windows.h>

#include <set>
#include <string_view>

#include "app/helpers.h"

namespace {

bool IsDeviceName(std::wstring_view component) {
  std::wstring_view stem = component.substr(0, component.find(L'.'));
  while (!stem.empty() && stem.back() == L' ') stem.remove_suffix(1);
  if (stem.size() != 3 && stem.size() != 4) return false;
  wchar_t upper[3];
  for (int i = 0; i < 3; ++i) upper[i] = stem[i] >= L'a' && stem[i] <= L'z' ? stem[i] - L'a' + L'A' : stem[i];
  const std::wstring_view base(upper, 3);
  if (stem.size() == 3) return base == L"CON" || base == L"PRN" || base == L"AUX" || base == L"NUL";
  const wchar_t digit = stem[3];
  return (base == L"COM" || base == L"LPT") &&
         ((digit >= L'1' && digit <= L'9') || digit == L'\u00B9' || digit == L'\u00B2' || digit == L'\u00B3');
}

bool IsWindowsComponent(std::wstring_view component) {
  if (component.empty() || component.back() == L'.' || component.back() == L' ') return false;
  if (component.find_first_of(L"<>:\"/|?*") != std::wstring_view::npos) return false;
  for (wchar_t c : component)
    if (c < 0x20) return false;
  return !IsDeviceName(component);
}

// The path as Windows finds it: uppercased one unit at a time.
std::wstring WindowsKey(const std::wstring& path) {
  std::wstring key(path.size(), L'\0');
  const int n =
      LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, path.data(), static_cast<int>(path.size()),
                    key.data(), static_cast<int>(key.size()), nullptr, nullptr, 0);
  return n == static_cast<int>(path.size()) ? key : path;
}

}  // namespace

bool IsWindowsEntryName(const std::string& name) {
  if (name.empty()) return false;
  // Strict conversion: invalid UTF-8 would become replacement characters,
  // and two different names the same file.
  std::wstring wide;
  if (!Utf8ToWideStrict(name, &wide)) return false;
  for (size_t start = 0;;) {
    const size_t end = wide.find(L'\\', start);
    if (!IsWindowsComponent(
            std::wstring_view(wide).substr(start, end == std::wstring::npos ? end : end - start)))
      return false;
    if (end == std::wstring::npos) return true;
    start = end + 1;
  }
}

bool EntriesCollide(const std::vector<PackageEntry>& entries) {
  std::set<std::wstring> files, folders;
  for (const PackageEntry& entry : entries) {
    const std::wstring key = WindowsKey(entry.path);
    if (files.count(key) || folders.count(key)) return true;
    for (size_t slash = key.find(L'\\'); slash != std::wstring::npos; slash = key.find(L'\\', slash + 1)) {
      const std::wstring folder = key.substr(0, slash);
      if (files.count(folder)) return true;
      folders.insert(folder);
    }
    files.insert(key);
  }
  return false;
}
