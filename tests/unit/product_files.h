// The application's own files as its installer leaves them below the installation directory:
// what an install needs to get past the printer steps; and a machine on which every step of the
// install can succeed.
#pragma once

#include "com.h"
#include "files.h"
#include "registry.h"
#include "spooler.h"

#include <string>

// `installDir` ends in a backslash, as InstallDir does. Both the 32-bit and the 64-bit files are
// seeded; each file holds its own name, so a copy shows where it came from.
inline void SeedProductFiles(const std::string& installDir,
                             DWORD attributes = FILE_ATTRIBUTE_ARCHIVE) {
  for (const char* name :
       {"qelvpr_drv.dll", "qelvpr_ui.dll", "qelvpr_pnt.txt", "QXN_ProxyProcess.exe",
        "qelvpr_drv64.dll", "qelvpr_ui64.dll", "qelvpr_pnt64.txt", "QXN_ProxyProcess64.exe"})
    sim::files::AddFile(installDir + "plugins\\creator\\" + name, name, attributes);
}

// What the library step needs on every Windows: psapi.dll in System32, the "wbem" folder, and
// framedyn.dll in both driver directories for the step that provides it.
inline void SeedSystemLibrarySources() {
  sim::files::AddFile("C:\\Windows\\System32\\psapi.dll");
  sim::files::AddDirectory("C:\\Windows\\System32\\wbem");
  for (const char* environment : {"Windows NT x86", "Windows x64"})
    sim::files::AddFile(sim::spooler::DriverDirectory(environment) + "\\framedyn.dll");
}

// Everything an install needs to run all its steps: "InstallPath" (in the view the agent reads on
// either Windows), the product files, the add-in, psapi.dll in System32, the "wbem" folder, and
// framedyn.dll in both driver directories for the step that provides it.
inline void SeedCompleteInstall(
    const std::string& installDir, sim::com::EntryPoint addinEntry = [] { return S_OK; }) {
  sim::reg::SetString(HKEY_LOCAL_MACHINE, "Software\\Tessix Software\\Tessix Tembrin",
                      "InstallPath", installDir, sim::reg::View::Native);
  SeedProductFiles(installDir);
  sim::com::AddServer(installDir + "qlc_wordaddin.dll", addinEntry, addinEntry);
  SeedSystemLibrarySources();
}
