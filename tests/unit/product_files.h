// The application's own files as its installer leaves them below the installation directory:
// what an install needs to get past the printer steps.
#pragma once

#include "files.h"

#include <string>

// `installDir` ends in a backslash, as InstallDir does. Both the 32-bit and the 64-bit files are
// seeded; each file holds its own name, so a copy shows where it came from.
inline void SeedProductFiles(const std::string& installDir) {
  for (const char* name :
       {"qelvpr_drv.dll", "qelvpr_ui.dll", "qelvpr_pnt.txt", "QXN_ProxyProcess.exe",
        "qelvpr_drv64.dll", "qelvpr_ui64.dll", "qelvpr_pnt64.txt", "QXN_ProxyProcess64.exe"})
    sim::files::AddFile(installDir + "plugins\\creator\\" + name, name);
}
