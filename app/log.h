// The run's log, kept only when "/log=FILE" is given: UTF-8 lines, each
// stamped with the local time and the process id, appended and handed to the
// system one by one, so that a run that crashes still leaves what it did.
// A log that cannot be written is dropped: it never changes the run.
#pragma once

#include <windows.h>

#include <string>

// Starts logging to `path` (made absolute against the current folder), which
// is created or appended to. An empty path, or one that cannot be opened for
// appending, leaves logging off.
void OpenLog(const std::wstring& path);
bool LogEnabled();

// One line; nothing when logging is off. Safe from any thread.
void LogLine(const std::wstring& text);
void LogFormat(const wchar_t* format, ...);

// " /log="PATH"" while logging, else empty: the switch that hands the same log
// to a copy of this program.
std::wstring LogSwitch();

// The opening lines of a run: version, mode, folder, silent or window, and the
// command line.
void LogRunStart(const wchar_t* commandLine);

// "WHAT PATH (Win32 error N)" with the thread's last error, which is read first.
void LogFailure(const wchar_t* what, const std::wstring& path);

// "WHAT" when `error` is 0, else "WHAT: failed (Win32 error N)".
void LogResult(const std::wstring& what, DWORD error);

// A registry value that was set, with its text and the outcome.
void LogRegistryWrite(const std::wstring& subKey, const std::wstring& name, const std::wstring& value,
                      LONG error);

// After an attempt to remove a folder (or the decision not to): what is left.
void LogFolderRemoval(const std::wstring& folder, bool attempted);

// The extraction's outcome, with the message the user sees when it failed.
void LogExtractionResult(bool ok);

// How a started program ended: its exit code, or that it was still running
// when the wait (whose result is `waitResult`) gave up.
void LogProgramEnd(const std::wstring& commandLine, HANDLE process, DWORD waitResult);
