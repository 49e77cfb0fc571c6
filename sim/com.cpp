// Simulated COM server libraries. GetProcAddress hands out plain function pointers, which carry
// no module, so each server takes one slot of a fixed table of trampolines: the slot's entry
// points dispatch to the callbacks of that server only.
#include "com.h"
#include "internal.h"
#include "kernel.h"

#include <array>
#include <cstdlib>
#include <cstdio>
#include <utility>

namespace {

struct Server {
  std::string path;
  sim::com::EntryPoint registerServer;
  sim::com::EntryPoint unregisterServer;
  int registerCalls = 0;
  int unregisterCalls = 0;
};

using sim::detail::AsFarProc;

constexpr size_t kSlots = 8;

std::vector<Server>& servers() {
  static std::vector<Server> instance;
  return instance;
}

// Runs one entry point as the library at `path` exports it: logged, fault-injectable, and a
// misuse when the library is no longer loaded (a call through a pointer kept after FreeLibrary).
HRESULT Run(const char* function, Server& server, const sim::com::EntryPoint& callback,
            int& calls) {
  using namespace sim::detail;
  const Hit hit = Enter(function, {server.path});
  if (hit.fired)
    return static_cast<HRESULT>(hit.result);
  if (!sim::kernel::IsLoaded(server.path))
    Misuse(std::string(function) + " of " + server.path + " called while it is not loaded");
  ++calls;
  return callback();
}

template <size_t Slot>
HRESULT WINAPI RegisterTrampoline() {
  Server& server = servers().at(Slot);
  return Run("DllRegisterServer", server, server.registerServer, server.registerCalls);
}

template <size_t Slot>
HRESULT WINAPI UnregisterTrampoline() {
  Server& server = servers().at(Slot);
  return Run("DllUnregisterServer", server, server.unregisterServer, server.unregisterCalls);
}

using Trampoline = HRESULT(WINAPI*)();

template <size_t... Slots>
constexpr std::array<std::pair<Trampoline, Trampoline>, sizeof...(Slots)> MakeTrampolines(
    std::index_sequence<Slots...>) {
  return {{{&RegisterTrampoline<Slots>, &UnregisterTrampoline<Slots>}...}};
}

constexpr auto kTrampolines = MakeTrampolines(std::make_index_sequence<kSlots>());

Server* FindServer(const std::string& path) {
  for (Server& server : servers())
    if (sim::detail::SameText(server.path, path))
      return &server;
  return nullptr;
}

}  // namespace

namespace sim::detail {
void ResetCom() {
  servers().clear();
}
}  // namespace sim::detail

namespace sim::com {

void AddServer(const std::string& path, EntryPoint registerServer, EntryPoint unregisterServer) {
  if (servers().size() == kSlots || FindServer(path)) {
    std::fprintf(stderr, "sim::com::AddServer: no slot left, or %s added twice\n", path.c_str());
    std::abort();
  }
  const size_t slot = servers().size();
  servers().push_back(Server{path, std::move(registerServer), std::move(unregisterServer), 0, 0});
  const Server& server = servers().back();
  sim::kernel::AddModule(path);
  if (server.registerServer)
    sim::kernel::SetExport(path, "DllRegisterServer", AsFarProc(kTrampolines[slot].first));
  if (server.unregisterServer)
    sim::kernel::SetExport(path, "DllUnregisterServer", AsFarProc(kTrampolines[slot].second));
}

int RegisterCalls(const std::string& path) {
  const Server* server = FindServer(path);
  return server ? server->registerCalls : 0;
}

int UnregisterCalls(const std::string& path) {
  const Server* server = FindServer(path);
  return server ? server->unregisterCalls : 0;
}

}  // namespace sim::com
