// The printer port "TESSIX_TEMBRIN:", added to and removed from the spooler's Local Port monitor
// through the monitor's configuration interface.
#include "common/entry_point.h"
#include "common/library_loading.h"
#include "common/names.h"
#include "common/unicode_names.h"
#include "spooler/spooler.h"

#include <windows.h>
#include <winspool.h>

#include <cstring>

namespace {

// No server name before the comma: the monitor of this machine.
constexpr char kLocalPortMonitor[] = ", XcvMonitor Local Port";
constexpr WideText<sizeof "AddPort"> kAddPort = Widen("AddPort");
constexpr WideText<sizeof "DeletePort"> kDeletePort = Widen("DeletePort");
constexpr WideText<sizeof kPortName> kWidePortName = Widen(kPortName);

// The monitor is told the size of the name with its terminator, not of the whole buffer.
constexpr DWORD kPortNameBytes = sizeof kWidePortName.text;
static_assert(kPortNameBytes == 32, "\"TESSIX_TEMBRIN:\" and its terminator in UTF-16");

using XcvDataFn = BOOL(WINAPI*)(HANDLE, PCWSTR, PBYTE, DWORD, PBYTE, DWORD, PDWORD, PDWORD);

struct PortRequest {
  WCHAR input[512];
  BYTE output[1024];
  DWORD needed;
  DWORD status;
  PRINTER_DEFAULTSA defaults;
};

// Everything starts at zero, the status too: a monitor that returns without writing it leaves
// no undefined value to be judged.
void PrepareRequest(PortRequest& request) {
  memset(&request, 0, sizeof request);
  memcpy(request.input, kWidePortName.text, kPortNameBytes);
  request.defaults.DesiredAccess = SERVER_ACCESS_ADMINISTER;
}

bool OpenLocalPortMonitor(PortRequest& request, HANDLE& monitor) {
  monitor = nullptr;
  return OpenPrinterA(const_cast<LPSTR>(kLocalPortMonitor), &monitor, &request.defaults) != 0;
}

BOOL SendRequest(XcvDataFn xcvData, HANDLE monitor, const WCHAR* requestName,
                 PortRequest& request) {
  return xcvData(monitor, requestName, reinterpret_cast<BYTE*>(request.input), kPortNameBytes,
                 request.output, 0, &request.needed, &request.status);
}

// The monitor answers with a Win32 error code in the status, and only ERROR_SUCCESS marks a port
// added. ERROR_ALREADY_EXISTS is the port that is there, which the install goes on with; any other
// code (a refused access, a bad parameter, a registry write the monitor could not make) leaves no
// port, and the printer could not be created on it.
int AddPortWith(XcvDataFn xcvData, int* added) {
  PortRequest request;
  PrepareRequest(request);
  HANDLE monitor;
  if (!OpenLocalPortMonitor(request, monitor))
    return 0;
  const BOOL carried = SendRequest(xcvData, monitor, kAddPort.text, request);
  ClosePrinter(monitor);
  if (!carried)
    return 0;
  if (added)
    *added = request.status == ERROR_SUCCESS;
  return request.status == ERROR_SUCCESS || request.status == ERROR_ALREADY_EXISTS ? 1 : 0;
}

}  // namespace

// XcvDataW is reached through GetProcAddress here, so that a winspool without it fails the step
// instead of the start of the program.
int AddPrinterPort(int* added) {
  if (added)
    *added = 0;
  HMODULE winspool = LoadSystemLibrary("winspool.drv");
  if (!winspool)
    return 0;
  const XcvDataFn xcvData = EntryPoint<XcvDataFn>(winspool, "XcvDataW");
  const int result = xcvData ? AddPortWith(xcvData, added) : 0;
  FreeLibrary(winspool);
  return result;
}

int DeletePrinterPort() {
  PortRequest request;
  PrepareRequest(request);
  HANDLE monitor;
  if (!OpenLocalPortMonitor(request, monitor))
    return 1;
  SendRequest(&XcvDataW, monitor, kDeletePort.text, request);
  ClosePrinter(monitor);
  return 1;
}
