#include "entry/sequences.h"

#include "common/names.h"
#include "common/unicode_names.h"
#include "entry/probe.h"
#include "entry/state.h"
#include "registry/registry.h"
#include "spooler/spooler.h"
#include "system/system.h"

#include <shlobj.h>

#include <cstring>

namespace {

// Quoted: Windows splits an unquoted command at the first blank that ends the name of an
// existing program, so a "Tessix.exe" in the user's Roaming folder (or, on 2000 and XP, a
// "Documents.exe" at the root of the drive) would run at the next logon instead.
constexpr char kCompletionCommand[] = "\"%s\\Tessix Software\\Tessix Tembrin\\%s\"";

// The name the code page gave the folder must be its own: a best-fitted one names another folder,
// and Windows would start whatever program lies there at the next logon.
bool ReadsExactly(PCIDLIST_ABSOLUTE items, const char* folder) {
  if (IsWin9xFamily())
    return true;
  WidePathBuffer unicode;
  return SHGetPathFromIDListW(items, unicode) && ReadsBackExactly(folder, unicode);
}

// The current user's application-data folder; false when the shell cannot name it. The item
// list is the shell's allocation and goes back to it.
bool GetAppDataFolder(PathBuffer& folder) {
  memset(folder, 0, sizeof folder);
  PIDLIST_ABSOLUTE items = nullptr;
  if (FAILED(SHGetSpecialFolderLocation(nullptr, CSIDL_APPDATA, &items)) || !items)
    return false;
  SHGetPathFromIDListA(items, folder);
  const bool exact = folder[0] != '\0' && ReadsExactly(items, folder);
  CoTaskMemFree(items);
  return exact;
}

}  // namespace

// The completion program is placed by the application; we only ask Windows to start it at the
// next logon. Without a folder, with one the code page cannot write, or with a path too long for
// MAX_PATH, there is nothing sound to write, so the entry is left out.
void WriteRunOnceEntry() {
  PathBuffer folder;
  PathBuffer command;
  if (!GetAppDataFolder(folder) ||
      !FormatPath(command, kCompletionCommand, folder, kCompletionProgram))
    return;
  WriteRegString(HKEY_LOCAL_MACHINE, kRunOnceKey, kRunOnceValue, command, REG_SZ);
}

void WriteInstallationRecord() {
  WriteRegString(HKEY_LOCAL_MACHINE, kProductKey, "InstallPath", InstallDir, REG_SZ);
  WriteRegString(HKEY_LOCAL_MACHINE, kProductKey, "Version", "2.0.0.0424", REG_SZ);
  WriteRegString(HKEY_LOCAL_MACHINE, kProductKey, "IsForAllUser", kEmpty, REG_SZ);
  WriteRegString(HKEY_LOCAL_MACHINE, kProductKey, "Language", "1033", REG_SZ);
}

// "Version" first: it is what installers and deployment tools look at. "InstallPath" is the
// application installer's own, and what the next run installs from.
void DeleteInstallationRecord() {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kProductKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
    return;
  RegDeleteValueA(key, "Version");
  RegDeleteValueA(key, "IsForAllUser");
  RegDeleteValueA(key, "Language");
  RegCloseKey(key);
}

namespace {

// Everything the printer steps copy is there and can be read before the first change: a repair
// that found out at the copy, with the old files already aside, would break a printer that works.
bool SourcesAreReadable() {
  return DriverFilesCanBeCopied() && ProxyCanBeCopied();
}

// The chained steps; the first that fails ends the install. `driverReplaced` says whether the
// new driver was registered, the old one's files replaced with it. A driver that the spooler
// refuses takes with it the port that this run added for it: nothing that cannot work stays.
bool InstallPrinter(bool& driverReplaced) {
  driverReplaced = false;
  int portAdded = 0;
  if (!AddPrinterPort(&portAdded))
    return false;
  if (!DeployPrinterDriver()) {
    if (portAdded)
      DeletePrinterPort();
    return false;
  }
  driverReplaced = true;
  return CreatePrinterQueue() && DeployProxyProcess();
}

}  // namespace

void RunInstall() {
  // Nothing to install from, or nowhere to install to.
  if (!HasInstallDir() || !HasDriverDir())
    return;
  // No driver of ours that the spooler can load: Windows on ARM takes ARM64 drivers only (it would
  // take the x64 driver for x64 clients and refuse the printer, leaving a port, foreign files and
  // a foreign driver behind), and protected print mode refuses every third-party driver and
  // removes the printers that used one. A record of an earlier install claims what cannot be.
  if (!DriverForMachine || ProtectedPrintModeIsOn()) {
    DeleteInstallationRecord();
    return;
  }
  // Even retiring the old driver files would break a printer that works.
  if (!SourcesAreReadable())
    return;
  DeleteKeyTree(HKEY_CURRENT_USER, kBetaKey);
  RetiredFiles retired;
  MoveDriverFilesAside(retired);
  // A printer that worked before works after when the old driver stayed registered, its own files
  // all went back and the printer is still there; otherwise no earlier record holds any more.
  bool driverReplaced = false;
  if (!InstallPrinter(driverReplaced)) {
    const bool restored = PutBackRetiredFiles(retired);
    if (driverReplaced || !restored || !PrinterExists())
      DeleteInstallationRecord();
    return;
  }
  DeleteRetiredFiles(retired);
  // The default printer, the add-in and the record only follow a complete printer.
  ProvisionSystemLibraries();
  RegisterWordAddin(InstallDir);
  SetDefaultPrinterByName(kPrinterName);
  WriteRunOnceEntry();
  WriteInstallationRecord();
}

void RunUninstall() {
  // Without the driver directory the file steps would work at the root of the current drive.
  if (HasDriverDir())
    RetireDriverFiles();
  // Without the installation directory the add-in cannot be found. The rest goes all the same: a
  // product whose key is already gone must still be removable.
  if (HasInstallDir())
    UnregisterWordAddin(InstallDir);
  // The saved association values live in the product key: restored before it goes.
  RestorePdfAssociation();
  RemoveProductRegistration();
  DWORD waitLeft = kUninstallWaitLimit;
  if (!DeletePrintersOfDriver(waitLeft))
    return;
  if (!RemovePrinterDriver(waitLeft))
    return;
  if (!DeletePrinterPort() || !HasDriverDir())
    return;
  RemoveProxyProcess();
}
