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
// are printed; a virtual printer whose proxy process does not run prints none, so the printer,
// and with it the driver, would stay for good. So its jobs go first. A paused printer schedules
// no job at all: whatever the purge leaves (it spares the job being printed) or a job that
// arrives before the deletion would keep it for ever, so it is resumed once its queue is empty.
// A purge or a resume that fails (Wine 8 ignores both and fails level 0) leaves the deletion to
// be tried as before.
void EmptyQueue(HANDLE printer, DWORD status) {
  SetPrinterA(printer, 0, nullptr, PRINTER_CONTROL_PURGE);
  if (status & PRINTER_STATUS_PAUSED)
    SetPrinterA(printer, 0, nullptr, PRINTER_CONTROL_RESUME);
}

bool DeleteListedPrinter(const PRINTER_INFO_2A& record) {
  PRINTER_DEFAULTSA defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
  HANDLE printer = nullptr;
  if (!OpenPrinterA(record.pPrinterName, &printer, &defaults))
    return false;
  EmptyQueue(printer, record.Status);
  const BOOL deleted = DeletePrinter(printer);
  ClosePrinter(printer);
  return deleted != 0;
}

// Stops at the first printer of the driver that resists: the ones after it stay.
int DeleteMatchingPrinters(PRINTER_INFO_2A* records, DWORD count) {
  for (DWORD i = 0; i < count; ++i)
    if (UsesOurDriver(records[i]) && !DeleteListedPrinter(records[i]))
      return 0;
  return 1;
}

}  // namespace

// An existing printer of that name is left as it is, whatever its driver or port.
int CreatePrinterQueue() {
  HANDLE printer = nullptr;
  if (OpenPrinterA(const_cast<LPSTR>(kPrinterName), &printer, nullptr)) {
    ClosePrinter(printer);
    return 1;
  }
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
int DeletePrintersOfDriver() {
  DWORD needed = 0;
  DWORD count = 0;
  EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &count);
  BYTE* block = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), 0, needed));
  int result = 1;
  if (block && EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, block, needed, &needed, &count))
    result = DeleteMatchingPrinters(reinterpret_cast<PRINTER_INFO_2A*>(block), count);
  if (block)
    HeapFree(GetProcessHeap(), 0, block);
  return result;
}

namespace {

// 125 + 250 + 500 + 1000 * 4 ms: 4.875 s of waiting at most.
constexpr int kDriverReleaseRetries = 7;

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
// with ERROR_PRINTER_DRIVER_IN_USE. So it is tried again for up to about five seconds, at
// growing intervals: enough for the spooler, which lets go within a second, while a printer that
// another program keeps open (a print dialog, a queue window) is not let go of in any time an
// installer can wait for. Any other answer is final at once.
bool DeleteDriverWhenReleased() {
  DWORD wait = 125;
  for (int attempt = 0;; ++attempt) {
    if (DeletePrinterDriverA(nullptr, DriverEnvironment, const_cast<LPSTR>(kDriverName)))
      return true;
    if (GetLastError() != ERROR_PRINTER_DRIVER_IN_USE || attempt == kDriverReleaseRetries)
      return false;
    Sleep(wait);
    wait = wait < 1000 ? wait * 2 : 1000;
  }
}

}  // namespace

// The environment is named: with NULL the spooler takes the calling program's own, which for
// this 32-bit program on 64-bit Windows is "Windows NT x86", not the "Windows x64" under which
// the driver was registered. A driver that is not registered is as good as removed: an install
// that stopped before the driver must not leave the port behind at the uninstall. Windows
// answers 1797 there and Wine 8 answers 126, so the spooler is asked rather than the code read.
int RemovePrinterDriver() {
  if (DeleteDriverWhenReleased())
    return 1;
  return DriverIsRegistered() ? 0 : 1;
}
