// Command-line reading and the entry point's building blocks.
#pragma once

#include <string>

#include "app/command_line.h"

// Steps of the run that only decide (exposed so that they can be checked):
// silent, relaunch and the mode, from the switches and the package
// (InstallerState.selfPath must be set) ...
void ReadSwitchesAndMode(const wchar_t* line);
// ... then the installation folder ("/dir=", an uninstaller's own folder, the
// registry, the default) in its canonical form, and in uninstall mode
// the version registered by the install; and whether the file is a damaged
// setup file rather than an uninstaller (InstallerState.damagedPackage).
void ResolveInstallDir(const wchar_t* line);

// The full, canonical form of a folder (GetFullPathNameW: slashes, doubled
// backslashes, "." and "..", trailing dots and spaces, drive-relative forms),
// without a trailing backslash; empty when it cannot be resolved.
std::wstring CanonicalFolder(const std::wstring& folder);

// The whole run for one command line; returns the process exit code.
int RunSetup(const wchar_t* commandLine);

// The command lines that the entry point starts (exposed so they can be checked).
std::wstring RelocationCommandLine(const std::wstring& tempExe, const std::wstring& installDir, bool silent);
std::wstring SelfDeletionCommandLine(const std::wstring& cmd, const std::wstring& ping,
                                     const std::wstring& selfPath);
