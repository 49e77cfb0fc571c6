// Seeding and inspecting the simulated print spooler.
#pragma once

#include "sim.h"

#include <string>

namespace sim::spooler {

// The printer-driver directory the spooler reports for an environment ("Windows NT x86",
// "Windows x64"); "" makes the environment unknown.
void SetDriverDirectory(const std::string& environment, const std::string& directory);
std::string DriverDirectory(const std::string& environment);

}  // namespace sim::spooler
