#include "entry/probe.h"

#include "common/entry_point.h"
#include "common/library_loading.h"
#include "registry/registry.h"

#include <windows.h>

#include <cstring>

namespace {

static_assert(sizeof(OSVERSIONINFOEXA) == 156, "the version record Windows expects");
static_assert(sizeof(OSVERSIONINFOA) == 148, "the version record older Windows expects");

bool QueryVersion(OSVERSIONINFOEXA& version) {
  memset(&version, 0, sizeof version);
  version.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXA);
  auto* plain = reinterpret_cast<OSVERSIONINFOA*>(&version);
  if (GetVersionExA(plain))
    return true;
  // NT 4 before SP6 and the 9x family know only the short record.
  version.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
  return GetVersionExA(plain) != FALSE;
}

// Opening HKLM\Software for full access succeeds only for an administrator, and under UAC only
// in an elevated process. The key exists, so nothing is created.
bool ProbeAdministrator(int* hasAdminRights) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    *hasAdminRights = 0;
    return false;
  }
  *hasAdminRights = 1;
  RegCloseKey(key);
  return true;
}

// IsWow64Process arrived with XP SP2; older systems are 32-bit anyway.
void ProbeWow64(int* is64BitWindows) {
  using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
  HMODULE kernel = LoadSystemLibrary("kernel32.dll");
  if (!kernel)
    return;
  const auto isWow64Process = EntryPoint<IsWow64ProcessFn>(kernel, "IsWow64Process");
  HANDLE process = isWow64Process ? GetCurrentProcess() : nullptr;
  if (process) {
    BOOL wow64 = FALSE;
    *is64BitWindows = (isWow64Process(process, &wow64) && wow64) ? 1 : 0;
  }
  FreeLibrary(kernel);
}

}  // namespace

int ProbeEnvironment(int* hasAdminRights, int* is64BitWindows) {
  OSVERSIONINFOEXA version;
  if (!QueryVersion(version))
    return 0;
  if (version.dwMajorVersion < 5)
    return 0;
  if (!ProbeAdministrator(hasAdminRights))
    return 0;
  ProbeWow64(is64BitWindows);
  return 1;
}

// A 32-bit x86 program runs on Windows on ARM under emulation: IsWow64Process says TRUE there and
// GetNativeSystemInfo reports an x86 machine; only IsWow64Process2 (Windows 10 1709 and later)
// names the ARM64 one. Its spooler loads ARM64 drivers only, and the application's files hold x86
// and x64 ones. kernel32 is part of every process: no load is needed to look it up.
void ProbeNativeMachine(int* driverForMachine) {
  using IsWow64Process2Fn = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  const auto isWow64Process2 =
      kernel ? EntryPoint<IsWow64Process2Fn>(kernel, "IsWow64Process2") : nullptr;
  USHORT process = IMAGE_FILE_MACHINE_UNKNOWN;
  USHORT native = IMAGE_FILE_MACHINE_UNKNOWN;
  if (isWow64Process2 && isWow64Process2(GetCurrentProcess(), &process, &native))
    *driverForMachine = native == IMAGE_FILE_MACHINE_I386 || native == IMAGE_FILE_MACHINE_AMD64;
}

// Group Policy's "Configure Windows protected print" and the Policy CSP's
// Printers/ConfigureWindowsProtectedPrint record WindowsProtectedPrintGroupPolicyState, 1 for
// enabled. The switch in Settings is documented nowhere; what Windows records for it, beside the
// policy's value in the same key, is WindowsProtectedPrintMode, 1 for on, and it is read only
// there. The Policies key is shared by both registry views.
bool ProtectedPrintModeIsOn() {
  constexpr char kProtectedPrintKey[] = "Software\\Policies\\Microsoft\\Windows NT\\Printers\\WPP";
  DWORD state = 0;
  if (FindRegDword(HKEY_LOCAL_MACHINE, kProtectedPrintKey, "WindowsProtectedPrintGroupPolicyState",
                   state) &&
      state == 1)
    return true;
  return FindRegDword(HKEY_LOCAL_MACHINE, kProtectedPrintKey, "WindowsProtectedPrintMode", state) &&
         state == 1;
}
