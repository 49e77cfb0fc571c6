// The process-wide state: written during start-up only, read by the operations afterwards.
#pragma once

#include "common/path_buffer.h"

extern int HasAdminRights;     // starts at 1: only a successful probe can take it away
extern int Is64BitWindows;     // a 32-bit process under WOW64
extern int DriverForMachine;   // starts at 1; 0 on a machine the application ships no driver for
extern PathBuffer InstallDir;  // a full path ending in a backslash, or "" when there is none
extern PathBuffer DriverEnvironment;
extern PathBuffer DriverDir;  // as the spooler returns it, no trailing backslash; "" for none

inline bool HasInstallDir() {
  return InstallDir[0] != '\0';
}

inline bool HasDriverDir() {
  return DriverDir[0] != '\0';
}
