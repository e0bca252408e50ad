#include "system/shortcuts.h"

std::wstring StartMenuShortcutPath() { return L""; }
std::wstring DesktopShortcutPath() { return L""; }
bool CreateShortcut(const std::wstring&, const std::wstring&, const std::wstring&) { return false; }
