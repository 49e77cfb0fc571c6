// Both whole sequences under arbitrary fault plans: any platform call may fail, any number of
// times. Invariants: no crash, an empty ledger after each run, a failed chained step ends its
// sequence, and nothing outside the product's own keys, files and spooler objects changes.
#include "../unit/product_files.h"
#include "../unit/product_trees.h"
#include "com.h"
#include "files.h"
#include "fuzz_support.h"
#include "spooler.h"

#include <vector>

namespace {

constexpr char kInstallDir[] = "C:\\Program Files\\Tembrin\\";
constexpr char kDriver[] = "Tessix Tembrin Printer Driver";
constexpr char kPrinter[] = "Tessix Tembrin Printer";
constexpr char kPort[] = "TESSIX_TEMBRIN:";

// Functions whose failure the agent must cope with, and the failure each returns. Releasing
// calls (RegCloseKey, ClosePrinter, FindClose, FreeLibrary, HeapFree, OleUninitialize, ...)
// are left out: a release that fails leaves its resource open whatever the caller does. So are
// SetDefaultDllDirectories and SetDllDirectoryA, which also narrow the search again after the
// add-in: a narrowing that fails leaves the search wide whatever the caller does.
struct Failure {
  const char* function;
  int64_t result;
};
constexpr int64_t kInvalidHandle = -1;
const Failure kFailures[] = {{"GetVersionExA", 0},
                             {"RegCreateKeyExA", ERROR_ACCESS_DENIED},
                             {"RegOpenKeyExA", 2},
                             {"RegSetValueExA", ERROR_ACCESS_DENIED},
                             {"RegQueryValueExA", 2},
                             {"RegQueryValueExA", ERROR_MORE_DATA},
                             {"RegQueryInfoKeyA", 5},
                             {"RegEnumKeyExA", 5},
                             {"RegEnumValueA", 5},
                             {"RegDeleteValueA", 5},
                             {"RegDeleteKeyA", 5},
                             {"GetModuleHandleA", 0},
                             {"GetSystemDirectoryA", 0},
                             {"LoadLibraryA", 0},
                             {"LoadLibraryExA", 0},
                             {"GetProcAddress", 0},
                             {"GetCurrentProcess", 0},
                             {"IsWow64Process", 0},
                             {"Wow64DisableWow64FsRedirection", 0},
                             {"HeapAlloc", 0},
                             {"CopyFileA", 0},
                             {"MoveFileA", 0},
                             {"MoveFileExA", 0},
                             {"DeleteFileA", 0},
                             {"GetFileAttributesA", kInvalidHandle},
                             {"SetFileAttributesA", 0},
                             {"FindFirstFileA", kInvalidHandle},
                             {"GetWindowsDirectoryA", 0},
                             {"CreateFileA", kInvalidHandle},
                             {"ReadFile", 0},
                             {"SetFilePointer", kInvalidHandle},
                             {"CreateMutexA", 0},
                             {"OpenSCManagerA", 0},
                             {"OpenServiceA", 0},
                             {"QueryServiceStatus", 0},
                             {"WaitForSingleObject", WAIT_TIMEOUT},
                             {"WaitForSingleObject", kInvalidHandle},
                             {"OpenPrinterA", 0},
                             {"XcvDataW", 0},
                             {"GetPrinterDriverDirectoryA", 0},
                             {"AddPrinterDriverA", 0},
                             {"AddPrinterA", 0},
                             {"EnumPrintersA", 0},
                             {"DeletePrinter", 0},
                             {"SetPrinterA", 0},
                             {"DeletePrinterDriverA", 0},
                             {"EnumPrinterDriversA", 0},
                             {"SetDefaultPrinterA", 0},
                             {"SHGetSpecialFolderLocation", E_FAIL},
                             {"SHGetPathFromIDListA", 0},
                             {"OleInitialize", E_FAIL},
                             {"DllRegisterServer", E_FAIL},
                             {"DllUnregisterServer", E_FAIL},
                             // Appended, never inserted: the seeds name faults by position.
                             {"FindNextFileA", 0},
                             {"EnumJobsA", 0},
                             {"SetJobA", 0}};

void InjectPlan(Input& input) {
  const int count = input.Byte() % 8;
  for (int i = 0; i < count; ++i) {
    const Failure& failure = kFailures[input.Byte() % (sizeof kFailures / sizeof *kFailures)];
    sim::Fault fault;
    fault.function = failure.function;
    fault.nth = input.Byte() % 12;  // 0: every call
    fault.result = failure.result;
    fault.lastError = ERROR_ACCESS_DENIED;
    // The monitor may also carry the request and refuse it.
    if (fault.function == "XcvDataW" && (input.Byte() & 1)) {
      fault.result = TRUE;
      fault.status = 0x80000000u;
    }
    sim::InjectFault(fault);
  }
}

// The keys the agent writes, restores or removes: the product's trees and the keys of the
// association and the RunOnce entry, each also in the 64-bit view's spelling of the 32-bit view.
// Everything else must stay as it was.
std::vector<std::string> BothViews(std::vector<std::string> paths) {
  const size_t count = paths.size();
  for (size_t i = 0; i < count; ++i)
    paths.push_back("Software\\Wow6432Node" + paths[i].substr(8));  // after "Software"
  return paths;
}

std::vector<std::string> With(std::vector<std::string> paths,
                              std::initializer_list<const char*> more) {
  paths.insert(paths.end(), more.begin(), more.end());
  return paths;
}

// A driver file that cannot be deleted now waits for the restart, in Session Manager's list.
const std::vector<std::string> kOwnMachineKeys =
    With(BothViews(With(
             kMachineTrees,
             {"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce", "Software\\Classes\\.pdf",
              "Software\\Classes\\MIME\\Database\\Content Type\\application/pdf"})),
         {"System\\CurrentControlSet\\Control\\Session Manager"});
const std::vector<std::string> kOwnUserKeys = BothViews(
    With(kUserTrees, {"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.pdf"}));

// What the product has no business touching.
void SeedNeighbours() {
  sim::reg::SetString(HKEY_LOCAL_MACHINE, "Software\\Other Vendor", "v", "stays");
  sim::reg::SetString(HKEY_LOCAL_MACHINE, "Software\\Classes\\.pdfx", "", "stays");
  sim::reg::SetString(HKEY_LOCAL_MACHINE, "Software\\Classes\\CLSID\\{00000000-1111}", "", "x");
  sim::reg::SetString(HKEY_LOCAL_MACHINE,
                      "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Other", "v", "x");
  sim::reg::SetString(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce2",
                      "v", "x");
  sim::reg::SetString(HKEY_CURRENT_USER,
                      "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.txt",
                      "Progid", "x");
  sim::reg::SetString(HKEY_LOCAL_MACHINE, "Software\\Tessix Software\\Tessix Other", "v", "stays");
  sim::reg::SetString(HKEY_CURRENT_USER, "Software\\Tessix Software\\Tessix Tembrin Other", "v",
                      "stays");
  sim::spooler::AddPort("OTHER:");
  sim::spooler::AddDriver("Other Driver");
  sim::spooler::AddPrinter("Other Printer", "OTHER:", "Other Driver");
  sim::files::AddFile(sim::spooler::DriverDirectory("Windows NT x86") + "\\3\\other.dll", "x");
  sim::files::AddFile("C:\\Windows\\System32\\other.dll", "x");
}

bool Called(const std::string& function, const std::string& argument = "") {
  for (const sim::Call& call : sim::Calls())
    if (call.function == function &&
        (argument.empty() ||
         std::find(call.args.begin(), call.args.end(), argument) != call.args.end()))
      return true;
  return false;
}

void Run(const char* command) {
  ResetAgentState();
  sim::settings().commandLine = std::string("printer-setup.exe ") + command;
  WinMain(nullptr, nullptr, nullptr, 0);
  RequireEmptyLedger();
}

// The install's later steps follow only a complete printer.
void CheckInstallChain() {
  const bool printerReady = sim::spooler::HasPrinter(kPrinter);
  if (!printerReady)
    Require(!Called("SetDefaultPrinterA") && !Called("OleInitialize") &&
                !Called("RegSetValueExA", "Version"),
            "the install went on after a failed printer step");
  // A port that was never there, or that a run took away with the driver the spooler refused.
  if (!sim::spooler::HasPort(kPort))
    Require(!Called("AddPrinterDriverA") || !sim::spooler::HasDriver(kDriver, DriverEnvironment),
            "driver after no port");
}

// The uninstall's removals stop at the first one that fails. A driver left only in the other
// environment (the uninstall's probe saw another Windows than the install's) does not stop them.
void CheckUninstallChain() {
  if (sim::spooler::HasDriver(kDriver, DriverEnvironment))
    Require(!Called("XcvDataW", "DeletePort"), "the port went although the driver stayed");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FreshMachine();
  Input input{data, size};
  const uint8_t setup = input.Byte();
  sim::settings().wow64 = setup & 1;
  sim::settings().administrator = (setup & 6) != 6;
  SeedCompleteInstall(kInstallDir);
  SeedNeighbours();
  const std::string machineBefore = DumpExcept(HKEY_LOCAL_MACHINE, kOwnMachineKeys);
  const std::string userBefore = DumpExcept(HKEY_CURRENT_USER, kOwnUserKeys);

  // A faulted install; or a clean install and then a faulted uninstall; or both faulted.
  const int mode = (setup >> 3) % 3;
  if (mode != 1)
    InjectPlan(input);
  Run("/Install");
  CheckInstallChain();
  if (mode == 1)
    InjectPlan(input);
  sim::ClearCalls();
  Run("/Uninstall");
  CheckUninstallChain();

  Require(DumpExcept(HKEY_LOCAL_MACHINE, kOwnMachineKeys) == machineBefore,
          "HKLM changed outside the product's keys");
  Require(DumpExcept(HKEY_CURRENT_USER, kOwnUserKeys) == userBefore,
          "HKCU changed outside the product's keys");
  Require(sim::spooler::HasPrinter("Other Printer") && sim::spooler::HasPort("OTHER:") &&
              sim::spooler::HasDriver("Other Driver"),
          "another product's spooler objects were touched");
  Require(sim::files::Contents(sim::spooler::DriverDirectory("Windows NT x86") +
                               "\\3\\other.dll") == "x" &&
              sim::files::Contents("C:\\Windows\\System32\\other.dll") == "x",
          "another product's files were touched");
  return 0;
}
