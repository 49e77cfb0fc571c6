// The printer queue "Tessix Tembrin Printer": created on the port with the driver, made the
// default, and deleted with every other printer of the driver before the driver itself goes.
#include "common/entry_point.h"
#include "common/library_loading.h"
#include "common/names.h"
#include "entry/state.h"
#include "spooler/spooler.h"

#include <windows.h>
#include <winspool.h>

#include <cstring>

namespace {

using SetDefaultPrinterFn = BOOL(WINAPI*)(LPCSTR);

HANDLE AddOurPrinter() {
  PRINTER_INFO_2A record;
  memset(&record, 0, sizeof record);
  record.pPrinterName = const_cast<LPSTR>(kPrinterName);
  record.pPortName = const_cast<LPSTR>(kPortName);
  record.pDriverName = const_cast<LPSTR>(kDriverName);
  record.pPrintProcessor = const_cast<LPSTR>("WinPrint");
  record.pDatatype = const_cast<LPSTR>("RAW");
  record.Attributes = PRINTER_ATTRIBUTE_LOCAL;
  return AddPrinterA(nullptr, 2, reinterpret_cast<LPBYTE>(&record));
}

// A record without a printer or driver name cannot be ours, and cannot be opened by name.
bool UsesOurDriver(const PRINTER_INFO_2A& record) {
  return record.pPrinterName && record.pDriverName && strcmp(record.pDriverName, kDriverName) == 0;
}

// DeletePrinter only marks a printer that still has jobs for deletion, and deletes it once they
// are gone. From then on the spooler shows it to nobody, neither in an enumeration nor to
// OpenPrinter, so that no later run could purge or delete it; meanwhile it holds its driver, and
// a virtual printer whose proxy process does not run prints nothing. So a printer is deleted only
// with its queue empty. The purge takes every job but the one being printed; what it leaves, a
// job that arrived since, or every job where the purge is refused (Wine 8 fails level 0), is
// deleted one by one. A paused printer schedules no job at all, so it is resumed.
void EmptyQueue(HANDLE printer, DWORD status) {
  SetPrinterA(printer, 0, nullptr, PRINTER_CONTROL_PURGE);
  if (status & PRINTER_STATUS_PAUSED)
    SetPrinterA(printer, 0, nullptr, PRINTER_CONTROL_RESUME);
}

constexpr DWORD kEveryJob = 0xFFFFFFFF;
constexpr DWORD kQueuePoll = 250;

// What the queue's jobs take to enumerate: none for an empty queue, while one with jobs fails the
// sizing call with the bytes it needs. (Wine 8's EnumJobsA is a stub that fails needing none: its
// queues are always empty, since it prints each job as the program ends it.)
DWORD JobBytes(HANDLE printer) {
  DWORD needed = 0;
  DWORD count = 0;
  EnumJobsA(printer, 0, kEveryJob, 1, nullptr, 0, &needed, &count);
  return needed;
}

// The one being printed is only marked as deleting, and goes once its print processor lets go.
void DeleteEachJob(HANDLE printer, DWORD needed) {
  BYTE* block = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), 0, needed));
  if (!block)
    return;
  DWORD count = 0;
  if (EnumJobsA(printer, 0, kEveryJob, 1, block, needed, &needed, &count)) {
    const auto* jobs = reinterpret_cast<const JOB_INFO_1A*>(block);
    for (DWORD i = 0; i < count; ++i)
      SetJobA(printer, jobs[i].JobId, 0, nullptr, JOB_CONTROL_DELETE);
  }
  HeapFree(GetProcessHeap(), 0, block);
}

// Within what the uninstall may still wait; false, with the jobs still there, when it runs out.
bool WaitForEmptyQueue(HANDLE printer, DWORD& waitLeft) {
  while (JobBytes(printer) != 0) {
    if (waitLeft == 0)
      return false;
    const DWORD pause = waitLeft < kQueuePoll ? waitLeft : kQueuePoll;
    Sleep(pause);
    waitLeft -= pause;
  }
  return true;
}

// A printer that keeps a job stays, listed, and counts as one that resists: the uninstall stops,
// and a later one finds it again.
bool DeleteListedPrinter(const PRINTER_INFO_2A& record, DWORD& waitLeft) {
  PRINTER_DEFAULTSA defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
  HANDLE printer = nullptr;
  if (!OpenPrinterA(record.pPrinterName, &printer, &defaults))
    return false;
  EmptyQueue(printer, record.Status);
  const DWORD jobBytes = JobBytes(printer);
  if (jobBytes != 0)
    DeleteEachJob(printer, jobBytes);
  const BOOL deleted =
      (jobBytes == 0 || WaitForEmptyQueue(printer, waitLeft)) && DeletePrinter(printer);
  ClosePrinter(printer);
  return deleted != 0;
}

// Stops at the first printer of the driver that resists: the ones after it stay.
int DeleteMatchingPrinters(PRINTER_INFO_2A* records, DWORD count, DWORD& waitLeft) {
  for (DWORD i = 0; i < count; ++i)
    if (UsesOurDriver(records[i]) && !DeleteListedPrinter(records[i], waitLeft))
      return 0;
  return 1;
}

}  // namespace

bool PrinterExists() {
  HANDLE printer = nullptr;
  if (!OpenPrinterA(const_cast<LPSTR>(kPrinterName), &printer, nullptr))
    return false;
  ClosePrinter(printer);
  return true;
}

// An existing printer of that name is left as it is, whatever its driver or port.
int CreatePrinterQueue() {
  if (PrinterExists())
    return 1;
  HANDLE created = AddOurPrinter();
  if (!created)
    return 0;
  ClosePrinter(created);
  return 1;
}

// SetDefaultPrinterA arrived with Windows 2000: looked up, never linked.
int SetDefaultPrinterByName(const char* name) {
  HMODULE winspool = LoadSystemLibrary("winspool.drv");
  if (!winspool)
    return 0;
  const auto setDefaultPrinter = EntryPoint<SetDefaultPrinterFn>(winspool, "SetDefaultPrinterA");
  const int result = setDefaultPrinter ? setDefaultPrinter(name) : 0;
  FreeLibrary(winspool);
  return result;
}

// Works on a snapshot: when printers are added between the sizing call and the enumeration the
// block is too small, the enumeration fails and nothing is deleted, which is not a failure.
int DeletePrintersOfDriver(DWORD& waitLeft) {
  DWORD needed = 0;
  DWORD count = 0;
  EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &count);
  BYTE* block = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), 0, needed));
  int result = 1;
  if (block && EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, block, needed, &needed, &count))
    result = DeleteMatchingPrinters(reinterpret_cast<PRINTER_INFO_2A*>(block), count, waitLeft);
  if (block)
    HeapFree(GetProcessHeap(), 0, block);
  return result;
}

namespace {

// Whether the spooler lists the driver for DriverEnvironment. When it cannot say, the driver
// counts as there: a removal that failed must not pass for a success.
bool DriverIsRegistered() {
  DWORD needed = 0;
  DWORD count = 0;
  if (EnumPrinterDriversA(nullptr, DriverEnvironment, 1, nullptr, 0, &needed, &count))
    return false;  // nothing to list at all
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER)
    return true;
  BYTE* block = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), 0, needed));
  if (!block)
    return true;
  bool found = true;
  if (EnumPrinterDriversA(nullptr, DriverEnvironment, 1, block, needed, &needed, &count)) {
    const auto* records = reinterpret_cast<DRIVER_INFO_1A*>(block);
    found = false;
    for (DWORD i = 0; i < count && !found; ++i)
      found = records[i].pName && strcmp(records[i].pName, kDriverName) == 0;
  }
  HeapFree(GetProcessHeap(), 0, block);
  return found;
}

// The spooler lets go of a driver a moment after the last printer that used it is deleted, and
// only once no program holds a handle to that printer any more; until then the removal fails
// with ERROR_PRINTER_DRIVER_IN_USE. So it is tried again at growing intervals (125, 250, 500,
// then every 1000 ms) for what is left of the uninstall's wait: enough for the spooler, which
// lets go within a second, while a printer that another program keeps open (a print dialog, a
// queue window) is not let go of in any time an installer can wait for. Any other answer is final
// at once.
bool DeleteDriverWhenReleased(DWORD& waitLeft) {
  DWORD wait = 125;
  for (;;) {
    if (DeletePrinterDriverA(nullptr, DriverEnvironment, const_cast<LPSTR>(kDriverName)))
      return true;
    if (GetLastError() != ERROR_PRINTER_DRIVER_IN_USE || waitLeft == 0)
      return false;
    const DWORD pause = wait < waitLeft ? wait : waitLeft;
    Sleep(pause);
    waitLeft -= pause;
    wait = wait < 1000 ? wait * 2 : 1000;
  }
}

}  // namespace

// The environment is named: with NULL the spooler takes the calling program's own, which for
// this 32-bit program on 64-bit Windows is "Windows NT x86", not the "Windows x64" under which
// the driver was registered. A driver that is not registered is as good as removed: an install
// that stopped before the driver must not leave the port behind at the uninstall. Windows
// answers 1797 there and Wine 8 answers 126, so the spooler is asked rather than the code read.
int RemovePrinterDriver(DWORD& waitLeft) {
  if (DeleteDriverWhenReleased(waitLeft))
    return 1;
  return DriverIsRegistered() ? 0 : 1;
}
