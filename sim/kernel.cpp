// Simulated kernel32: version, process, last error, command line, modules, WOW64 switches, heap.
#include "internal.h"
#include "kernel.h"

#include <winspool.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <set>

// Exports that other subsystems implement.
extern "C" BOOL WINAPI SimSetDefaultPrinterA(LPCSTR pszPrinter);

namespace {

BOOL WINAPI SimIsWow64Process(HANDLE process, PBOOL wow64);
BOOL WINAPI SimWow64DisableWow64FsRedirection(PVOID* oldValue);
BOOL WINAPI SimWow64RevertWow64FsRedirection(PVOID oldValue);

struct Module {
  std::string name;
  std::map<std::string, FARPROC> exports;
  int references = 0;
};

struct Kernel {
  DWORD lastError = 0;
  std::string commandLine;
  std::vector<std::unique_ptr<Module>> modules;
  bool redirectionDisabled = false;
  std::set<void*> heapBlocks;
};

Kernel& kernelState() {
  static Kernel instance;
  return instance;
}

const HANDLE kCurrentProcess = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1));
const HANDLE kProcessHeap = reinterpret_cast<HANDLE>(static_cast<intptr_t>(0x5000));

std::string LastComponent(const std::string& path) {
  const size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

Module* FindModule(const std::string& name) {
  for (auto& module : kernelState().modules)
    if (sim::detail::SameText(module->name, name))
      return module.get();
  // A bare module name (no directory) also finds the module by a path's last component.
  for (auto& module : kernelState().modules)
    if (module->name.find('\\') == std::string::npos &&
        sim::detail::SameText(module->name, LastComponent(name)))
      return module.get();
  return nullptr;
}

Module* ModuleOf(HMODULE handle) {
  for (auto& module : kernelState().modules)
    if (reinterpret_cast<HMODULE>(module.get()) == handle)
      return module.get();
  return nullptr;
}

}  // namespace

namespace sim::detail {

void ResetKernel() {
  for (void* block : kernelState().heapBlocks)
    std::free(block);
  kernelState() = Kernel{};
  sim::kernel::AddModule("kernel32.dll");
  sim::kernel::SetExport("kernel32.dll", "IsWow64Process", AsFarProc(&SimIsWow64Process));
  sim::kernel::SetExport("kernel32.dll", "Wow64DisableWow64FsRedirection",
                         AsFarProc(&SimWow64DisableWow64FsRedirection));
  sim::kernel::SetExport("kernel32.dll", "Wow64RevertWow64FsRedirection",
                         AsFarProc(&SimWow64RevertWow64FsRedirection));
  sim::kernel::AddModule("winspool.drv");
  sim::kernel::SetExport("winspool.drv", "XcvDataW", AsFarProc(&XcvDataW));
  sim::kernel::SetExport("winspool.drv", "SetDefaultPrinterA", AsFarProc(&SimSetDefaultPrinterA));
}

}  // namespace sim::detail

namespace sim::kernel {

void AddModule(const std::string& name) {
  if (FindModule(name) && sim::detail::SameText(FindModule(name)->name, name))
    return;
  auto module = std::make_unique<Module>();
  module->name = name;
  kernelState().modules.push_back(std::move(module));
}

void RemoveModule(const std::string& name) {
  auto& modules = kernelState().modules;
  for (auto it = modules.begin(); it != modules.end(); ++it)
    if (sim::detail::SameText((*it)->name, name)) {
      modules.erase(it);
      return;
    }
}

void SetExport(const std::string& module, const std::string& function, FARPROC address) {
  AddModule(module);
  FindModule(module)->exports[function] = address;
}

void RemoveExport(const std::string& module, const std::string& function) {
  if (Module* found = FindModule(module))
    found->exports.erase(function);
}

bool IsLoaded(const std::string& module) {
  const Module* found = FindModule(module);
  return found && found->references > 0;
}

bool RedirectionDisabled() {
  return kernelState().redirectionDisabled;
}

}  // namespace sim::kernel

using namespace sim::detail;

namespace {

BOOL WINAPI SimIsWow64Process(HANDLE process, PBOOL wow64) {
  if (Enter("IsWow64Process", {Hex(reinterpret_cast<uintptr_t>(process))}).fired)
    return FALSE;
  if (process != kCurrentProcess || !wow64) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  *wow64 = sim::settings().wow64 ? TRUE : FALSE;
  return TRUE;
}

BOOL WINAPI SimWow64DisableWow64FsRedirection(PVOID* oldValue) {
  if (Enter("Wow64DisableWow64FsRedirection", {}).fired)
    return FALSE;
  // 32-bit Windows exports the switch but refuses it.
  if (!sim::settings().wow64) {
    SetLastError(ERROR_INVALID_FUNCTION);
    return FALSE;
  }
  if (kernelState().redirectionDisabled) {
    *oldValue = reinterpret_cast<PVOID>(1);
    return TRUE;
  }
  kernelState().redirectionDisabled = true;
  Acquire("file-system redirection switched off");
  *oldValue = nullptr;
  return TRUE;
}

BOOL WINAPI SimWow64RevertWow64FsRedirection(PVOID oldValue) {
  if (Enter("Wow64RevertWow64FsRedirection", {Hex(reinterpret_cast<uintptr_t>(oldValue))}).fired)
    return FALSE;
  if (!kernelState().redirectionDisabled) {
    Misuse("Wow64RevertWow64FsRedirection without a disabled redirection");
    return FALSE;
  }
  if (oldValue == nullptr) {  // back to the state before the first switch: on
    kernelState().redirectionDisabled = false;
    Release("file-system redirection switched off");
  }
  return TRUE;
}

}  // namespace

extern "C" {

BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA info) {
  if (Enter("GetVersionExA", {Num(info ? info->dwOSVersionInfoSize : 0)}).fired)
    return FALSE;
  if (!info) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const sim::Settings& s = sim::settings();
  const DWORD size = info->dwOSVersionInfoSize;
  const bool extended = size == sizeof(OSVERSIONINFOEXA);
  if (!(size == sizeof(OSVERSIONINFOA) || (extended && s.acceptsExtendedVersion))) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  info->dwMajorVersion = s.majorVersion;
  info->dwMinorVersion = s.minorVersion;
  info->dwBuildNumber = s.buildNumber;
  info->dwPlatformId = s.win9xFamily ? 1 : 2;
  return TRUE;
}

DWORD WINAPI GetVersion(void) {
  const Hit hit = Enter("GetVersion", {});
  if (hit.fired)
    return static_cast<DWORD>(hit.result);
  const sim::Settings& s = sim::settings();
  DWORD version = (s.minorVersion << 8) | s.majorVersion;
  if (s.win9xFamily)
    version |= 0x80000000u;
  else
    version |= (s.buildNumber & 0x7fffu) << 16;
  return version;
}

HANDLE WINAPI GetCurrentProcess(void) {
  const Hit hit = Enter("GetCurrentProcess", {});
  if (hit.fired)
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(hit.result));
  return kCurrentProcess;
}

DWORD WINAPI GetLastError(void) {
  return kernelState().lastError;
}
void WINAPI SetLastError(DWORD error) {
  kernelState().lastError = error;
}

LPSTR WINAPI GetCommandLineA(void) {
  Enter("GetCommandLineA", {});
  kernelState().commandLine = sim::settings().commandLine;
  return kernelState().commandLine.data();
}

HMODULE WINAPI LoadLibraryA(LPCSTR name) {
  if (Enter("LoadLibraryA", {Str(name)}).fired)
    return nullptr;
  Module* module = name ? FindModule(name) : nullptr;
  if (!module) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  ++module->references;
  Acquire("loaded library");
  return reinterpret_cast<HMODULE>(module);
}

FARPROC WINAPI GetProcAddress(HMODULE handle, LPCSTR name) {
  Module* module = ModuleOf(handle);
  if (Enter("GetProcAddress", {module ? module->name : "?", Str(name)}).fired)
    return nullptr;
  if (!module || module->references == 0) {
    Misuse("GetProcAddress on a module that is not loaded");
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  const auto found = module->exports.find(name);
  if (found == module->exports.end()) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return found->second;
}

BOOL WINAPI FreeLibrary(HMODULE handle) {
  Module* module = ModuleOf(handle);
  if (Enter("FreeLibrary", {module ? module->name : "?"}).fired)
    return FALSE;
  if (!module || module->references == 0) {
    Misuse("FreeLibrary on a module that is not loaded");
    return FALSE;
  }
  --module->references;
  Release("loaded library");
  return TRUE;
}

HANDLE WINAPI GetProcessHeap(void) {
  return kProcessHeap;
}

LPVOID WINAPI HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes) {
  if (Enter("HeapAlloc", {Hex(flags), Num(static_cast<int64_t>(bytes))}).fired)
    return nullptr;
  if (heap != kProcessHeap)
    Misuse("HeapAlloc on an unknown heap");
  void* block = std::malloc(bytes ? bytes : 1);
  if (!block)
    return nullptr;
  // Fresh memory is never zero by accident here: a read of undefined data shows.
  std::memset(block, (flags & HEAP_ZERO_MEMORY) ? 0 : 0xCD, bytes ? bytes : 1);
  kernelState().heapBlocks.insert(block);
  Acquire("heap block");
  return block;
}

BOOL WINAPI HeapFree(HANDLE heap, DWORD, LPVOID block) {
  Enter("HeapFree", {});
  if (heap != kProcessHeap)
    Misuse("HeapFree on an unknown heap");
  if (!block)
    return TRUE;
  if (!kernelState().heapBlocks.erase(block)) {
    Misuse("HeapFree of a block that is not allocated");
    return FALSE;
  }
  std::free(block);
  Release("heap block");
  return TRUE;
}

}  // extern "C"
