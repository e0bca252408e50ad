// The install (and update) sequence and the uninstall sequence.
#pragma once

#include <string>

bool RunInstall();
bool RunUninstall();

// The local application-data folder + "\Norvale\Lockra"; empty when that
// known folder cannot be resolved.
std::wstring UserDataFolder();

// An uninstall that stopped part-way in `dir` (its journal is there) is
// finished, without its registration (an install that follows rewrites it).
// False when a file of it is still in use: its journal stays.
bool FinishInterruptedUninstall(const std::wstring& dir);
