// Counts the platform calls each sequence makes on a machine where everything succeeds, by
// function, for scripts/bench. Not a test: it prints a table and always exits 0 unless a run
// leaves something behind.
#include "../unit/product_files.h"
#include "com.h"
#include "../unit/agent_state.h"
#include "files.h"
#include "registry.h"
#include "sim.h"

#include <cstdio>
#include <map>
#include <string>

namespace {

constexpr char kInstallDir[] = "C:\\Program Files\\Tembrin\\";

void Seed() {
  sim::Reset();
  SeedCompleteInstall(kInstallDir);
}

int Run(const char* command) {
  sim::ClearCalls();
  ResetAgentState();
  sim::settings().commandLine = std::string("printer-setup.exe ") + command;
  WinMain(nullptr, nullptr, nullptr, 0);
  std::map<std::string, int> byFunction;
  for (const sim::Call& call : sim::Calls())
    ++byFunction[call.function];
  std::printf("%-12s %5zu platform calls:", command, sim::Calls().size());
  for (const auto& [function, count] : byFunction)
    std::printf(" %s %d", function.c_str(), count);
  std::printf("\n");
  if (!sim::Leaks().empty()) {
    std::printf("left behind: %s\n", sim::Leaks().c_str());
    return 1;
  }
  return 0;
}

}  // namespace

int main() {
  Seed();
  const int install = Run("/Install");
  const int uninstall = Run("/Uninstall");
  return install | uninstall;
}
