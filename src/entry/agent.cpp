// The agent's entry: probe, fill the process-wide state, run the one command asked for.
#include "common/library_loading.h"
#include "common/names.h"
#include "common/path_syntax.h"
#include "common/unicode_names.h"
#include "entry/command_line.h"
#include "entry/probe.h"
#include "entry/run_lock.h"
#include "entry/spooler_service.h"
#include "entry/sequences.h"
#include "entry/state.h"
#include "entry/trusted_folder.h"
#include "registry/registry.h"

#include <winspool.h>

#include <cstring>

namespace {

constexpr WideText<sizeof "InstallPath"> kWideInstallPath = Widen("InstallPath");

// Where the code page is the system's (before Windows 10 1903), "C:\Łódź\Tembrin" reads as
// "C:\Lódz\Tembrin", a folder any user may create: the text read must be the value exactly, as
// its Unicode read, in the same registry view, shows. The 95/98/Me family stores ANSI text.
bool InstallPathReadsExactly() {
  if (IsWin9xFamily())
    return true;
  WidePathBuffer unicode;
  return ReadRegWideString(HKEY_LOCAL_MACHINE, kProductKey, kWideInstallPath.text, unicode) &&
         ReadsBackExactly(InstallDir, unicode);
}

// The driver files, the proxy process and the add-in come from the installation directory, and
// the add-in runs in this elevated process: only a full path names that directory. A missing,
// empty, rooted ("\Program Files\...") or relative one would be looked for wherever the current
// drive and directory happen to be, which any user may have prepared, as would one that the code
// page cannot write, and a 259-character one leaves no room for the backslash: all of them count
// as none, "". A usable one always ends in a backslash, so that file names can follow it.
void LoadInstallDir() {
  memset(InstallDir, 0, sizeof InstallDir);
  if (Is64BitWindows)
    ReadRegStringNoRedirect(HKEY_LOCAL_MACHINE, kProductKey, "InstallPath", kEmpty, InstallDir);
  else
    ReadRegString(HKEY_LOCAL_MACHINE, kProductKey, "InstallPath", kEmpty, InstallDir);
  if (!IsFullPath(InstallDir) || !InstallPathReadsExactly() ||
      (!EndsInBackslash(InstallDir) && !AppendPath(InstallDir, "\\")))
    memset(InstallDir, 0, sizeof InstallDir);
}

bool AskForDriverDir() {
  DWORD needed = 0;
  return GetPrinterDriverDirectoryA(nullptr, DriverEnvironment, 1,
                                    reinterpret_cast<BYTE*>(DriverDir), sizeof DriverDir,
                                    &needed) &&
         IsFullPath(DriverDir);
}

// Right after a boot, and at a deployment tool's computer-startup run, the agent can come before
// the spooler, whose calls all fail while the Service Control Manager reports it as starting.
// The directory is then asked for every half second for up to 30 s: the Service Control
// Manager's own default limit for a service to start, after which it gives up on the service
// itself. A spooler that finishes starting between the call that found no spooler
// (RPC_S_SERVER_UNAVAILABLE) and the question reads as running: it is asked again, a few times;
// one that runs and still cannot be reached after that will not be by waiting longer. A running
// spooler costs no wait; a stopped, disabled or stopping one, or any other refusal, is final at
// once.
constexpr DWORD kSpoolerPoll = 500;
constexpr int kSpoolerPolls = 60;
constexpr int kLooksAtARunningSpooler = 3;

// A 32-bit process on 64-bit Windows still installs the x64 driver: the spooler runs 64-bit. A
// stopped or disabled spooler (a common hardening of servers) names no directory, and every
// path below it would lie at the root of the current drive: then there is none, "".
void LoadDriverDir() {
  CopyPath(DriverEnvironment, Is64BitWindows ? "Windows x64" : "Windows NT x86");
  int looksWhileRunning = 0;
  for (int polls = 0; !AskForDriverDir(); ++polls) {
    const bool unreachable = GetLastError() == RPC_S_SERVER_UNAVAILABLE;
    const DWORD state = SpoolerServiceState();
    const bool worthAnotherLook =
        state == SERVICE_START_PENDING ||
        (state == SERVICE_RUNNING && unreachable && looksWhileRunning++ < kLooksAtARunningSpooler);
    if (polls == kSpoolerPolls || !worthAnotherLook) {
      DriverDir[0] = '\0';
      return;
    }
    Sleep(kSpoolerPoll);
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // Before anything can load a library.
  RestrictLibrarySearch();
  ProbeEnvironment(&HasAdminRights, &Is64BitWindows);
  if (!HasAdminRights)
    return 0;
  // Only 64-bit Windows can be Windows on ARM: 32-bit Windows runs on x86 alone.
  if (Is64BitWindows)
    ProbeNativeMachine(&DriverForMachine);
  // Before anything changes: even the start-up's read creates the product key.
  const RunLock lock = TakeRunLock();
  LoadInstallDir();
  LoadDriverDir();
  const char* command = CommandTail(GetCommandLineA());
  if (strcmp(command, "/Install") == 0) {
    KeepInstallDirIfTrusted(true);
    RunInstall();
  } else if (strcmp(command, "/Uninstall") == 0) {
    KeepInstallDirIfTrusted(false);
    RunUninstall();
  }
  ReleaseRunLock(lock);
  return 0;
}
