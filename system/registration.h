// The per-user uninstall entry and the product's automatic-start value.
#pragma once

#include <string>

void WriteUninstallEntry();
void DeleteUninstallEntry();

// True when the uninstall entry names `dir` as its "InstallLocation"
// (trailing backslashes and the case of letters aside).
bool IsRegisteredInstallLocation(const std::wstring& dir);
bool UninstallEntryExists();

// Deletes the value "Norvale Lockra" under the current user's Run key.
void DeleteAutoStartValue();

// "\"<installDir>\uninstall.exe\" /uninstall", as registered.
std::wstring UninstallCommandLine(const std::wstring& installDir);
