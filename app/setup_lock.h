// One run at a time changes the product for the user: an install, update or
// uninstall first holds this lock, and a second run changes nothing while
// another holds it.
#pragma once

#include <cstdint>

// How long a silent run waits for the lock: long enough for an updater
// started just as another run ends, short enough that an automatic update
// never hangs behind a window left open.
inline constexpr uint32_t kSilentLockWaitMs = 10000;

// True when this process holds the lock, taking it first if it is free,
// retrying for up to `waitMs`. A lock whose holder crashed is free: the
// system closes the holder's handle.
bool TakeSetupLock(uint32_t waitMs);

// The first step of every install, update and uninstall: the lock, waited
// for as long as kSilentLockWaitMs by a silent run and not at all by a
// window. False, with the reason in errorText and the log, when another run
// holds it.
bool TakeSetupLockForRun();

// The relocated uninstaller receives the lock of the uninstaller that starts
// it: the handle is inherited, so the lock is never free in between.
// PrepareLockHandOver runs in the parent right before it starts the copy
// (which must then inherit handles); AdoptHandedOverLock in the copy, first.
void PrepareLockHandOver();
void AdoptHandedOverLock();

// Lets go of the lock (tests; the process's end does the same).
void ReleaseSetupLock();
