// The "Modifier" folder dialog of the install Welcome screen.
#pragma once

#include <windows.h>

#include <string>

// Shows the folder dialog and, when a folder is chosen, makes it installDir.
void PickInstallFolder(HWND owner);

// The installation folder for a chosen folder: trailing backslashes removed,
// then "\Norvale Lockra" appended unless the folder already ends with it.
std::wstring InstallFolderFor(std::wstring chosen);
