// The spooler as a service.
#pragma once

#include <windows.h>

// The "Spooler" service's state as the Service Control Manager reports it (SERVICE_RUNNING,
// SERVICE_START_PENDING, ...); 0 where it cannot say, and where the 95/98/Me family has no
// Service Control Manager.
DWORD SpoolerServiceState();
