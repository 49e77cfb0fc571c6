// The agent's process-wide state as a fresh process has it, for tests and fuzz targets that
// run the agent again and again in one process.
#pragma once

#include "common/library_loading.h"
#include "entry/state.h"

#include <cstring>
#include <string>

// The product's own initial values, copied while the program starts: the state's variables are
// constant-initialised, so they hold them before any dynamic initialisation such as this one.
inline const struct AgentState {
  int restricted = LibrarySearchRestricted, admin = HasAdminRights, is64 = Is64BitWindows,
      driverForMachine = DriverForMachine;
  std::string installDir = InstallDir, environment = DriverEnvironment, driverDir = DriverDir;
} kInitialAgentState{};

inline void ResetAgentState() {
  const AgentState& initial = kInitialAgentState;
  LibrarySearchRestricted = initial.restricted;
  HasAdminRights = initial.admin;
  Is64BitWindows = initial.is64;
  DriverForMachine = initial.driverForMachine;
  for (auto [buffer, text] : {std::pair{&InstallDir, &initial.installDir},
                              {&DriverEnvironment, &initial.environment},
                              {&DriverDir, &initial.driverDir}}) {
    memset(*buffer, 0, sizeof *buffer);
    memcpy(*buffer, text->c_str(), text->size());
  }
}
