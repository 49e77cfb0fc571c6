// One run at a time, machine-wide.
#pragma once

#include <windows.h>

// Waits until no other run of the agent is at work, for a bounded time, and returns the lock to
// hand to ReleaseRunLock; NULL when the run goes on without it (the wait ran out, or the lock
// cannot be had).
HANDLE TakeRunLock();
void ReleaseRunLock(HANDLE lock);
