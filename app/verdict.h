// The uninstaller that relocates itself waits for its copy's verdict, so the
// caller of the uninstall command (a deployment tool, a script, the list of
// installed applications) learns whether the product really went.
//
// The first process makes two inheritable events (success, failure) and an
// inheritable handle on itself, and names them to its copy in an environment
// variable. The copy removes everything but the first process's own file,
// signals one event, waits for the first process to end, then removes that
// file too.
#pragma once

#include <windows.h>

// First process, right before it starts the copy (which must inherit handles).
bool PrepareVerdictChannel();
// First process: the exit code it ends with. The copy's verdict; when the copy
// ends without one, its own exit code (a window closed without uninstalling
// gives 0); 1 when nothing comes within `waitMs` (INFINITE: as long as the
// copy runs).
int AwaitVerdict(HANDLE copy, DWORD waitMs);

// The copy, first: takes the handles named by the variable (and only handles
// that are what they claim to be).
void AdoptVerdictChannel();
// The copy: the first process's id (0 when none waits), which the closing of
// the product's programs must spare: it is the uninstaller itself.
unsigned long FirstProcessId();
// The copy: reports the result once (later calls do nothing).
void ReportVerdict(bool ok);
// The copy: waits (bounded) for the first process to end, so that its file can go.
void WaitForFirstProcessEnd();
