#pragma once

#include <string>

std::wstring StartMenuShortcutPath();
std::wstring DesktopShortcutPath();
bool CreateShortcut(const std::wstring& shortcutFile, const std::wstring& target, const std::wstring& workingDir);
