// Simulated winspool: driver directories per environment.
#include "internal.h"
#include "spooler.h"

#include <winspool.h>

#include <cstring>
#include <map>

namespace {

struct Spooler {
  std::map<std::string, std::string> driverDirectories;  // by lower-case environment
  std::string defaultPrinter;
};

Spooler& spoolerState() {
  static Spooler instance;
  return instance;
}

// A 32-bit process's own environment, also on 64-bit Windows.
constexpr const char* kOwnEnvironment = "Windows NT x86";

}  // namespace

namespace sim::detail {
void ResetSpooler() {
  spoolerState() = Spooler{};
  sim::spooler::SetDriverDirectory("Windows NT x86",
                                   "C:\\Windows\\system32\\spool\\drivers\\w32x86");
  sim::spooler::SetDriverDirectory("Windows x64", "C:\\Windows\\system32\\spool\\drivers\\x64");
}
}  // namespace sim::detail

namespace sim::spooler {

void SetDriverDirectory(const std::string& environment, const std::string& directory) {
  spoolerState().driverDirectories[detail::Lower(environment)] = directory;
}

std::string DriverDirectory(const std::string& environment) {
  auto it = spoolerState().driverDirectories.find(detail::Lower(environment));
  return it == spoolerState().driverDirectories.end() ? "" : it->second;
}

}  // namespace sim::spooler

using namespace sim::detail;

extern "C" {

BOOL WINAPI GetPrinterDriverDirectoryA(LPSTR server, LPSTR environment, DWORD level, LPBYTE buffer,
                                       DWORD size, LPDWORD needed) {
  const Hit hit =
      Enter("GetPrinterDriverDirectoryA", {Str(server), Str(environment), Num(level), Num(size)});
  if (hit.fired)
    return static_cast<BOOL>(hit.result);
  if (level != 1) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::string directory =
      sim::spooler::DriverDirectory(environment ? environment : kOwnEnvironment);
  if (directory.empty()) {
    SetLastError(ERROR_INVALID_ENVIRONMENT);
    return FALSE;
  }
  const DWORD bytes = static_cast<DWORD>(directory.size() + 1);
  if (needed)
    *needed = bytes;
  if (!buffer || size < bytes) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memcpy(buffer, directory.c_str(), bytes);
  return TRUE;
}

BOOL WINAPI SimSetDefaultPrinterA(LPCSTR printer) {
  const Hit hit = Enter("SetDefaultPrinterA", {Str(printer)});
  if (hit.fired)
    return static_cast<BOOL>(hit.result);
  spoolerState().defaultPrinter = printer ? printer : "";
  return TRUE;
}

BOOL WINAPI XcvDataW(HANDLE, PCWSTR dataName, PBYTE, DWORD inputSize, PBYTE, DWORD outputSize,
                     PDWORD, PDWORD status) {
  const Hit hit = Enter("XcvDataW", {Str(dataName), Num(inputSize), Num(outputSize)});
  if (hit.fired) {
    if (hit.status && status)
      *status = *hit.status;
    return static_cast<BOOL>(hit.result);
  }
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}

}  // extern "C"
