// The simulated Win32 machine, as the unit tests see it: settings, call log, fault injection and
// the ledger of everything that must be released. Each subsystem (registry, kernel, files,
// spooler, shell, OLE) has its own header for seeding and inspecting its state.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sim {

// Puts the whole machine back into its default state: a 32-bit Windows 7 SP1 with its loader
// update, an administrator, empty registry hives, the standard modules and no faults.
//
// The Windows version decides which entry points exist, as on real machines (Wine exports every
// function whatever version it reports): XcvDataW and SetDefaultPrinterA from Windows 2000,
// SetDllDirectoryA from XP SP1, SetDefaultDllDirectories from Windows 8 or with the loader
// update of Vista and 7, IsWow64Process2 from Windows 10 1709 (build 16299). GetProcAddress
// finds no other, and the agent's binding of XcvDataW
// fails the call where winspool lacks it. The 95/98/Me family knows no NT environment.
void Reset();

struct Settings {
  DWORD majorVersion = 6;
  DWORD minorVersion = 1;
  DWORD buildNumber = 7601;
  WORD servicePack = 1;
  // KB2533623, which brought SetDefaultDllDirectories to Vista and 7 (Windows 8 has it anyway).
  bool loaderUpdate = true;
  bool win9xFamily = false;            // GetVersion's high bit and VER_PLATFORM_WIN32_WINDOWS
  bool acceptsExtendedVersion = true;  // GetVersionExA takes an OSVERSIONINFOEXA (not on NT 4 SP5-)
  bool administrator = true;           // else HKLM refuses every write access
  bool wow64 = false;                  // a 32-bit process on 64-bit Windows
  // The machine Windows runs on, as IsWow64Process2 names it: IMAGE_FILE_MACHINE_ARM64 for
  // Windows on ARM, where an x86 program runs emulated (with wow64 set, as IsWow64Process says
  // there). 0: x86 or x64, as wow64 says.
  WORD nativeMachine = 0;
  // The process's ANSI code page: 1252, the double-byte 932, 936, 949 or 950, or 65001 (UTF-8).
  // Every text the tests give and read (paths, names, string values) is Unicode, in UTF-8; the
  // ANSI calls convert it as Windows does.
  UINT codePage = 1252;
  // The account that runs the agent (security::kSystem for a deployment tool's run), and its
  // Terminal Services session: 0 for services and SYSTEM, a user's own from Vista on (on XP and
  // 2003 the console user's is 0 too).
  std::string account = "S-1-5-21-1004336348-1177238915-682003330-1001";
  DWORD session = 1;
  std::string appDataFolder = "C:\\Users\\tester\\AppData\\Roaming";  // "" = cannot be determined
  std::string commandLine = "\"C:\\Setup\\printer-setup.exe\"";
  std::string windowsDirectory = "C:\\Windows";
  std::string programFolder = "C:\\Setup";  // where the agent's exe lies: the application directory
  // The loader's current directory. The file calls take a relative path from the current drive's
  // root, which is where this starts.
  std::string currentDirectory = "C:\\";
  char currentDrive = 'C';
};
Settings& settings();
// settings().nativeMachine, or the machine that wow64 implies.
WORD NativeMachine();

// Call log: every simulated API call, in order, with its arguments formatted as text (strings
// as they are, NULL as "NULL", numbers in decimal, access masks and flags in hex "0x..").
struct Call {
  std::string function;
  std::vector<std::string> args;
  std::string Text() const;  // "RegOpenKeyExA(HKLM, Software, 0, 0xf003f)"
};
const std::vector<Call>& Calls();
std::vector<std::string> CallNames();
std::vector<Call> CallsTo(const std::string& function);
int CountCalls(const std::string& function);
void ClearCalls();

// Fault injection: the matching call returns `result` (converted to the function's return
// type) with `lastError` set, and does nothing else. A function with an out status
// (XcvDataW's pdwStatus) writes `status` when one is given.
struct Fault {
  std::string function;
  int nth = 0;                          // only the Nth call of the function (1-based); 0: any
  std::optional<std::string> argument;  // only calls with an argument equal to this (any case)
  int64_t result = 0;
  DWORD lastError = ERROR_ACCESS_DENIED;
  std::optional<DWORD> status;
  bool once = false;  // disarm after the first hit
};
void InjectFault(const Fault& fault);
void FailNth(const std::string& function, int nth, int64_t result, DWORD lastError = 5);
void FailWhen(const std::string& function, const std::string& argument, int64_t result,
              DWORD lastError = 5);
void FailAlways(const std::string& function, int64_t result, DWORD lastError = 5);

// The process's end. KillProcessAt(n) ends the simulated process at its nth platform call from
// now on, as Windows ends a process that is killed: that call does not happen, and
// sim::ProcessKilled is thrown out of it through the agent (whose frames hold nothing to undo).
// The machine stays as the calls before left it; EndProcess() then closes, unloads and frees
// what the process held, as Windows does at a process's exit, and the next run starts afresh.
// KillProcessAt(0) disarms. Calls are whole: a call either happened or did not.
struct ProcessKilled {};
void KillProcessAt(int call);
void EndProcess();

// The whole machine as text, a line each key, value, file and spooler object: both hives in every
// view, the files with their attributes and contents, the deletions due at the next restart,
// ports, drivers, printers and the default printer. For asserting that two machines ended alike.
std::string Dump();

// The ledger: "" when nothing is left open, loaded, allocated or initialised and no resource
// was misused (double close, unknown handle); otherwise a readable list.
std::string Leaks();

}  // namespace sim
