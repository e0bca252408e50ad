// The product's shell shortcuts: Start menu (always) and Desktop (on request).
#pragma once

#include <string>

// Empty when the known folder cannot be resolved.
std::wstring StartMenuShortcutPath();
std::wstring DesktopShortcutPath();

// Needs COM initialised on the calling thread. False for an empty file name.
bool CreateShortcut(const std::wstring& shortcutFile, const std::wstring& target,
                    const std::wstring& workingDir);

// Deletes the file; an empty name or a missing file is ignored.
void DeleteShortcut(const std::wstring& shortcutFile);
