// The application's own files as its installer leaves them below the installation directory:
// what an install needs to get past the printer steps; and a machine on which every step of the
// install can succeed.
#pragma once

#include "com.h"
#include "files.h"
#include "registry.h"
#include "spooler.h"

#include <string>

// `installDir` ends in a backslash, as InstallDir does; an installer that places it outside
// Program Files locks it down for administrators. Both the 32-bit and the 64-bit files are
// seeded; each file holds its own name, so a copy shows where it came from.
inline void SeedProductFiles(const std::string& installDir,
                             DWORD attributes = FILE_ATTRIBUTE_ARCHIVE) {
  if (installDir.rfind("C:\\Program Files\\", 0) != 0)
    sim::files::RestrictToAdministrators(installDir);
  for (const char* name :
       {"qelvpr_drv.dll", "qelvpr_ui.dll", "qelvpr_pnt.txt", "QXN_ProxyProcess.exe",
        "qelvpr_drv64.dll", "qelvpr_ui64.dll", "qelvpr_pnt64.txt", "QXN_ProxyProcess64.exe"})
    sim::files::AddFile(installDir + "plugins\\creator\\" + name, name, attributes);
}

// A program or library as the loader reads its start: "MZ", the PE header's offset (0x40) at
// 0x3C, then "PE\0\0" and the machine type; `rest` follows, so that a copy shows its source.
inline std::string LibraryImage(const std::string& rest = "",
                                WORD machine = IMAGE_FILE_MACHINE_I386) {
  std::string image(0x40, '\0');
  image[0] = 'M';
  image[1] = 'Z';
  image[0x3C] = 0x40;
  image += std::string("PE\0\0", 4);
  image += static_cast<char>(machine & 0xFF);
  image += static_cast<char>(machine >> 8);
  return image + rest;
}

// What the library step needs on every Windows: psapi.dll in System32, the "wbem" folder, and
// framedyn.dll in both driver directories for the step that provides it.
inline void SeedSystemLibrarySources() {
  sim::files::AddFile("C:\\Windows\\System32\\psapi.dll");
  sim::files::AddDirectory("C:\\Windows\\System32\\wbem");
  for (const char* environment : {"Windows NT x86", "Windows x64"})
    sim::files::AddFile(sim::spooler::DriverDirectory(environment) + "\\framedyn.dll",
                        LibraryImage());
}

// Everything an install needs to run all its steps: "InstallPath" (in the view the agent reads on
// either Windows), the product files, the add-in, psapi.dll in System32, the "wbem" folder, and
// framedyn.dll in both driver directories for the step that provides it.
inline void SeedCompleteInstall(
    const std::string& installDir, sim::com::EntryPoint addinEntry = [] { return S_OK; }) {
  sim::reg::SetString(HKEY_LOCAL_MACHINE, "Software\\Tessix Software\\Tessix Tembrin",
                      "InstallPath", installDir, sim::reg::View::Native);
  SeedProductFiles(installDir);
  sim::files::AddFile(installDir + "qlc_wordaddin.dll");
  sim::com::AddServer(installDir + "qlc_wordaddin.dll", addinEntry, addinEntry);
  SeedSystemLibrarySources();
}
