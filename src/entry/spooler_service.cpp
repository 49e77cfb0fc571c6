#include "entry/spooler_service.h"

#include "common/entry_point.h"

#include <windows.h>

namespace {

using OpenSCManagerFn = SC_HANDLE(WINAPI*)(LPCSTR, LPCSTR, DWORD);
using OpenServiceFn = SC_HANDLE(WINAPI*)(SC_HANDLE, LPCSTR, DWORD);
using QueryServiceStatusFn = BOOL(WINAPI*)(SC_HANDLE, LPSERVICE_STATUS);
using CloseServiceHandleFn = BOOL(WINAPI*)(SC_HANDLE);

}  // namespace

// Looked up at run time: advapi32 is mapped from the start, as an import, but the 95/98/Me family
// has no Service Control Manager and a linked service call would keep the agent from starting.
DWORD SpoolerServiceState() {
  HMODULE advapi = GetModuleHandleA("advapi32.dll");
  if (!advapi)
    return 0;
  const auto openManager = EntryPoint<OpenSCManagerFn>(advapi, "OpenSCManagerA");
  const auto openService = EntryPoint<OpenServiceFn>(advapi, "OpenServiceA");
  const auto queryStatus = EntryPoint<QueryServiceStatusFn>(advapi, "QueryServiceStatus");
  const auto close = EntryPoint<CloseServiceHandleFn>(advapi, "CloseServiceHandle");
  if (!openManager || !openService || !queryStatus || !close)
    return 0;
  SC_HANDLE manager = openManager(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (!manager)
    return 0;
  DWORD state = 0;
  SC_HANDLE spooler = openService(manager, "Spooler", SERVICE_QUERY_STATUS);
  if (spooler) {
    SERVICE_STATUS status;
    if (queryStatus(spooler, &status))
      state = status.dwCurrentState;
    close(spooler);
  }
  close(manager);
  return state;
}
