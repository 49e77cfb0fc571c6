// Seeding and inspecting the simulated print spooler.
//
// What the winspool calls model, as Windows behaves (where Wine 8 differs, the note says so):
// - OpenPrinterA: NULL opens the local server; ",XcvMonitor Local Port" (also ", XcvMonitor ...")
//   opens the Local Port monitor's configuration interface; any other name must be a printer
//   (ERROR_INVALID_PRINTER_NAME). PRINTER_ALL_ACCESS and SERVER_ACCESS_ADMINISTER need an
//   administrator. Every handle is in the ledger until ClosePrinter.
// - XcvDataW works on a monitor handle only (ERROR_INVALID_HANDLE otherwise) and needs
//   pdwStatus. The monitor reads the port name from the cbInputData bytes it is given.
//   "AddPort": status 0, ERROR_ALREADY_EXISTS for a known port, ERROR_ACCESS_DENIED without
//   SERVER_ACCESS_ADMINISTER; "DeletePort": status 0, ERROR_FILE_NOT_FOUND for a missing port.
// - AddPrinterDriverA level 3: the driver, data and configuration files (and any help and
//   dependent files) must be in the environment's driver directory (ERROR_FILE_NOT_FOUND); they
//   are copied into its subdirectory "3". A NULL environment is the caller's own, "Windows NT
//   x86". Adding a driver again replaces it. (Wine 8 registers the driver without the files.)
// - AddPrinterA level 2: needs a known port (ERROR_UNKNOWN_PORT), a driver registered for the
//   spooler's own environment, which is "Windows x64" on 64-bit Windows and "Windows ARM64" on
//   Windows on ARM, whatever the caller (ERROR_UNKNOWN_PRINTER_DRIVER), the "WinPrint" processor,
//   and a new name (ERROR_PRINTER_ALREADY_EXISTS). (Wine 8 checks neither port nor name, and wants
//   the driver for the caller's environment, failing a 32-bit caller on 64-bit Windows with 87.)
// - EnumPrintersA level 2: records first, their strings packed at the end of the caller's block;
//   a block that is too small fails with ERROR_INSUFFICIENT_BUFFER and the size needed. No
//   printers: success with 0 bytes needed.
// - SetPrinterA level 0 with PRINTER_CONTROL_PAUSE, _RESUME or _PURGE needs
//   PRINTER_ACCESS_ADMINISTER. The purge deletes every job but the one being printed, which is
//   only marked as deleting: it goes once its print processor lets go. (Wine 8 ignores the
//   command and fails level 0 with 124.)
// - EnumJobsA level 1: records first, strings packed at the end; an empty queue succeeds with 0
//   bytes needed, a block too small fails with ERROR_INSUFFICIENT_BUFFER and the bytes needed.
//   SetJobA level 0 with JOB_CONTROL_DELETE deletes a job at once, or marks the one being
//   printed. (Wine 8's EnumJobsA is a stub that fails with 0 bytes needed and sets no error, and
//   its SetJobA ignores the command: it prints each job as the program ends it, so its queues are
//   empty whenever another call can look.)
// - DeletePrinter needs DELETE access. A paused printer with jobs is refused (ERROR_ACCESS_DENIED).
//   Any other printer that still has jobs is only marked for deletion
//   (PRINTER_STATUS_PENDING_DELETION): from then on EnumPrintersA and OpenPrinterA leave it out,
//   handles opened before keep working, and it keeps its driver in use until its jobs are gone.
//   What the spooler does with such a printer at its own restart is documented nowhere; its jobs
//   are spooled to disk and survive a restart, so the printer is taken to stay pending until they
//   are gone. (Wine 8 deletes a printer at once, jobs or not.)
//   DeletePrinterDriverA (NULL environment = "Windows NT x86")
//   fails with ERROR_UNKNOWN_PRINTER_DRIVER for an unknown driver and, for the spooler's own
//   environment, with ERROR_PRINTER_DRIVER_IN_USE while a printer uses it, or a deleted one still
//   holds it (SetDriverRelease, HoldOpen; Wine 8 does not check).
// - SetDefaultPrinterA (exported by "winspool.drv", looked up at run time) needs an existing
//   printer (ERROR_INVALID_PRINTER_NAME).
#pragma once

#include "sim.h"

#include <string>
#include <vector>

namespace sim::spooler {

// The printer-driver directory the spooler reports for an environment ("Windows NT x86",
// "Windows x64"); "" makes the environment unknown. The directory and its "3" are created.
void SetDriverDirectory(const std::string& environment, const std::string& directory);
std::string DriverDirectory(const std::string& environment);

// Ports of the Local Port monitor; sim::Reset() leaves "LPT1:" and "FILE:".
void AddPort(const std::string& name);
bool HasPort(const std::string& name);
std::vector<std::string> Ports();

struct Driver {
  std::string name;
  std::string environment;
  DWORD version = 3;
  std::string driverPath, dataFile, configFile;  // as registered: bare names
};
// Registers a version-3 driver without looking at files.
void AddDriver(const std::string& name, const std::string& environment = "Windows NT x86");
bool HasDriver(const std::string& name, const std::string& environment = "Windows NT x86");
std::vector<Driver> Drivers();

struct Printer {
  std::string name, port, driver;
};
// Adds a printer as given, without checking its port or driver.
void AddPrinter(const std::string& name, const std::string& port, const std::string& driver);
bool HasPrinter(const std::string& name);
std::vector<Printer> Printers();  // in enumeration order: the order they were added
// EnumPrintersA reports this printer with NULL pPrinterName and pDriverName, as a broken print
// provider may.
void ReportWithoutNames(const std::string& printer);

// Print jobs waiting in a printer's queue. They print `printsIn` milliseconds of the machine's
// time after they are added or the printer is resumed, while it is not paused; INFINITE: never,
// as the jobs of a virtual printer whose proxy process does not run.
void AddJobs(const std::string& printer, DWORD count, DWORD printsIn = INFINITE);
// The job being printed: in its print processor's hands, which neither a purge nor its deletion
// takes it from. It goes `letsGoIn` milliseconds from now (INFINITE: never, as a job printing to a
// port that no program reads may stay), or at LetGo.
void AddPrintingJob(const std::string& printer, DWORD letsGoIn = INFINITE);
void LetGo(const std::string& printer);
void Pause(const std::string& printer);
// Whether the printer is marked for deletion, and so out of the agent's sight.
bool IsPendingDeletion(const std::string& printer);

// The spooler holds a driver for a while after the last printer that used it is deleted:
// DeletePrinterDriverA fails with ERROR_PRINTER_DRIVER_IN_USE for `milliseconds` of the machine's
// time (sim::kernel::Clock, which only Sleep advances; 0 at start: not at all), and as long as a
// handle to that printer stays open, the agent's own or one that another program holds.
void SetDriverRelease(DWORD milliseconds);
void HoldOpen(const std::string& printer, bool held = true);

// The "Spooler" service, as the Service Control Manager reports it (OpenSCManagerA, OpenServiceA,
// QueryServiceStatus and CloseServiceHandle, which advapi32 exports on NT only). Anything but a
// running one answers no spooler call but ClosePrinter (RPC_S_SERVER_UNAVAILABLE). A starting
// one runs once `milliseconds` of the machine's time have passed; a disabled one is stopped.
enum class Service { Running, StartPending, StopPending, Stopped, Disabled };
void SetService(Service state, DWORD milliseconds = 0);
void Stop();  // SetService(Service::Stopped)

std::string DefaultPrinter();  // "" when there is none
void SetDefault(const std::string& printer);

// Ports, drivers, printers and the default printer as text: for asserting that two machines
// ended alike.
std::string Dump();

}  // namespace sim::spooler
