// Screen flow: the background worker, the publication of its outcome, and the
// ways the window may launch the product when it leaves the Done screen.
#pragma once

#include <windows.h>

#include <cstdint>

#include "app/state.h"

// The screen, read with acquire order: seeing Done or Error also shows the
// finishTick written before it by the worker.
Screen CurrentScreen();
// Stores the screen with release order.
void SetScreen(Screen screen);
// finishTick, read after CurrentScreen() returned Done or Error.
uint64_t FinishTick();

void StartWorker();
void WorkerMain();
void FinishWorker(bool success);

// The system's client-area animation preference; true when it cannot be read.
bool AnimationsEnabled();
// The preference from the query's outcome: whether it succeeded, and the value it read.
bool AnimationsFromQuery(bool succeeded, BOOL value);

// Starts the installed product from installDir, at most once per process.
void LaunchInstalledProduct();

// True when leaving the Done screen starts the product: after an install
// whose "launch at the end" box is ticked, after an update given
// "/relaunch=1". The main button ("Lancer …") starts it in either mode.
bool LeavingShouldLaunch();

// True when a successful update has shown Done for longer than the pause
// before the automatic close, at tick `now`.
bool UpdateAutoCloseDue(uint64_t now);

// The frame timer's part of the flow: closes the window after an update.
void OnFrameTimer(HWND window);
