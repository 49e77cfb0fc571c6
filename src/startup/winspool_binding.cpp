// The spooler functions the agent calls, bound at run time. "winspool.drv" is none of Windows'
// known DLLs: imported statically, it would be looked for in the agent's own folder before any
// code of ours runs. Each function here loads it from the system directory on first use (the
// search is restricted by then) and forwards the call; a library or function that cannot be
// bound fails the call with the loader's error, as the Win32 function would fail, instead of
// stopping the process. The library stays loaded for the process's life, as an import would.
// Built into the Windows exe only: the simulated machine provides these functions itself.
#include "common/entry_point.h"
#include "common/library_loading.h"

#include <windows.h>
#include <winspool.h>

namespace {

HMODULE winspool = nullptr;

template <class Function>
Function Bind(const char* name) {
  if (!winspool)
    winspool = LoadSystemLibrary("winspool.drv");
  return winspool ? EntryPoint<Function>(winspool, name) : nullptr;
}

}  // namespace

BOOL WINAPI OpenPrinterA(LPSTR name, LPHANDLE printer, LPPRINTER_DEFAULTSA defaults) {
  const auto bound = Bind<decltype(&OpenPrinterA)>("OpenPrinterA");
  return bound ? bound(name, printer, defaults) : FALSE;
}

BOOL WINAPI ClosePrinter(HANDLE printer) {
  const auto bound = Bind<decltype(&ClosePrinter)>("ClosePrinter");
  return bound ? bound(printer) : FALSE;
}

BOOL WINAPI XcvDataW(HANDLE xcv, PCWSTR dataName, PBYTE input, DWORD inputSize, PBYTE output,
                     DWORD outputSize, PDWORD outputNeeded, PDWORD status) {
  const auto bound = Bind<decltype(&XcvDataW)>("XcvDataW");
  return bound ? bound(xcv, dataName, input, inputSize, output, outputSize, outputNeeded, status)
               : FALSE;
}

BOOL WINAPI GetPrinterDriverDirectoryA(LPSTR server, LPSTR environment, DWORD level,
                                       LPBYTE directory, DWORD size, LPDWORD needed) {
  const auto bound = Bind<decltype(&GetPrinterDriverDirectoryA)>("GetPrinterDriverDirectoryA");
  return bound ? bound(server, environment, level, directory, size, needed) : FALSE;
}

BOOL WINAPI AddPrinterDriverA(LPSTR server, DWORD level, LPBYTE driver) {
  const auto bound = Bind<decltype(&AddPrinterDriverA)>("AddPrinterDriverA");
  return bound ? bound(server, level, driver) : FALSE;
}

HANDLE WINAPI AddPrinterA(LPSTR server, DWORD level, LPBYTE printer) {
  const auto bound = Bind<decltype(&AddPrinterA)>("AddPrinterA");
  return bound ? bound(server, level, printer) : nullptr;
}

BOOL WINAPI EnumPrintersA(DWORD flags, LPSTR name, DWORD level, LPBYTE block, DWORD size,
                          LPDWORD needed, LPDWORD returned) {
  const auto bound = Bind<decltype(&EnumPrintersA)>("EnumPrintersA");
  return bound ? bound(flags, name, level, block, size, needed, returned) : FALSE;
}

BOOL WINAPI EnumPrinterDriversA(LPSTR server, LPSTR environment, DWORD level, LPBYTE block,
                                DWORD size, LPDWORD needed, LPDWORD returned) {
  const auto bound = Bind<decltype(&EnumPrinterDriversA)>("EnumPrinterDriversA");
  return bound ? bound(server, environment, level, block, size, needed, returned) : FALSE;
}

BOOL WINAPI DeletePrinter(HANDLE printer) {
  const auto bound = Bind<decltype(&DeletePrinter)>("DeletePrinter");
  return bound ? bound(printer) : FALSE;
}

BOOL WINAPI SetPrinterA(HANDLE printer, DWORD level, LPBYTE data, DWORD command) {
  const auto bound = Bind<decltype(&SetPrinterA)>("SetPrinterA");
  return bound ? bound(printer, level, data, command) : FALSE;
}

BOOL WINAPI EnumJobsA(HANDLE printer, DWORD firstJob, DWORD jobs, DWORD level, LPBYTE block,
                      DWORD size, LPDWORD needed, LPDWORD returned) {
  const auto bound = Bind<decltype(&EnumJobsA)>("EnumJobsA");
  return bound ? bound(printer, firstJob, jobs, level, block, size, needed, returned) : FALSE;
}

BOOL WINAPI SetJobA(HANDLE printer, DWORD job, DWORD level, LPBYTE data, DWORD command) {
  const auto bound = Bind<decltype(&SetJobA)>("SetJobA");
  return bound ? bound(printer, job, level, data, command) : FALSE;
}

BOOL WINAPI DeletePrinterDriverA(LPSTR server, LPSTR environment, LPSTR driver) {
  const auto bound = Bind<decltype(&DeletePrinterDriverA)>("DeletePrinterDriverA");
  return bound ? bound(server, environment, driver) : FALSE;
}
