#include "app/command_line.h"

// clang-format off
// windows.h must come before the other Windows headers.
#include <windows.h>
// clang-format on

#include <shellapi.h>

#include "app/helpers.h"

namespace {

// Doubles every run of backslashes that ends at a double quote, so that the
// system's splitter reads each of those backslashes as itself and the quote
// as a quote.
std::wstring LiteralBackslashes(const wchar_t* line) {
  std::wstring out;
  size_t run = 0;
  for (const wchar_t* p = line; *p; ++p) {
    if (*p == L'"') out.append(run, L'\\');
    run = *p == L'\\' ? run + 1 : 0;
    out += *p;
  }
  return out;
}

std::vector<std::wstring> Split(const std::wstring& line) {
  std::vector<std::wstring> arguments;
  int count = 0;
  LPWSTR* argv = CommandLineToArgvW(line.c_str(), &count);
  if (!argv) return arguments;
  for (int i = 0; i < count; ++i) arguments.emplace_back(argv[i]);
  LocalFree(argv);
  return arguments;
}

bool StartsWithIgnoringCase(const std::wstring& text, const wchar_t* prefix, size_t length) {
  return text.size() >= length &&
         SameTextIgnoringCase(std::wstring_view(text).substr(0, length), std::wstring_view(prefix, length));
}

}  // namespace

std::vector<std::wstring> CommandLineArguments(const wchar_t* line, bool* quoteLeftOpen) {
  if (quoteLeftOpen) *quoteLeftOpen = false;
  // An empty line would make the system answer with this program's path.
  if (!line || !*line) return {};
  const std::wstring text = LiteralBackslashes(line);
  std::vector<std::wstring> arguments = Split(text);
  // The splitter's quote rules (doubled quotes among them) have changed
  // between versions of Windows: it alone is asked whether the line ends
  // inside a quote. A word added after a space becomes an argument of its
  // own only when that space lies outside quotes.
  const std::vector<std::wstring> probe = Split(text + L" |");
  const bool open = !(probe.size() == arguments.size() + 1 && probe.back() == L"|");
  if (open && !arguments.empty()) arguments.pop_back();
  if (quoteLeftOpen) *quoteLeftOpen = open;
  if (!arguments.empty()) arguments.erase(arguments.begin());  // the program's path
  return arguments;
}

bool HasSwitch(const wchar_t* line, const wchar_t* text) {
  const size_t length = wcslen(text);
  for (const std::wstring& argument : CommandLineArguments(line))
    if (argument.size() == length && StartsWithIgnoringCase(argument, text, length)) return true;
  return false;
}

std::wstring SwitchValue(const wchar_t* line, const wchar_t* key) {
  const size_t length = wcslen(key);
  for (const std::wstring& argument : CommandLineArguments(line))
    if (StartsWithIgnoringCase(argument, key, length)) return argument.substr(length);
  return std::wstring();
}

bool QuoteLeftOpen(const wchar_t* line) {
  bool open = false;
  CommandLineArguments(line, &open);
  return open;
}

std::wstring SwitchPath(const wchar_t* line, const wchar_t* key) {
  const std::wstring value = SwitchValue(line, key);
  if (value.empty()) return value;
  const DWORD needed = GetFullPathNameW(value.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return value;
  std::wstring full(needed, L'\0');
  const DWORD n = GetFullPathNameW(value.c_str(), needed, full.data(), nullptr);
  if (n == 0 || n >= needed) return value;
  full.resize(n);
  return full;
}
