// Printer installation: the port, the driver package, the printer queue, and the driver files
// and proxy process in the spooler's driver directory. Results follow the agent's convention: 1
// for success, 0 for failure.
#pragma once

#include <windows.h>

// Registers the port "TESSIX_TEMBRIN:" with the Local Port monitor. 1 also when the port exists;
// `added`, when given, says whether this call added it.
int AddPrinterPort(int* added = nullptr);
// Removes the port again. Always 1: a port that cannot be removed must not stop the uninstall.
int DeletePrinterPort();

// Copies the three driver files (the 64-bit ones on 64-bit Windows) from the installation
// directory into DriverDir, registers the version-3 driver for DriverEnvironment and clears the
// read-only bit of the two driver libraries.
int DeployPrinterDriver();

// Creates the printer "Tessix Tembrin Printer" unless a printer of that name exists already.
int CreatePrinterQueue();
// Whether the printer "Tessix Tembrin Printer" exists.
bool PrinterExists();
// The current user's default printer. SetDefaultPrinterA's own result, 0 when winspool lacks it.
int SetDefaultPrinterByName(const char* name);
// What the uninstall waits, in all, for queues to empty and for the spooler to let go of the
// driver: the budget that DeletePrintersOfDriver and RemovePrinterDriver share, in milliseconds.
constexpr DWORD kUninstallWaitLimit = 5000;
// Deletes every local printer that uses the driver, each once its queue is empty. 0 at the first
// one that resists or keeps a job; 1 otherwise, also when the printers cannot be enumerated.
// `waitLeft` is what may still be waited, and what remains of it after.
int DeletePrintersOfDriver(DWORD& waitLeft);
// Removes the driver's registration for DriverEnvironment, waiting within `waitLeft` for the
// spooler to let go of it.
int RemovePrinterDriver(DWORD& waitLeft);

// Moves a file of the driver directory to a temporary name in the same directory and deletes
// that, now or at the next restart. `format` joins DriverDir and a name ("%s\\3\\%s").
void RetireFile(const char* format, const char* fileName, const char* temporaryName);
// Retires the driver files (in DriverDir itself too on 64-bit Windows) and the proxy process.
void RetireDriverFiles();
// Copies the print proxy executable into the driver directory's "3".
int DeployProxyProcess();
// Retires the proxy executable. Always 1.
int RemoveProxyProcess();
