#pragma once

// Sets *hasAdminRights and *is64BitWindows from the Windows version, an administrator probe and
// the WOW64 probe. Before NT 5 neither flag is touched. 1 when every probe ran.
int ProbeEnvironment(int* hasAdminRights, int* is64BitWindows);
