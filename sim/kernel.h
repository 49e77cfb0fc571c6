// Simulated kernel32 modules: the libraries on disk, their exports and imports, and the loader's
// search for them.
//
// What the loader calls model, as Windows behaves:
// - A bare name is the library of that name already mapped (kernel32, advapi32, shell32, ole32
//   and msvcrt are mapped from the start, as the exe's imports), else the first folder of the
//   search that holds it. A name with a folder is that file; "\x" lies on the current drive,
//   a relative one below the current directory.
// - The classic search (no SetDefaultDllDirectories): the program's folder, the DLL directory
//   if one is set, the system directory, the Windows directory, and the current directory
//   unless a DLL directory (even "") is set. LOAD_WITH_ALTERED_SEARCH_PATH puts the library's
//   own folder in place of the program's.
// - LOAD_LIBRARY_SEARCH_* flags, given to LoadLibraryExA or made the default by
//   SetDefaultDllDirectories, name the folders searched: the library's own (DLL_LOAD_DIR, for an
//   absolute path only), the program's (APPLICATION_DIR), the DLL directory (USER_DIRS), the
//   system directory (SYSTEM32); DEFAULT_DIRS is the last three. They need the loader that has
//   SetDefaultDllDirectories and go with no altered search (ERROR_INVALID_PARAMETER).
// - A library's imports are looked for through the same search as the library; one that is not
//   found fails the load (ERROR_MOD_NOT_FOUND) and maps nothing.
// - GetModuleHandleA finds a mapped library without a search and without a reference.
// - No library loads while the thread's file-system redirection is switched off (a misuse).
// The ledger holds every loaded library until FreeLibrary, a DLL directory other than "" until
// it is set back, and user folders in the default search until they are taken out again.
#pragma once

#include "sim.h"

#include <optional>
#include <string>
#include <vector>

namespace sim::kernel {

// A library on disk at `path`, a full path; a bare name such as "winspool.drv" lies in the system
// directory. Names match case-insensitively. `imports` are the bare names of the libraries it
// imports. sim::Reset() leaves kernel32.dll and winspool.drv with their exports.
void AddModule(const std::string& path, const std::vector<std::string>& imports = {});
void RemoveModule(const std::string& path);
void SetExport(const std::string& module, const std::string& function, FARPROC address);
void RemoveExport(const std::string& module, const std::string& function);
bool IsLoaded(const std::string& module);

// Every library mapped into the process so far, by full path, imports included, in order.
std::vector<std::string> MappedPaths();
// The search as the agent left it: SetDefaultDllDirectories' flags (0: never called) and the
// DLL directory (none: never set or set back with NULL).
DWORD DefaultDllDirectories();
std::optional<std::string> DllDirectory();

// Whether the calling thread's file-system redirection is switched off right now.
bool RedirectionDisabled();

// The machine's time in milliseconds: only Sleep, and a wait that times out or ends, let it pass.
DWORD Clock();

// Named mutexes, as another program leaves them. CreateMutexA takes a name of the "Global\\"
// namespace from Windows 2000 on; NT 4 and the 95/98/Me family refuse a name with a backslash
// (ERROR_PATH_NOT_FOUND). WaitForSingleObject on a mutex another program holds waits, in the
// machine's time, until it lets go or the time-out; one whose holder ended without releasing it
// is handed over at once with WAIT_ABANDONED, as a killed run of the agent leaves its own. The
// ledger holds every mutex handle until CloseHandle and every ownership until ReleaseMutex.
// Held by another program for `milliseconds` of the machine's time from now (INFINITE: for good).
void HoldMutex(const std::string& name, DWORD milliseconds = INFINITE);
// Its holder ended without releasing it.
void AbandonMutex(const std::string& name);
// Made by another account whose security grants the agent no more than `allowed` (CreateMutexA,
// which asks for full access, fails with ERROR_ACCESS_DENIED; OpenMutexA for less may not): 0
// for another user's, SYNCHRONIZE | MUTEX_MODIFY_STATE for one a run as SYSTEM made.
void DenyMutex(const std::string& name, DWORD allowed = 0);
// Another program's event of that name.
void AddEvent(const std::string& name);
// The mutexes that exist, by kernel path (below).
std::vector<std::string> Mutexes();

// Object names, as Windows resolves them from Windows 2000 on: "Global\\x" is
// "\\BaseNamedObjects\\x"; a plain or "Local\\" name is the session's own,
// "\\Sessions\\<n>\\BaseNamedObjects\\x", but in session 0 (settings().session), where it is
// the global one; "<alias>\\x" lies in the private namespace the process opened under that
// alias, "\\Namespace\\<boundary key>\\x"; any other prefix names nothing
// (ERROR_PATH_NOT_FOUND). NT 4 and the 95/98/Me family have only "\\BaseNamedObjects". The
// functions above take a kernel path (starting with a backslash), or a name as the agent's
// session would resolve it. One name is one object: a mutex cannot be had where another program
// made an event (ERROR_INVALID_HANDLE).
//
// Private namespaces (Vista and later): a boundary descriptor names the namespace together with
// its SIDs; only a caller whose token holds all of them may create or open it (every token holds
// Everyone, Authenticated Users, Users and its account; an administrator's, see
// settings().administrator, holds Administrators too). CreatePrivateNamespaceA fails with
// ERROR_ALREADY_EXISTS while any handle to it is open, OpenPrivateNamespaceA with
// ERROR_FILE_NOT_FOUND while none is. A namespace goes with its last handle, and everything in
// it. The ledger holds boundary descriptors until DeleteBoundaryDescriptor and namespace handles
// until ClosePrivateNamespace; the call log shows the security descriptor that creates one.
// "name{sid,sid}": the key of the boundary of that name with these SIDs.
std::string BoundaryKey(const std::string& name, std::vector<std::string> sids);
// Another program holds the namespace of that boundary key open; `opens`: its security lets the
// agent in.
void HoldNamespace(const std::string& boundary, bool opens = true);

}  // namespace sim::kernel
