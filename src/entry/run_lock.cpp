// Installers get started twice: a user double-clicks again, a deployment tool runs beside a
// repair by hand, an uninstall starts while an install is still busy. Two runs that change the
// same port, driver, printer, files and keys at once can leave a machine in pieces (a record with
// no printer, a printer with no port), so a run waits for the one before it.
#include "entry/run_lock.h"

#include "common/entry_point.h"
#include "common/well_known_sids.h"

namespace {

// XP and 2003: "Global\", so that a run as SYSTEM (a deployment tool, an MSI action) and a run in
// a user's session see the same object. NT 4 and the 95/98/Me family know no namespaces, and no
// sessions either: there the plain name is the one name every program sees.
constexpr char kGlobalName[] = "Global\\TessixTembrinPrinterSetup";
constexpr const char* kPlainName = kGlobalName + sizeof "Global";
// But any user may create a mutex or an event in "Global\" (only file mappings and symbolic links
// there need a privilege): an event of the lock's name, or a mutex whose DACL grants nobody
// anything, would take it from every run. From Vista on the lock lives in a private namespace
// whose boundary, of the plain name, holds the Administrators group: a caller outside it can
// neither create nor open it, so no user can take the name first. The plain name is its alias.
constexpr char kNamespacedName[] = "TessixTembrinPrinterSetup\\Lock";

// A self-relative security descriptor whose DACL grants SYSTEM and Administrators everything and
// nobody else anything: the namespace's own, whoever creates it. Missing bytes are zeros.
alignas(4) constexpr struct {
  BYTE header[20];          // revision 1, SE_DACL_PRESENT | SE_SELF_RELATIVE, only a DACL, at 20
  BYTE acl[8];              // revision 2, 52 bytes, 2 entries
  BYTE system[20];          // allow GENERIC_ALL to S-1-5-18
  BYTE administrators[24];  // allow GENERIC_ALL to S-1-5-32-544
} kNamespaceSecurity = {
    {1, 0, 0x04, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 20},
    {2, 0, 52, 0, 2},
    {0, 0, 20, 0, 0, 0, 0, 0x10, 1, 1, 0, 0, 0, 0, 0, 5, 18},
    {0, 0, 24, 0, 0, 0, 0, 0x10, 1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2},
};

// Longer than the longest run: a spooler still starting (30 s at most), the uninstall's wait for
// queues and a driver the spooler still holds (5 s) and the run's own work (a second or two;
// several under emulation).
// After it the run goes on as if the lock were free, so that a hung run, or a name that another
// administrator's program holds, never stops the agent for good.
constexpr DWORD kLongestWait = 60000;

// Vista's namespace calls; all NULL before Vista.
struct NamespaceCalls {
  HANDLE(WINAPI* createBoundary)(LPCSTR, ULONG);
  BOOL(WINAPI* addSid)(HANDLE*, PSID);
  VOID(WINAPI* deleteBoundary)(HANDLE);
  HANDLE(WINAPI* createSpace)(LPSECURITY_ATTRIBUTES, LPVOID, LPCSTR);
  HANDLE(WINAPI* openSpace)(LPVOID, LPCSTR);
  BOOLEAN(WINAPI* closeSpace)(HANDLE, ULONG);
};

// kernel32 is part of every process: no load is needed to look them up.
NamespaceCalls FindNamespaceCalls() {
  NamespaceCalls calls = {};
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  if (!kernel)
    return calls;
  calls.createBoundary =
      EntryPoint<decltype(calls.createBoundary)>(kernel, "CreateBoundaryDescriptorA");
  calls.addSid = EntryPoint<decltype(calls.addSid)>(kernel, "AddSIDToBoundaryDescriptor");
  calls.deleteBoundary =
      EntryPoint<decltype(calls.deleteBoundary)>(kernel, "DeleteBoundaryDescriptor");
  calls.createSpace = EntryPoint<decltype(calls.createSpace)>(kernel, "CreatePrivateNamespaceA");
  calls.openSpace = EntryPoint<decltype(calls.openSpace)>(kernel, "OpenPrivateNamespaceA");
  calls.closeSpace = EntryPoint<decltype(calls.closeSpace)>(kernel, "ClosePrivateNamespace");
  return calls;
}

bool HasNamespaceCalls(const NamespaceCalls& calls) {
  return calls.createBoundary && calls.addSid && calls.deleteBoundary && calls.createSpace &&
         calls.openSpace && calls.closeSpace;
}

// Another run may make the namespace first, and close it again before this one opens it: then
// this one makes it after all. A few rounds bound a run that keeps losing that race.
HANDLE CreateOrOpenSpace(const NamespaceCalls& calls, HANDLE boundary) {
  SECURITY_ATTRIBUTES attributes = {
      sizeof attributes, const_cast<void*>(static_cast<const void*>(&kNamespaceSecurity)), FALSE};
  for (int round = 0; round < 3; ++round) {
    if (HANDLE space = calls.createSpace(&attributes, boundary, kPlainName))
      return space;
    if (GetLastError() != ERROR_ALREADY_EXISTS)
      return nullptr;
    if (HANDLE space = calls.openSpace(boundary, kPlainName))
      return space;
  }
  return nullptr;
}

HANDLE OpenSpace(const NamespaceCalls& calls) {
  HANDLE boundary = calls.createBoundary(kPlainName, 0);
  if (!boundary)
    return nullptr;
  HANDLE space = nullptr;
  if (calls.addSid(&boundary, const_cast<BYTE*>(kAdministratorsSid)))
    space = CreateOrOpenSpace(calls, boundary);
  calls.deleteBoundary(boundary);
  return space;
}

// CreateMutexA asks for full access to a mutex that exists. One made by a run as SYSTEM grants
// the Administrators group only the right to wait for it and to release it (the default DACL of
// SYSTEM's token): an elevated run in a user's session opens it for just that.
HANDLE OpenLock(const char* name) {
  HANDLE lock = CreateMutexA(nullptr, FALSE, name);
  if (!lock && GetLastError() == ERROR_ACCESS_DENIED)
    lock = OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name);
  return lock;
}

// Where the namespace calls are missing (XP, 2003, Wine 8) or fail, "Global\". A name
// that cannot be had there is no lock, never a session's own name, which no other session sees;
// only where no session exists does the plain name serve.
RunLock OpenRunLock() {
  RunLock lock = {nullptr, nullptr, nullptr};
  const NamespaceCalls calls = FindNamespaceCalls();
  if (HasNamespaceCalls(calls) && (lock.space = OpenSpace(calls))) {
    lock.closeSpace = calls.closeSpace;
    if ((lock.mutex = OpenLock(kNamespacedName)))
      return lock;
    calls.closeSpace(lock.space, 0);
    lock.space = nullptr;
  }
  const DWORD version = GetVersion();
  const bool hasSessions = !(version & 0x80000000u) && (version & 0xFF) >= 5;
  lock.mutex = OpenLock(hasSessions ? kGlobalName : kPlainName);
  return lock;
}

}  // namespace

RunLock TakeRunLock() {
  RunLock lock = OpenRunLock();
  if (!lock.mutex)
    return lock;
  // A run that was killed leaves its lock abandoned; the next one takes it over at once: every
  // step converges, whatever a run cut short left.
  const DWORD waited = WaitForSingleObject(lock.mutex, kLongestWait);
  if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED)
    return lock;
  CloseHandle(lock.mutex);
  lock.mutex = nullptr;
  return lock;
}

// Never destroyed: another run may be waiting inside. The namespace goes with its last handle.
void ReleaseRunLock(const RunLock& lock) {
  if (lock.mutex) {
    ReleaseMutex(lock.mutex);
    CloseHandle(lock.mutex);
  }
  if (lock.space)
    lock.closeSpace(lock.space, 0);
}
