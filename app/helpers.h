// Small path, file and registry helpers over Win32. They never raise and
// report failure as an empty string, an invalid handle, or not at all.
#pragma once

#include <shlobj.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

std::wstring FormatString(const wchar_t* format, ...);
std::wstring KnownFolderPath(REFKNOWNFOLDERID id);
std::wstring ParentDirectory(const std::wstring& path);
bool FileExists(const std::wstring& path);
void CreateDirectories(const std::wstring& path);
void RemoveTree(const std::wstring& folder);
std::wstring ReadRegString(HKEY root, const std::wstring& subKey, const std::wstring& valueName);
void WriteRegString(const std::wstring& subKey, const std::wstring& valueName, const std::wstring& text);
void WriteRegDword(const std::wstring& subKey, const std::wstring& valueName, uint32_t value);
HANDLE CreateOutputFile(const std::wstring& path);

// The whole of a small file this program wrote itself (install record,
// journal): false when it is missing, unreadable or above 64 MiB.
bool ReadSmallFile(const std::wstring& path, std::string* bytes);
// The lines of a text that end with LF (a CR before it dropped); a last line
// without its LF was cut short and is not among them.
std::vector<std::string> CompleteLines(const std::string& text);
// Removes each of `folders` (relative to `dir`) that is empty, deepest first,
// so that a folder emptied by its children's removal goes too. `skip` may
// keep some of them out (folders reached through a link).
void RemoveEmptyFolders(const std::wstring& dir, std::vector<std::wstring> folders,
                        bool (*skip)(const std::wstring& dir, const std::wstring& folder) = nullptr);

// UTF-8 for the files this program writes itself (install record, journal).
std::string WideToUtf8(const std::wstring& text);
// Strict: bytes that are not valid UTF-8 are refused, not repaired, since a
// repaired name could be another file's.
bool Utf8ToWideStrict(const std::string& bytes, std::wstring* text);
