// The agent's process-wide state as a fresh process has it, for tests and fuzz targets that
// run the agent again and again in one process.
#pragma once

#include "common/library_loading.h"
#include "entry/state.h"

#include <cstring>

inline void ResetAgentState() {
  LibrarySearchRestricted = 0;
  HasAdminRights = 1;
  Is64BitWindows = 0;
  memset(InstallDir, 0, sizeof InstallDir);
  memset(DriverEnvironment, 0, sizeof DriverEnvironment);
  memset(DriverDir, 0, sizeof DriverDir);
}
