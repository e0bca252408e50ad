// Stopping and starting other processes: the product's tray application,
// running copies of the product, and hidden console tools.
#pragma once

#include <cstdint>
#include <string>

bool AskTrayToQuit();
void CloseRunningCopies(const std::wstring& folder, uint32_t gracePeriodMs);
void LaunchProduct(const std::wstring& exePath, const std::wstring& workingDir, const std::wstring& arguments);
void RunHiddenAndWait(const std::wstring& commandLine);
