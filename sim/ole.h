// Inspecting the simulated OLE initialisation of the calling thread.
#pragma once

namespace sim::ole {

// How many successful OleInitialize calls are not yet matched by OleUninitialize.
int InitCount();

}  // namespace sim::ole
