// Simulated kernel32 modules: a table of loadable modules and their exports.
#pragma once

#include "sim.h"

#include <string>

namespace sim::kernel {

// A module that LoadLibraryA finds under `name` (a bare name such as "winspool.drv", or a full
// path); matching is case-insensitive, and a bare name also matches a path's last component.
void AddModule(const std::string& name);
void RemoveModule(const std::string& name);
void SetExport(const std::string& module, const std::string& function, FARPROC address);
void RemoveExport(const std::string& module, const std::string& function);
bool IsLoaded(const std::string& module);

// Whether the calling thread's file-system redirection is switched off right now.
bool RedirectionDisabled();

}  // namespace sim::kernel
