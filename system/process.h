// Stopping and starting other processes: the product's tray application,
// running copies of the product, and hidden console tools.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

bool AskTrayToQuit();
void CloseRunningCopies(const std::wstring& folder, uint32_t gracePeriodMs);
void LaunchProduct(const std::wstring& exePath, const std::wstring& workingDir,
                   const std::wstring& arguments);
// Runs `program` (a full path) hidden with the given command line, from the
// program's own folder, and waits for it (60 s at most).
void RunHiddenAndWait(const std::wstring& program, const std::wstring& commandLine);

// Like CloseRunningCopies, but only processes whose image is exactly `exePath`:
// used when the installation folder is too broad to end everything inside it.
void CloseRunningProduct(const std::wstring& exePath, uint32_t gracePeriodMs);

// Ends the processes whose image is one of `paths` (the product's own files,
// when the folder around them is not the product's).
void CloseRunningFiles(const std::vector<std::wstring>& paths, uint32_t gracePeriodMs);

// RunHiddenAndWait with a chosen time limit.
void RunHiddenAndWaitFor(const std::wstring& program, const std::wstring& commandLine, uint32_t timeoutMs);

// The full path of a program of the system folder (System32), empty when the
// folder cannot be found. Helper programs are only ever started this way.
std::wstring SystemToolPath(const wchar_t* program);

// Path comparisons of the process matching: letters A to Z without case,
// every other character exactly.
bool PathStartsWith(const std::wstring& path, const std::wstring& prefix);
bool PathEquals(const std::wstring& a, const std::wstring& b);
