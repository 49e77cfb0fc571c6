// The agent's entry: probe, fill the process-wide state, run the one command asked for.
#include "common/library_loading.h"
#include "common/names.h"
#include "entry/command_line.h"
#include "entry/probe.h"
#include "entry/sequences.h"
#include "entry/state.h"
#include "registry/registry.h"

#include <winspool.h>

#include <cstring>

namespace {

// The installation directory always ends in a backslash, so that file names can follow it
// directly. A missing value gives "\": the root of the current drive. A 259-character path
// leaves no room for the backslash and is treated as missing rather than cut.
void LoadInstallDir() {
  memset(InstallDir, 0, sizeof InstallDir);
  if (Is64BitWindows)
    ReadRegStringNoRedirect(HKEY_LOCAL_MACHINE, kProductKey, "InstallPath", kEmpty, InstallDir);
  else
    ReadRegString(HKEY_LOCAL_MACHINE, kProductKey, "InstallPath", kEmpty, InstallDir);
  const size_t length = strlen(InstallDir);
  if (length > 0 && InstallDir[length - 1] == '\\')
    return;
  if (!AppendPath(InstallDir, "\\"))
    CopyPath(InstallDir, "\\");
}

// A 32-bit process on 64-bit Windows still installs the x64 driver: the spooler runs 64-bit.
void LoadDriverDir() {
  CopyPath(DriverEnvironment, Is64BitWindows ? "Windows x64" : "Windows NT x86");
  DWORD needed = 0;
  if (!GetPrinterDriverDirectoryA(nullptr, DriverEnvironment, 1, reinterpret_cast<BYTE*>(DriverDir),
                                  sizeof DriverDir, &needed))
    DriverDir[0] = '\0';
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // Before anything can load a library.
  RestrictLibrarySearch();
  ProbeEnvironment(&HasAdminRights, &Is64BitWindows);
  if (!HasAdminRights)
    return 0;
  LoadInstallDir();
  LoadDriverDir();
  const char* command = CommandTail(GetCommandLineA());
  if (strcmp(command, "/Install") == 0)
    RunInstall();
  else if (strcmp(command, "/Uninstall") == 0)
    RunUninstall();
  return 0;
}
