// The spooler as a service.
#pragma once

// Whether the Service Control Manager reports the "Spooler" service as starting. false where it
// cannot say, and where the 95/98/Me family has no Service Control Manager.
bool SpoolerIsStarting();
