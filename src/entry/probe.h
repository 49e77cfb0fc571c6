#pragma once

// Sets *hasAdminRights and *is64BitWindows from the Windows version, an administrator probe and
// the WOW64 probe. Before NT 5 neither flag is touched. 1 when every probe ran.
int ProbeEnvironment(int* hasAdminRights, int* is64BitWindows);

// Sets *driverForMachine to 0 when Windows runs on a machine for which the application ships no
// driver (Windows on ARM), which only IsWow64Process2 tells; left alone where that is missing or
// fails.
void ProbeNativeMachine(int* driverForMachine);

// Whether Windows protected print mode is on, in which the spooler refuses every third-party
// driver (Windows 11 24H2 and Server 2025).
bool ProtectedPrintModeIsOn();
