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

// Whether every driver file that DeployPrinterDriver copies (for this Windows) is there and
// readable in the installation directory, and every path of the copies fits.
bool DriverFilesCanBeCopied();
// Copies the three driver files (the 64-bit ones on 64-bit Windows) from the installation
// directory into DriverDir, registers the version-3 driver for DriverEnvironment and clears the
// read-only bit of the two driver libraries. A failure takes away the copies it placed where no
// file of that name was.
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

// Where a retirement moved the files of its table: for each row, the variant of the temporary
// name its file took (0 the plain one, 1 to 9 a numbered one), or -1 when none moved.
constexpr int kRetiredFileCount = 7;
struct RetiredFiles {
  int variant[kRetiredFileCount];
};

// Moves a file of the driver directory to a free temporary name in the same directory and
// deletes that, now or at the next restart; a file that cannot be moved is deleted at the next
// restart. `format` joins DriverDir and a name ("%s\\3\\%s"); `temporaryName` is the plain one.
void RetireFile(const char* format, const char* fileName, const char* temporaryName);
// The uninstall's retirement: the driver files (in DriverDir itself too on 64-bit Windows) and
// the proxy process, each as RetireFile, after the temporary files of earlier runs.
void RetireDriverFiles();
// The install's: the same files moved aside, to be deleted once the new printer is whole, or put
// back when it cannot be.
void MoveDriverFilesAside(RetiredFiles& retired);
void DeleteRetiredFiles(const RetiredFiles& retired);
// Puts back every file whose name is still free, deleting the others; true when every one went
// back.
bool PutBackRetiredFiles(const RetiredFiles& retired);
// Whether the proxy executable for this Windows is there and readable in the installation
// directory, and both paths of its copy fit.
bool ProxyCanBeCopied();
// Copies the print proxy executable into the driver directory's "3".
int DeployProxyProcess();
// Retires the proxy executable. Always 1.
int RemoveProxyProcess();
