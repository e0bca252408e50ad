// Small path, file and registry helpers over Win32. They never raise and
// report failure as an empty string, an invalid handle, or not at all.
#pragma once

#include <shlobj.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

std::wstring FormatString(const wchar_t* format, ...);
std::wstring KnownFolderPath(REFKNOWNFOLDERID id);
std::wstring ParentDirectory(const std::wstring& path);
bool FileExists(const std::wstring& path);
void CreateDirectories(const std::wstring& path);
// Removes the folder and everything in it. No removal here follows a link:
// a link (junction, symbolic link, any reparse point, or a path the system
// resolves to somewhere else) is removed as a link where the system can do
// that, and otherwise left in place with a log line; never its target.
void RemoveTree(const std::wstring& folder);
// One file, or a link where a file or folder was; true when nothing is left there.
bool RemoveFile(const std::wstring& path);
// An empty folder, or a link where it was; true when nothing is left there.
bool RemoveEmptyFolder(const std::wstring& path);
// True when the path is a link: it carries the reparse-point attribute, or
// the system opens it as another path than its parent's plus its name.
bool IsLinkAt(const std::wstring& path);
bool IsRedirected(const std::wstring& path);
std::wstring ReadRegString(HKEY root, const std::wstring& subKey, const std::wstring& valueName);
void WriteRegString(const std::wstring& subKey, const std::wstring& valueName, const std::wstring& text);
void WriteRegDword(const std::wstring& subKey, const std::wstring& valueName, uint32_t value);
HANDLE CreateOutputFile(const std::wstring& path);

// The whole of a small file this program wrote itself (install record,
// journal): false when it is missing, unreadable or above 64 MiB.
bool ReadSmallFile(const std::wstring& path, std::string* bytes);
// Writes the whole text under a fresh temporary name beside `path`, flushes
// it, then renames it over `path`: a crash leaves the old file or the new
// one, never half of one.
bool WriteFileReplacing(const std::wstring& path, const std::string& text);
// Removes each of `folders` (relative to `dir`) that is empty, deepest first,
// so that a folder emptied by its children's removal goes too. `skip` may
// keep some of them out (folders reached through a link).
void RemoveEmptyFolders(const std::wstring& dir, std::vector<std::wstring> folders,
                        bool (*skip)(const std::wstring& dir, const std::wstring& folder) = nullptr);

// Names and paths compared as Windows compares them, without regard to case:
// one UTF-16 unit at a time through the package format's uppercase table
// (package_format/entry_name.h), the rule the packer and the package reader
// apply too, whatever the user's locale.
bool SameTextIgnoringCase(std::wstring_view a, std::wstring_view b);
// The text with each unit uppercased by that table: a key for such comparisons.
std::wstring UpcaseText(std::wstring text);

// UTF-8 for the files this program writes itself (install record, journal).
std::string WideToUtf8(const std::wstring& text);
// Strict: bytes that are not valid UTF-8 are refused, not repaired, since a
// repaired name could be another file's.
bool Utf8ToWideStrict(const std::string& bytes, std::wstring* text);
