// Stopping and starting other processes: the product's tray application,
// running copies of the product, and hidden console tools.
#pragma once

#include <cstdint>
#include <string>

bool AskTrayToQuit();
void CloseRunningCopies(const std::wstring& folder, uint32_t gracePeriodMs);
void LaunchProduct(const std::wstring& exePath, const std::wstring& workingDir,
                   const std::wstring& arguments);
void RunHiddenAndWait(const std::wstring& commandLine);

// Like CloseRunningCopies, but only processes whose image is exactly `exePath`:
// used when the installation folder is too broad to end everything inside it.
void CloseRunningProduct(const std::wstring& exePath, uint32_t gracePeriodMs);

// RunHiddenAndWait with a chosen time limit (RunHiddenAndWait waits 60 s).
void RunHiddenAndWaitFor(const std::wstring& commandLine, uint32_t timeoutMs);

// Path comparisons of the process matching: letters A to Z without case,
// every other character exactly.
bool PathStartsWith(const std::wstring& path, const std::wstring& prefix);
bool PathEquals(const std::wstring& a, const std::wstring& b);
