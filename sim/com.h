// COM server libraries for the simulated machine: modules whose self-registration entry points,
// DllRegisterServer and DllUnregisterServer, run test callbacks.
#pragma once

#include "sim.h"

#include <functional>
#include <string>

namespace sim::com {

// The entry point's work; its HRESULT is what the caller gets back.
using EntryPoint = std::function<HRESULT()>;

// A library that LoadLibraryA finds under its full `path` (any letter case). An empty callback
// leaves that entry point out of the library's exports. At most eight servers per test.
void AddServer(const std::string& path, EntryPoint registerServer, EntryPoint unregisterServer);

// How often each entry point of the server at `path` ran.
int RegisterCalls(const std::string& path);
int UnregisterCalls(const std::string& path);

}  // namespace sim::com
