// Installers get started twice: a user double-clicks again, a deployment tool runs beside a
// repair by hand, an uninstall starts while an install is still busy. Two runs that change the
// same port, driver, printer, files and keys at once can leave a machine in pieces (a record with
// no printer, a printer with no port), so a run waits for the one before it.
#include "entry/run_lock.h"

namespace {

// "Global\": a run as SYSTEM (a deployment tool, an MSI action) and a run in a user's session
// see the same object. NT 4 and the 95/98/Me family know no namespaces and refuse the backslash.
constexpr char kGlobalName[] = "Global\\TessixTembrinPrinterSetup";
constexpr char kPlainName[] = "TessixTembrinPrinterSetup";

// Longer than the longest run: a spooler still starting (30 s at most), a driver the spooler
// still holds (under 5 s) and the run's own work (a second or two; several under emulation).
// After it the run goes on as if the lock were free, so that a hung run, or a name that another
// program holds, never stops the agent for good. Any user may create the name first and hold
// it ("squatting"): that costs each run this wait at most, never a skipped or a changed run.
constexpr DWORD kLongestWait = 60000;

// CreateMutexA asks for full access to a mutex that exists. One made by a run as SYSTEM grants
// the Administrators group only the right to wait for it and to release it (the default DACL of
// SYSTEM's token): an elevated run in a user's session opens it for just that.
HANDLE OpenLock() {
  HANDLE lock = CreateMutexA(nullptr, FALSE, kGlobalName);
  if (!lock && GetLastError() == ERROR_ACCESS_DENIED)
    lock = OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, kGlobalName);
  return lock ? lock : CreateMutexA(nullptr, FALSE, kPlainName);
}

}  // namespace

HANDLE TakeRunLock() {
  HANDLE lock = OpenLock();
  if (!lock)
    return nullptr;
  // A run that was killed leaves its lock abandoned; the next one takes it over at once: every
  // step converges, whatever a run cut short left.
  const DWORD waited = WaitForSingleObject(lock, kLongestWait);
  if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED)
    return lock;
  CloseHandle(lock);
  return nullptr;
}

void ReleaseRunLock(HANDLE lock) {
  if (!lock)
    return;
  ReleaseMutex(lock);
  CloseHandle(lock);
}
