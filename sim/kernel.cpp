// Simulated kernel32: version, process, last error, command line, modules, WOW64 switches, heap.
#include "internal.h"
#include "kernel.h"

#include <winspool.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <set>

// Exports that other subsystems implement.
extern "C" BOOL WINAPI SimSetDefaultPrinterA(LPCSTR pszPrinter);
extern "C" SC_HANDLE WINAPI SimOpenSCManagerA(LPCSTR machine, LPCSTR database, DWORD access);
extern "C" SC_HANDLE WINAPI SimOpenServiceA(SC_HANDLE manager, LPCSTR name, DWORD access);
extern "C" BOOL WINAPI SimQueryServiceStatus(SC_HANDLE service, LPSERVICE_STATUS status);
extern "C" BOOL WINAPI SimCloseServiceHandle(SC_HANDLE handle);

namespace {

BOOL WINAPI SimIsWow64Process(HANDLE process, PBOOL wow64);
BOOL WINAPI SimIsWow64Process2(HANDLE process, USHORT* processMachine, USHORT* nativeMachine);
BOOL WINAPI SimWow64DisableWow64FsRedirection(PVOID* oldValue);
BOOL WINAPI SimWow64RevertWow64FsRedirection(PVOID oldValue);

struct Module {
  std::string path;  // full path
  std::map<std::string, FARPROC> exports;
  std::vector<std::string> imports;  // bare names, resolved when the module is mapped
  std::vector<Module*> bound;        // what its imports resolved to while it is mapped
  int references = 0;
  bool resident = false;  // mapped from the process's start: kernel32 and the exe's imports
};

constexpr DWORD kMutexAllAccess = 0x1F0001;  // MUTEX_ALL_ACCESS, what CreateMutexA asks for

// A named object: a mutex, or another program's event, which takes the name from every mutex.
struct Mutex {
  enum class Owner { None, Agent, Other } owner = Owner::None;
  DWORD releasedAt = INFINITE;  // when another program holds it: the time it lets go
  int count = 0;                // the agent's waits not yet released
  bool abandoned = false;
  DWORD granted = kMutexAllAccess;  // what the mutex's security lets the agent open it for
  bool event = false;
};

// A private namespace, by its boundary: it exists while a handle to it is open.
struct Namespace {
  int handles = 0;           // the agent's
  bool heldByOther = false;  // another program has it open
  bool opens = true;         // its security lets the agent open it
};

struct Boundary {
  std::string name;
  std::vector<std::string> sids;
};

struct NamespaceHandle {
  std::string boundary;  // the namespace's key
  std::string alias;
};

struct Kernel {
  DWORD lastError = 0;
  std::map<std::string, Mutex> mutexes;           // by kernel path, which is case-sensitive
  std::map<uintptr_t, std::string> mutexHandles;  // the agent's handles, to kernel paths
  uintptr_t nextMutexHandle = 0xA000;
  std::map<std::string, Namespace> namespaces;  // by boundary key
  std::map<uintptr_t, Boundary> boundaries;     // the agent's descriptors
  std::map<uintptr_t, NamespaceHandle> namespaceHandles;
  uintptr_t nextNamespaceHandle = 0xC000;
  std::string commandLine;
  std::vector<std::unique_ptr<Module>> modules;
  std::vector<std::string> mappedPaths;
  DWORD defaultDirectories = 0;             // 0: the classic search order
  std::optional<std::string> dllDirectory;  // as SetDllDirectoryA left it; none at start
  bool redirectionDisabled = false;
  std::vector<uintptr_t> redirectionCookies;  // handed out by the disables, innermost last
  uintptr_t nextCookie = 0x7e570000;
  std::set<void*> heapBlocks;
  DWORD clock = 0;  // milliseconds slept: the only time that passes in the simulated machine
};

Kernel& kernelState() {
  static Kernel instance;
  return instance;
}

const HANDLE kCurrentProcess = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1));
const HANDLE kProcessHeap = reinterpret_cast<HANDLE>(static_cast<intptr_t>(0x5000));
const HMODULE kExeModule = reinterpret_cast<HMODULE>(static_cast<intptr_t>(0x400000));

constexpr DWORD kSearchFlags = LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR |
                               LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_USER_DIRS |
                               LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS;

std::string SystemDirectory() {
  return sim::settings().windowsDirectory + "\\System32";
}

bool IsBareName(const std::string& name) {
  return name.find_first_of("\\/") == std::string::npos;
}

std::string BaseName(const std::string& path) {
  const size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string FolderOf(const std::string& path) {
  return path.substr(0, path.find_last_of("\\/"));
}

// "C:\x", "\\server\x" and "\x" (on the current drive) are absolute; anything else lies
// below the current directory.
bool IsAbsolute(const std::string& path) {
  return (path.size() >= 3 && path[1] == ':' && (path[2] == '\\' || path[2] == '/')) ||
         (!path.empty() && (path[0] == '\\' || path[0] == '/'));
}

std::string FullPath(const std::string& path) {
  if (path.size() >= 2 && path[1] == ':')
    return path;
  if (path.size() >= 2 && path[0] == '\\' && path[1] == '\\')
    return path;
  if (!path.empty() && path[0] == '\\')
    return std::string(1, sim::settings().currentDrive) + ":" + path;
  std::string folder = sim::settings().currentDirectory;
  if (!folder.empty() && folder.back() != '\\')
    folder += '\\';
  return folder + path;
}

// The test API names system libraries by their bare names.
std::string ImagePath(const std::string& name) {
  return IsBareName(name) ? SystemDirectory() + "\\" + name : FullPath(name);
}

Module* ModuleAt(const std::string& path) {
  for (auto& module : kernelState().modules)
    if (sim::detail::SameText(module->path, path))
      return module.get();
  return nullptr;
}

Module* FindModule(const std::string& name) {
  return ModuleAt(ImagePath(name));
}

bool Mapped(const Module& module) {
  return module.resident || module.references > 0;
}

// Libraries of the system directory appear in the call log by their bare names, others by path.
std::string DisplayName(const Module* module) {
  if (!module)
    return "?";
  return sim::detail::SameText(FolderOf(module->path), SystemDirectory()) ? BaseName(module->path)
                                                                          : module->path;
}

Module* ModuleOf(HMODULE handle) {
  for (auto& module : kernelState().modules)
    if (reinterpret_cast<HMODULE>(module.get()) == handle)
      return module.get();
  return nullptr;
}

// The folders a bare name is looked for in. `flags` are LOAD_LIBRARY_SEARCH_* flags (0: the
// process's default search); `loadFolder` is the folder of the library being loaded, for
// LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR and the altered search.
std::vector<std::string> SearchPath(DWORD flags, const std::string& loadFolder, bool altered) {
  const sim::Settings& s = sim::settings();
  const Kernel& k = kernelState();
  const std::string userFolder = k.dllDirectory.value_or("");
  if (!flags)
    flags = k.defaultDirectories;
  std::vector<std::string> folders;
  if (flags) {
    if (flags & LOAD_LIBRARY_SEARCH_DEFAULT_DIRS)
      flags |= LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_USER_DIRS |
               LOAD_LIBRARY_SEARCH_SYSTEM32;
    if ((flags & LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR) && !loadFolder.empty())
      folders.push_back(loadFolder);
    if (flags & LOAD_LIBRARY_SEARCH_APPLICATION_DIR)
      folders.push_back(s.programFolder);
    if ((flags & LOAD_LIBRARY_SEARCH_USER_DIRS) && !userFolder.empty())
      folders.push_back(userFolder);
    if (flags & LOAD_LIBRARY_SEARCH_SYSTEM32)
      folders.push_back(SystemDirectory());
    return folders;
  }
  // The classic order, with SafeDllSearchMode as Windows has it on by default. A DLL directory,
  // even "", takes the current directory out.
  folders.push_back(altered ? loadFolder : s.programFolder);
  if (!userFolder.empty())
    folders.push_back(userFolder);
  folders.push_back(SystemDirectory());
  folders.push_back(s.windowsDirectory);
  if (!k.dllDirectory)
    folders.push_back(s.currentDirectory);
  return folders;
}

// A bare name is first the module of that name already mapped (kernel32 is never looked for),
// then the first folder that holds it.
Module* Resolve(const std::string& name, const std::vector<std::string>& folders) {
  if (!IsBareName(name))
    return ModuleAt(FullPath(name));
  for (auto& module : kernelState().modules)
    if (Mapped(*module) && sim::detail::SameText(BaseName(module->path), name))
      return module.get();
  for (const std::string& folder : folders) {
    std::string path = folder;
    if (!path.empty() && path.back() != '\\')
      path += '\\';
    if (Module* found = ModuleAt(path + name))
      return found;
  }
  return nullptr;
}

void Unmap(Module* module);

// Maps a module and, the first time, everything it imports, through the same search; false
// (and nothing mapped) when an import cannot be found.
bool Map(Module* module, const std::vector<std::string>& folders, int depth = 0) {
  if (Mapped(*module)) {
    ++module->references;
    return true;
  }
  std::vector<Module*> bound;
  for (const std::string& import : module->imports) {
    Module* found = depth < 16 ? Resolve(import, folders) : nullptr;
    if (!found || !Map(found, folders, depth + 1)) {
      for (Module* done : bound)
        Unmap(done);
      return false;
    }
    bound.push_back(found);
  }
  module->bound = bound;
  module->references = 1;
  kernelState().mappedPaths.push_back(module->path);
  return true;
}

void Unmap(Module* module) {
  if (module->references == 0)
    return;
  if (--module->references > 0 || module->resident)
    return;
  for (Module* import : module->bound)
    Unmap(import);
  module->bound.clear();
}

HMODULE LoadFrom(const std::string& name, const std::vector<std::string>& folders) {
  // Loading depends on the redirection: with it switched off Windows loads nothing, and the
  // agent must never try.
  if (kernelState().redirectionDisabled) {
    sim::detail::Misuse("a library loaded while the file-system redirection is switched off");
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  Module* module = Resolve(name, folders);
  if (!module || !Map(module, folders)) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  sim::detail::Acquire("loaded library");
  return reinterpret_cast<HMODULE>(module);
}

// The ledger holds a widened search until it is narrowed again: a folder left in the search
// serves every later load.
void TrackWidening(bool before, bool after, const char* kind) {
  if (!before && after)
    sim::detail::Acquire(kind);
  if (before && !after)
    sim::detail::Release(kind);
}

constexpr char kUserFolderInDefaults[] = "user folders in the default library search";
constexpr char kDllDirectorySet[] = "DLL directory set";

BOOL WINAPI SimSetDefaultDllDirectories(DWORD flags);
BOOL WINAPI SimSetDllDirectoryA(LPCSTR folder);
HANDLE WINAPI SimCreateBoundaryDescriptorA(LPCSTR name, ULONG flags);
BOOL WINAPI SimAddSIDToBoundaryDescriptor(HANDLE* boundary, PSID sid);
VOID WINAPI SimDeleteBoundaryDescriptor(HANDLE boundary);
HANDLE WINAPI SimCreatePrivateNamespaceA(LPSECURITY_ATTRIBUTES security, LPVOID boundary,
                                         LPCSTR alias);
HANDLE WINAPI SimOpenPrivateNamespaceA(LPVOID boundary, LPCSTR alias);
BOOLEAN WINAPI SimClosePrivateNamespace(HANDLE handle, ULONG flags);

constexpr char kGlobalObjects[] = "\\BaseNamedObjects\\";

// "\Namespace\<boundary key>\": where the objects of a private namespace live.
std::string NamespacePath(const std::string& boundary) {
  return "\\Namespace\\" + boundary + "\\";
}

// The kernel path of an object name as a program in the agent's session passes it; none for a
// prefix that names no namespace (ERROR_PATH_NOT_FOUND). NT 4 and the 95/98/Me family have one
// namespace and no prefixes.
std::optional<std::string> KernelPath(const std::string& name) {
  const sim::Settings& s = sim::settings();
  const std::string session =
      s.session ? "\\Sessions\\" + std::to_string(s.session) + kGlobalObjects : kGlobalObjects;
  const bool sessions = !s.win9xFamily && s.majorVersion >= 5;
  const size_t slash = name.find('\\');
  if (slash == std::string::npos)
    return (sessions ? session : kGlobalObjects) + name;
  if (!sessions)
    return std::nullopt;
  const std::string prefix = name.substr(0, slash), rest = name.substr(slash + 1);
  if (prefix == "Global")
    return kGlobalObjects + rest;
  if (prefix == "Local")
    return session + rest;
  for (const auto& [id, open] : kernelState().namespaceHandles)
    if (open.alias == prefix)
      return NamespacePath(open.boundary) + rest;
  return std::nullopt;
}

// The tests name objects by kernel path, or as the agent's session would.
std::string TestPath(const std::string& name) {
  return name.compare(0, 1, "\\") == 0 ? name : KernelPath(name).value_or(name);
}

// Another program that holds an object of a private namespace holds the namespace too.
Mutex& OthersObject(const std::string& name) {
  const std::string path = TestPath(name);
  const std::string prefix = "\\Namespace\\";
  if (path.compare(0, prefix.size(), prefix) == 0) {
    const std::string key =
        path.substr(prefix.size(), path.find('\\', prefix.size()) - prefix.size());
    kernelState().namespaces[key].heldByOther = true;
  }
  return kernelState().mutexes[path];
}

// A namespace whose last handle closed goes, and with it everything in it.
void DropNamespaceIfUnused(const std::string& key) {
  Kernel& kernel = kernelState();
  const auto found = kernel.namespaces.find(key);
  if (found == kernel.namespaces.end() || found->second.handles || found->second.heldByOther)
    return;
  kernel.namespaces.erase(found);
  const std::string prefix = NamespacePath(key);
  for (auto it = kernel.mutexes.begin(); it != kernel.mutexes.end();)
    it = it->first.compare(0, prefix.size(), prefix) == 0 ? kernel.mutexes.erase(it) : ++it;
}

}  // namespace

namespace sim::detail {

bool ExistsOnThisVersion(const std::string& function) {
  const sim::Settings& s = sim::settings();
  const DWORD version = s.majorVersion * 100 + s.minorVersion;  // 501 for XP
  if (function == "XcvDataW" || function == "SetDefaultPrinterA")
    return version >= 500;
  if (function == "SetDllDirectoryA")
    return version > 501 || (version == 501 && s.servicePack >= 1);
  if (function == "SetDefaultDllDirectories")
    return version >= 602 || (version >= 600 && s.loaderUpdate);
  if (function == "OpenSCManagerA" || function == "OpenServiceA" ||
      function == "QueryServiceStatus" || function == "CloseServiceHandle")
    return !s.win9xFamily;
  if (function == "IsWow64Process2")
    return version >= 1000 && s.buildNumber >= 16299;
  if (function == "CreateBoundaryDescriptorA" || function == "AddSIDToBoundaryDescriptor" ||
      function == "DeleteBoundaryDescriptor" || function == "CreatePrivateNamespaceA" ||
      function == "OpenPrivateNamespaceA" || function == "ClosePrivateNamespace")
    return version >= 600;
  if (function == "GetNamedSecurityInfoA" || function == "OpenProcessToken" ||
      function == "GetTokenInformation")
    return !s.win9xFamily;
  return true;
}

// The modules stay on disk; what the process mapped, its search settings, its thread's
// redirection and its heap go.
void EndProcessKernel() {
  Kernel& kernel = kernelState();
  for (auto& module : kernel.modules) {
    module->references = 0;
    module->bound.clear();
  }
  for (void* block : kernel.heapBlocks)
    std::free(block);
  kernel.heapBlocks.clear();
  kernel.lastError = 0;
  kernel.defaultDirectories = 0;
  kernel.dllDirectory.reset();
  kernel.redirectionDisabled = false;
  kernel.redirectionCookies.clear();
  // Windows abandons what an ended process still owns.
  for (auto& [name, mutex] : kernel.mutexes)
    if (mutex.owner == Mutex::Owner::Agent) {
      mutex.owner = Mutex::Owner::None;
      mutex.count = 0;
      mutex.abandoned = true;
    }
  kernel.mutexHandles.clear();
  std::vector<std::string> opened;
  for (const auto& [id, open] : kernel.namespaceHandles) {
    --kernel.namespaces[open.boundary].handles;
    opened.push_back(open.boundary);
  }
  kernel.namespaceHandles.clear();
  kernel.boundaries.clear();
  for (const std::string& key : opened)
    DropNamespaceIfUnused(key);
}

bool CloseMutexHandle(HANDLE handle) {
  if (!kernelState().mutexHandles.erase(reinterpret_cast<uintptr_t>(handle)))
    return false;
  Release("mutex handle");
  return true;
}

void ResetKernel() {
  for (void* block : kernelState().heapBlocks)
    std::free(block);
  kernelState() = Kernel{};
  for (const char* resident :
       {"kernel32.dll", "advapi32.dll", "shell32.dll", "ole32.dll", "msvcrt.dll"}) {
    sim::kernel::AddModule(resident);
    FindModule(resident)->resident = true;
  }
  sim::kernel::SetExport("kernel32.dll", "IsWow64Process", AsFarProc(&SimIsWow64Process));
  sim::kernel::SetExport("kernel32.dll", "IsWow64Process2", AsFarProc(&SimIsWow64Process2));
  sim::kernel::SetExport("kernel32.dll", "Wow64DisableWow64FsRedirection",
                         AsFarProc(&SimWow64DisableWow64FsRedirection));
  sim::kernel::SetExport("kernel32.dll", "Wow64RevertWow64FsRedirection",
                         AsFarProc(&SimWow64RevertWow64FsRedirection));
  sim::kernel::SetExport("kernel32.dll", "SetDefaultDllDirectories",
                         AsFarProc(&SimSetDefaultDllDirectories));
  sim::kernel::SetExport("kernel32.dll", "SetDllDirectoryA", AsFarProc(&SimSetDllDirectoryA));
  for (const auto& [name, address] :
       {std::pair{"CreateBoundaryDescriptorA", AsFarProc(&SimCreateBoundaryDescriptorA)},
        {"AddSIDToBoundaryDescriptor", AsFarProc(&SimAddSIDToBoundaryDescriptor)},
        {"DeleteBoundaryDescriptor", AsFarProc(&SimDeleteBoundaryDescriptor)},
        {"CreatePrivateNamespaceA", AsFarProc(&SimCreatePrivateNamespaceA)},
        {"OpenPrivateNamespaceA", AsFarProc(&SimOpenPrivateNamespaceA)},
        {"ClosePrivateNamespace", AsFarProc(&SimClosePrivateNamespace)}})
    sim::kernel::SetExport("kernel32.dll", name, address);
  sim::kernel::SetExport("advapi32.dll", "OpenSCManagerA", AsFarProc(&SimOpenSCManagerA));
  sim::kernel::SetExport("advapi32.dll", "OpenServiceA", AsFarProc(&SimOpenServiceA));
  sim::kernel::SetExport("advapi32.dll", "QueryServiceStatus", AsFarProc(&SimQueryServiceStatus));
  sim::kernel::SetExport("advapi32.dll", "CloseServiceHandle", AsFarProc(&SimCloseServiceHandle));
  sim::kernel::AddModule("winspool.drv");
  sim::kernel::SetExport("winspool.drv", "XcvDataW", AsFarProc(&XcvDataW));
  sim::kernel::SetExport("winspool.drv", "SetDefaultPrinterA", AsFarProc(&SimSetDefaultPrinterA));
}

}  // namespace sim::detail

namespace sim::kernel {

void AddModule(const std::string& name, const std::vector<std::string>& imports) {
  Module* module = FindModule(name);
  if (!module) {
    kernelState().modules.push_back(std::make_unique<Module>());
    module = kernelState().modules.back().get();
    module->path = ImagePath(name);
  }
  module->imports = imports;
}

void RemoveModule(const std::string& name) {
  auto& modules = kernelState().modules;
  for (auto it = modules.begin(); it != modules.end(); ++it)
    if (sim::detail::SameText((*it)->path, ImagePath(name))) {
      modules.erase(it);
      return;
    }
}

void SetExport(const std::string& module, const std::string& function, FARPROC address) {
  if (!FindModule(module))
    AddModule(module);
  FindModule(module)->exports[function] = address;
}

void RemoveExport(const std::string& module, const std::string& function) {
  if (Module* found = FindModule(module))
    found->exports.erase(function);
}

bool IsLoaded(const std::string& module) {
  const Module* found = FindModule(module);
  return found && Mapped(*found);
}

std::vector<std::string> MappedPaths() {
  return kernelState().mappedPaths;
}

DWORD DefaultDllDirectories() {
  return kernelState().defaultDirectories;
}

std::optional<std::string> DllDirectory() {
  return kernelState().dllDirectory;
}

bool RedirectionDisabled() {
  return kernelState().redirectionDisabled;
}

DWORD Clock() {
  return kernelState().clock;
}

void HoldMutex(const std::string& name, DWORD milliseconds) {
  Mutex& mutex = OthersObject(name);
  mutex.owner = Mutex::Owner::Other;
  mutex.releasedAt = milliseconds == INFINITE ? INFINITE : Clock() + milliseconds;
}

void AbandonMutex(const std::string& name) {
  Mutex& mutex = OthersObject(name);
  mutex.owner = Mutex::Owner::None;
  mutex.abandoned = true;
}

void DenyMutex(const std::string& name, DWORD allowed) {
  OthersObject(name).granted = allowed;
}

void AddEvent(const std::string& name) {
  OthersObject(name).event = true;
}

std::vector<std::string> Mutexes() {
  std::vector<std::string> names;
  for (const auto& [name, mutex] : kernelState().mutexes)
    if (!mutex.event)
      names.push_back(name);
  return names;
}

void HoldNamespace(const std::string& boundary, bool opens) {
  Namespace& held = kernelState().namespaces[boundary];
  held.heldByOther = true;
  held.opens = opens;
}

std::string BoundaryKey(const std::string& name, std::vector<std::string> sids) {
  std::sort(sids.begin(), sids.end());
  std::string key = name + "{";
  for (size_t i = 0; i < sids.size(); ++i)
    key += (i ? "," : "") + sids[i];
  return key + "}";
}

}  // namespace sim::kernel

using namespace sim::detail;

namespace {

// A BOOL is only zero or not: both answers are non-zero values other than 1, so that a caller
// that passes them on instead of testing them shows.
constexpr BOOL kTrueButNotOne = 0x10;

BOOL WINAPI SimIsWow64Process(HANDLE process, PBOOL wow64) {
  if (Enter("IsWow64Process", {Hex(reinterpret_cast<uintptr_t>(process))}).fired)
    return FALSE;
  if (process != kCurrentProcess || !wow64) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  *wow64 = sim::settings().wow64 ? kTrueButNotOne : FALSE;
  return kTrueButNotOne;
}

// The agent's process is x86: under WOW64 it says so, on 32-bit Windows it names no machine.
BOOL WINAPI SimIsWow64Process2(HANDLE process, USHORT* processMachine, USHORT* nativeMachine) {
  if (Enter("IsWow64Process2", {Hex(reinterpret_cast<uintptr_t>(process))}).fired)
    return FALSE;
  if (process != kCurrentProcess || !processMachine) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  *processMachine = sim::settings().wow64 ? IMAGE_FILE_MACHINE_I386 : IMAGE_FILE_MACHINE_UNKNOWN;
  if (nativeMachine)
    *nativeMachine = sim::NativeMachine();
  return TRUE;
}

// Every disable hands out its own non-null cookie, and only that cookie reverts it: a revert
// with NULL or with another disable's cookie is a misuse.
BOOL WINAPI SimWow64DisableWow64FsRedirection(PVOID* oldValue) {
  if (Enter("Wow64DisableWow64FsRedirection", {}).fired)
    return FALSE;
  // 32-bit Windows exports the switch but refuses it.
  if (!sim::settings().wow64) {
    SetLastError(ERROR_INVALID_FUNCTION);
    return FALSE;
  }
  Kernel& kernel = kernelState();
  if (kernel.redirectionCookies.empty()) {
    kernel.redirectionDisabled = true;
    Acquire("file-system redirection switched off");
  }
  kernel.redirectionCookies.push_back(kernel.nextCookie++);
  *oldValue = reinterpret_cast<PVOID>(kernel.redirectionCookies.back());
  return TRUE;
}

BOOL WINAPI SimWow64RevertWow64FsRedirection(PVOID oldValue) {
  if (Enter("Wow64RevertWow64FsRedirection", {Hex(reinterpret_cast<uintptr_t>(oldValue))}).fired)
    return FALSE;
  Kernel& kernel = kernelState();
  if (kernel.redirectionCookies.empty() ||
      kernel.redirectionCookies.back() != reinterpret_cast<uintptr_t>(oldValue)) {
    Misuse("Wow64RevertWow64FsRedirection without the cookie of the last disable");
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  kernel.redirectionCookies.pop_back();
  if (kernel.redirectionCookies.empty()) {
    kernel.redirectionDisabled = false;
    Release("file-system redirection switched off");
  }
  return TRUE;
}

constexpr DWORD kDefaultDirectoryFlags =
    LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_USER_DIRS |
    LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS;

BOOL WINAPI SimSetDefaultDllDirectories(DWORD flags) {
  if (Enter("SetDefaultDllDirectories", {Hex(flags)}).fired)
    return FALSE;
  if (!flags || (flags & ~kDefaultDirectoryFlags))
    return Failed(ERROR_INVALID_PARAMETER);
  auto searchesUserFolders = [](DWORD f) {
    return (f & (LOAD_LIBRARY_SEARCH_USER_DIRS | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS)) != 0;
  };
  TrackWidening(searchesUserFolders(kernelState().defaultDirectories), searchesUserFolders(flags),
                kUserFolderInDefaults);
  kernelState().defaultDirectories = flags;
  return TRUE;
}

// NULL goes back to the start's search, "" only takes the current directory out.
BOOL WINAPI SimSetDllDirectoryA(LPCSTR folder) {
  if (Enter("SetDllDirectoryA", {Str(folder)}).fired)
    return FALSE;
  auto& current = kernelState().dllDirectory;
  const bool before = current && !current->empty();
  if (folder)
    current = FromAnsi(folder);
  else
    current.reset();
  TrackWidening(before, folder && *folder, kDllDirectorySet);
  return TRUE;
}

Boundary* BoundaryOf(LPVOID handle) {
  const auto found = kernelState().boundaries.find(reinterpret_cast<uintptr_t>(handle));
  return found == kernelState().boundaries.end() ? nullptr : &found->second;
}

std::string KeyOf(const Boundary* boundary) {
  return boundary ? sim::kernel::BoundaryKey(boundary->name, boundary->sids) : "?";
}

// Only a caller whose token holds every SID of the boundary may create or open the namespace.
bool Inside(const Boundary& boundary) {
  return std::all_of(boundary.sids.begin(), boundary.sids.end(), TokenHasSid);
}

HANDLE NewNamespaceHandle(const std::string& key, LPCSTR alias) {
  Kernel& kernel = kernelState();
  const uintptr_t id = kernel.nextNamespaceHandle++;
  kernel.namespaceHandles[id] = {key, Str(alias)};
  ++kernel.namespaces[key].handles;
  Acquire("private namespace handle");
  return reinterpret_cast<HANDLE>(id);
}

HANDLE WINAPI SimCreateBoundaryDescriptorA(LPCSTR name, ULONG flags) {
  if (Enter("CreateBoundaryDescriptorA", {Str(name), Hex(flags)}).fired)
    return nullptr;
  if (!name || flags) {
    Misuse("CreateBoundaryDescriptorA is simulated for a named boundary without flags only");
    return nullptr;
  }
  const uintptr_t id = kernelState().nextNamespaceHandle++;
  kernelState().boundaries[id] = Boundary{FromAnsi(name), {}};
  Acquire("boundary descriptor");
  return reinterpret_cast<HANDLE>(id);
}

BOOL WINAPI SimAddSIDToBoundaryDescriptor(HANDLE* boundary, PSID sid) {
  Boundary* found = boundary ? BoundaryOf(*boundary) : nullptr;
  if (Enter("AddSIDToBoundaryDescriptor", {KeyOf(found), sid ? SidText(sid) : "NULL"}).fired)
    return FALSE;
  if (!found || !sid) {
    Misuse("AddSIDToBoundaryDescriptor without a boundary descriptor or a SID");
    return Failed(ERROR_INVALID_PARAMETER);
  }
  found->sids.push_back(SidText(sid));
  return TRUE;
}

VOID WINAPI SimDeleteBoundaryDescriptor(HANDLE boundary) {
  Enter("DeleteBoundaryDescriptor", {KeyOf(BoundaryOf(boundary))});
  if (!kernelState().boundaries.erase(reinterpret_cast<uintptr_t>(boundary))) {
    Misuse("DeleteBoundaryDescriptor of a descriptor that is not there");
    return;
  }
  Release("boundary descriptor");
}

// The call log shows the namespace's security descriptor as security::Text gives it.
HANDLE WINAPI SimCreatePrivateNamespaceA(LPSECURITY_ATTRIBUTES security, LPVOID boundary,
                                         LPCSTR alias) {
  const Boundary* found = BoundaryOf(boundary);
  const std::string descriptor = security ? DescriptorText(security->lpSecurityDescriptor) : "NULL";
  if (Enter("CreatePrivateNamespaceA", {descriptor, KeyOf(found), Str(alias)}).fired)
    return nullptr;
  if (!found || !alias || descriptor == "unreadable") {
    SetLastError(
        found && alias ? 1338 /* ERROR_INVALID_SECURITY_DESCR */ : ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const std::string key = KeyOf(found);
  if (!Inside(*found)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  if (kernelState().namespaces.count(key)) {
    SetLastError(ERROR_ALREADY_EXISTS);
    return nullptr;
  }
  return NewNamespaceHandle(key, alias);
}

HANDLE WINAPI SimOpenPrivateNamespaceA(LPVOID boundary, LPCSTR alias) {
  const Boundary* found = BoundaryOf(boundary);
  if (Enter("OpenPrivateNamespaceA", {KeyOf(found), Str(alias)}).fired)
    return nullptr;
  if (!found || !alias) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const auto space = kernelState().namespaces.find(KeyOf(found));
  if (space == kernelState().namespaces.end()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  if (!Inside(*found) || !space->second.opens) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  return NewNamespaceHandle(space->first, alias);
}

// Never with PRIVATE_NAMESPACE_FLAG_DESTROY: another run may still be inside.
BOOLEAN WINAPI SimClosePrivateNamespace(HANDLE handle, ULONG flags) {
  if (Enter("ClosePrivateNamespace", {Hex(reinterpret_cast<uintptr_t>(handle)), Hex(flags)}).fired)
    return FALSE;
  Kernel& kernel = kernelState();
  const auto found = kernel.namespaceHandles.find(reinterpret_cast<uintptr_t>(handle));
  if (found == kernel.namespaceHandles.end() || flags) {
    Misuse("ClosePrivateNamespace of a namespace not open, or destroying it");
    return FALSE;
  }
  const std::string key = found->second.boundary;
  kernel.namespaceHandles.erase(found);
  --kernel.namespaces[key].handles;
  Release("private namespace handle");
  DropNamespaceIfUnused(key);
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
  if (extended)
    reinterpret_cast<OSVERSIONINFOEXA*>(info)->wServicePackMajor = s.servicePack;
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
  kernelState().commandLine = ToAnsi(sim::settings().commandLine);
  return kernelState().commandLine.data();
}

HMODULE WINAPI LoadLibraryA(LPCSTR name) {
  if (Enter("LoadLibraryA", {Str(name)}).fired)
    return nullptr;
  if (!name || !*name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return LoadFrom(FromAnsi(name), SearchPath(0, "", false));
}

// The LOAD_LIBRARY_SEARCH_* flags need SetDefaultDllDirectories' loader (KB2533623 on Vista and
// 7) and go with neither the altered search nor a relative path for the library's own folder.
HMODULE WINAPI LoadLibraryExA(LPCSTR name, HANDLE file, DWORD flags) {
  if (Enter("LoadLibraryExA", {Str(name), Hex(reinterpret_cast<uintptr_t>(file)), Hex(flags)})
          .fired)
    return nullptr;
  const DWORD search = flags & kSearchFlags;
  const bool altered = (flags & LOAD_WITH_ALTERED_SEARCH_PATH) != 0;
  if (flags & ~(kSearchFlags | LOAD_WITH_ALTERED_SEARCH_PATH))
    Misuse("LoadLibraryExA with flags the simulation does not model");
  const bool flagsKnown =
      !search || (FindModule("kernel32.dll")->exports.count("SetDefaultDllDirectories") &&
                  ExistsOnThisVersion("SetDefaultDllDirectories"));
  const bool needsAbsolute = (search & LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR) != 0;
  const std::string path = FromAnsi(name);
  if (path.empty() || file || !flagsKnown || (search && altered) ||
      (needsAbsolute && !IsAbsolute(path))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  // Windows leaves the altered search with a relative name undefined.
  if (altered && !IsAbsolute(path))
    Misuse("LoadLibraryExA with LOAD_WITH_ALTERED_SEARCH_PATH and a relative path");
  const std::string folder = IsBareName(path) ? "" : FolderOf(FullPath(path));
  return LoadFrom(path, SearchPath(search, folder, altered));
}

HMODULE WINAPI GetModuleHandleA(LPCSTR name) {
  if (Enter("GetModuleHandleA", {Str(name)}).fired)
    return nullptr;
  if (!name)
    return kExeModule;
  Module* module = Resolve(FromAnsi(name), {});
  if (!module || !Mapped(*module)) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<HMODULE>(module);
}

UINT WINAPI GetSystemDirectoryA(LPSTR buffer, UINT size) {
  const Hit hit = Enter("GetSystemDirectoryA", {Num(size)});
  if (hit.fired)
    return static_cast<UINT>(hit.result);
  const std::string directory = ToAnsi(SystemDirectory());
  const UINT length = static_cast<UINT>(directory.size());
  if (!buffer || size <= length)  // too small: the size needed, terminator included
    return length + 1;
  memcpy(buffer, directory.c_str(), length + 1);
  return length;
}

FARPROC WINAPI GetProcAddress(HMODULE handle, LPCSTR name) {
  Module* module = ModuleOf(handle);
  if (Enter("GetProcAddress", {DisplayName(module), Str(name)}).fired)
    return nullptr;
  if (!module || !Mapped(*module)) {
    Misuse("GetProcAddress on a module that is not loaded");
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  const auto found = module->exports.find(name);
  if (found == module->exports.end() || !ExistsOnThisVersion(name)) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return found->second;
}

BOOL WINAPI FreeLibrary(HMODULE handle) {
  Module* module = ModuleOf(handle);
  if (Enter("FreeLibrary", {DisplayName(module)}).fired)
    return FALSE;
  if (!module || module->references == 0) {
    Misuse("FreeLibrary on a module that is not loaded");
    return FALSE;
  }
  Unmap(module);
  Release("loaded library");
  return TRUE;
}

BOOL WINAPI CloseHandle(HANDLE handle) {
  if (Enter("CloseHandle", {Hex(reinterpret_cast<uintptr_t>(handle))}).fired)
    return FALSE;
  if (CloseFileHandle(handle) || CloseMutexHandle(handle) || CloseTokenHandle(handle))
    return TRUE;
  Misuse("CloseHandle of a handle that is not open");
  return Failed(ERROR_INVALID_HANDLE);
}

static HANDLE NewMutexHandle(const std::string& name) {
  const uintptr_t id = kernelState().nextMutexHandle++;
  kernelState().mutexHandles[id] = name;
  Acquire("mutex handle");
  return reinterpret_cast<HANDLE>(id);
}

// Named only: the agent never makes an unnamed one, nor one it owns from the start.
HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES security, BOOL initialOwner, LPCSTR name) {
  const Hit hit = Enter("CreateMutexA", {security ? "set" : "NULL", Num(initialOwner), Str(name)});
  if (hit.fired)
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(hit.result));
  if (!name || initialOwner || security) {
    Misuse("CreateMutexA is simulated for a named mutex, not owned at first, only");
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const std::optional<std::string> path = KernelPath(name);
  if (!path) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return nullptr;
  }
  Kernel& kernel = kernelState();
  const auto found = kernel.mutexes.find(*path);
  const bool existed = found != kernel.mutexes.end();
  // An object of another type keeps its name: Windows reports the handle it cannot give.
  if (existed && (found->second.event || found->second.granted != kMutexAllAccess)) {
    SetLastError(found->second.event ? ERROR_INVALID_HANDLE : ERROR_ACCESS_DENIED);
    return nullptr;
  }
  kernel.mutexes[*path];
  SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return NewMutexHandle(*path);
}

HANDLE WINAPI OpenMutexA(DWORD access, BOOL inherit, LPCSTR name) {
  const Hit hit = Enter("OpenMutexA", {Hex(access), Num(inherit), Str(name)});
  if (hit.fired)
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(hit.result));
  Kernel& kernel = kernelState();
  const std::optional<std::string> path = name ? KernelPath(name) : std::nullopt;
  const auto found = path ? kernel.mutexes.find(*path) : kernel.mutexes.end();
  if (found == kernel.mutexes.end()) {
    SetLastError(path || !name ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
    return nullptr;
  }
  if (found->second.event || (access & ~found->second.granted)) {
    SetLastError(found->second.event ? ERROR_INVALID_HANDLE : ERROR_ACCESS_DENIED);
    return nullptr;
  }
  return NewMutexHandle(found->first);
}

// Mutexes only. A wait for one that another program holds lasts, in the machine's time, until
// it lets go or the time-out passes.
DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  const Hit hit =
      Enter("WaitForSingleObject", {Hex(reinterpret_cast<uintptr_t>(handle)), Num(milliseconds)});
  if (hit.fired)
    return static_cast<DWORD>(hit.result);
  Kernel& kernel = kernelState();
  const auto found = kernel.mutexHandles.find(reinterpret_cast<uintptr_t>(handle));
  if (found == kernel.mutexHandles.end()) {
    Misuse("WaitForSingleObject on a handle that is no open mutex");
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  Mutex& mutex = kernel.mutexes[found->second];
  if (mutex.owner == Mutex::Owner::Other) {
    const DWORD left = mutex.releasedAt == INFINITE ? INFINITE : mutex.releasedAt - kernel.clock;
    if (left == INFINITE && milliseconds == INFINITE) {
      Misuse("WaitForSingleObject for ever on a mutex that is never released");
      return WAIT_FAILED;
    }
    if (left > milliseconds) {
      kernel.clock += milliseconds;
      return WAIT_TIMEOUT;
    }
    kernel.clock = mutex.releasedAt;
    mutex.owner = Mutex::Owner::None;
  }
  const bool abandoned = mutex.abandoned;
  mutex.abandoned = false;
  mutex.owner = Mutex::Owner::Agent;
  ++mutex.count;
  Acquire("owned mutex");
  return abandoned ? WAIT_ABANDONED : WAIT_OBJECT_0;
}

BOOL WINAPI ReleaseMutex(HANDLE handle) {
  if (Enter("ReleaseMutex", {Hex(reinterpret_cast<uintptr_t>(handle))}).fired)
    return FALSE;
  Kernel& kernel = kernelState();
  const auto found = kernel.mutexHandles.find(reinterpret_cast<uintptr_t>(handle));
  if (found == kernel.mutexHandles.end())
    return Failed(ERROR_INVALID_HANDLE);
  Mutex& mutex = kernel.mutexes[found->second];
  if (mutex.owner != Mutex::Owner::Agent)
    return Failed(ERROR_NOT_OWNER);
  if (--mutex.count == 0)
    mutex.owner = Mutex::Owner::None;
  Release("owned mutex");
  return TRUE;
}

// With a wait, the ways time passes in the simulated machine.
void WINAPI Sleep(DWORD milliseconds) {
  if (!Enter("Sleep", {Num(milliseconds)}).fired)
    kernelState().clock += milliseconds;
}

// A pure lookup of the code page's table: not logged, never failed.
BOOL WINAPI IsDBCSLeadByte(BYTE byte) {
  return IsLeadByte(byte) ? TRUE : FALSE;
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
