// One run at a time, machine-wide.
#pragma once

#include <windows.h>

struct RunLock {
  HANDLE mutex;  // NULL: the run goes on without the lock
  HANDLE space;  // the private namespace the mutex lives in; NULL outside one
  BOOLEAN(WINAPI* closeSpace)(HANDLE, ULONG);
};

// Waits until no other run of the agent is at work, for a bounded time, and returns the lock to
// hand to ReleaseRunLock; its mutex is NULL when the run goes on without it (the wait ran out,
// or the lock cannot be had).
RunLock TakeRunLock();
void ReleaseRunLock(const RunLock& lock);
