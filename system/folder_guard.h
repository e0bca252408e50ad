// The last check before a whole folder is deleted or every process inside it
// is ended: the folder must be something the product can own on its own.
#pragma once

#include <string>

// False for an empty or relative path, a bare drive, a drive root or share
// root, a device path, and any folder that equals or contains one of the
// user's or the system's known folders (profile, application data, Start
// menu, Desktop, Documents, Downloads, Windows, Program Files, the temporary
// folder).
bool IsSafeToRemove(const std::wstring& folder);

// The lexical checks alone, against a given list of protected folders
// (each an absolute path); IsSafeToRemove feeds it the known folders.
bool IsSafeToRemoveAmong(const std::wstring& folder, const std::wstring* protectedFolders, size_t count);
