// The install (and update) sequence and the uninstall sequence.
#pragma once

#include <string>

bool RunInstall();
bool RunUninstall();

// The local application-data folder + "\Norvale\Lockra"; empty when that
// known folder cannot be resolved.
std::wstring UserDataFolder();
