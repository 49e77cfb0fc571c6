// The agent's process-wide state as a fresh process has it, for tests and fuzz targets that
// run the agent again and again in one process. The initial values are the product's own,
// copied while the program starts and before anything runs the agent, not restated here.
#pragma once

#include "common/library_loading.h"
#include "entry/state.h"

#include <cstring>

struct AgentState {
  int librarySearchRestricted;
  int hasAdminRights;
  int is64BitWindows;
  PathBuffer installDir;
  PathBuffer driverEnvironment;
  PathBuffer driverDir;
};

inline AgentState CurrentAgentState() {
  AgentState state{LibrarySearchRestricted, HasAdminRights, Is64BitWindows, {}, {}, {}};
  memcpy(state.installDir, InstallDir, sizeof InstallDir);
  memcpy(state.driverEnvironment, DriverEnvironment, sizeof DriverEnvironment);
  memcpy(state.driverDir, DriverDir, sizeof DriverDir);
  return state;
}

// The state's variables are constant-initialised, so they hold their initial values before any
// dynamic initialisation such as this one.
inline const AgentState kInitialAgentState = CurrentAgentState();

inline void ResetAgentState() {
  LibrarySearchRestricted = kInitialAgentState.librarySearchRestricted;
  HasAdminRights = kInitialAgentState.hasAdminRights;
  Is64BitWindows = kInitialAgentState.is64BitWindows;
  memcpy(InstallDir, kInitialAgentState.installDir, sizeof InstallDir);
  memcpy(DriverEnvironment, kInitialAgentState.driverEnvironment, sizeof DriverEnvironment);
  memcpy(DriverDir, kInitialAgentState.driverDir, sizeof DriverDir);
}
