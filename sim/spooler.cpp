// Simulated winspool: driver directories, the Local Port monitor, drivers per environment,
// printers, the default printer and printer handles.
#include "files.h"
#include "internal.h"
#include "kernel.h"
#include "spooler.h"

#include <winspool.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

namespace {

using sim::detail::Failed;
using sim::detail::FromAnsi;
using sim::detail::Lower;
using sim::detail::SameText;
using sim::detail::ToAnsi;

constexpr DWORD kInvalidLevel = 124;             // ERROR_INVALID_LEVEL
constexpr DWORD kUnknownPrintProcessor = 1798;   // ERROR_UNKNOWN_PRINTPROCESSOR
constexpr DWORD kInvalidDatatype = 1804;         // ERROR_INVALID_DATATYPE
constexpr DWORD kNullReference = 1780;           // RPC_X_NULL_REF_POINTER
constexpr DWORD kInvalidUserBuffer = 1784;       // ERROR_INVALID_USER_BUFFER
constexpr DWORD kPrinterAccessUse = 0x8;         // PRINTER_ACCESS_USE
constexpr DWORD kPrinterAccessAdminister = 0x4;  // PRINTER_ACCESS_ADMINISTER
constexpr DWORD kServerAccessEnumerate = 0x2;    // SERVER_ACCESS_ENUMERATE
constexpr DWORD kAdministrativeRights =
    DELETE | WRITE_DAC | WRITE_OWNER | SERVER_ACCESS_ADMINISTER | kPrinterAccessAdminister;

// A 32-bit process's own environment, also on 64-bit Windows; the 95/98/Me family's is
// "Windows 4.0".
std::string OwnEnvironment() {
  return sim::settings().win9xFamily ? "Windows 4.0" : "Windows NT x86";
}

// The driver directory of an environment the spooler knows, "" for one it does not: the 95/98/Me
// family knows no NT environment (ERROR_INVALID_ENVIRONMENT, as Wine's tests record there).
std::string KnownDirectory(const std::string& environment) {
  const bool nt = environment.rfind("Windows NT", 0) == 0 || environment == "Windows x64";
  return sim::settings().win9xFamily && nt ? "" : sim::spooler::DriverDirectory(environment);
}

// A job in a printer's queue. The one being printed is in its print processor's hands: neither a
// purge nor its deletion takes it away before the processor lets go of it.
struct Job {
  DWORD id;
  bool printing = false;
  bool deleting = false;
};

struct PrinterEntry {
  sim::spooler::Printer info;
  std::string processor = "WinPrint";
  std::string datatype = "RAW";
  bool withoutNames = false;
  std::vector<Job> jobs;
  DWORD printsIn = INFINITE;   // how long its waiting jobs take to print once scheduled
  DWORD printedAt = INFINITE;  // the machine's time at which they are printed
  DWORD letsGoAt = INFINITE;   // the machine's time at which the job being printed goes
  bool paused = false;
  bool pendingDeletion = false;
};

// A printer deleted while its driver is still held: until the moment given, and while a handle
// to it stays open.
struct DeletedPrinter {
  std::string name, driver;
  DWORD releasedAt;
};

enum class HandleKind { Server, Printer, Monitor };

struct Handle {
  HandleKind kind;
  std::string name;
  DWORD access = 0;
};

struct Spooler {
  std::map<std::string, std::string> driverDirectories;  // by lower-case environment
  std::vector<std::string> ports;
  std::vector<sim::spooler::Driver> drivers;
  std::vector<PrinterEntry> printers;
  std::string defaultPrinter;
  std::map<uintptr_t, Handle> handles;
  std::set<uintptr_t> closed;  // handles are never reused, so a closed one stays recognisable
  uintptr_t nextHandle = 0x9000;
  sim::spooler::Service service = sim::spooler::Service::Running;
  DWORD runningAt = 0;  // of a starting spooler: the machine's time it runs
  std::set<uintptr_t> serviceHandles;
  uintptr_t nextServiceHandle = 0x5C00;
  DWORD releaseDelay = 0;
  std::set<std::string> heldByOthers;  // lower-case printer names
  std::vector<DeletedPrinter> deleted;
  DWORD nextJob = 1;
};

Spooler& spoolerState() {
  static Spooler instance;
  return instance;
}

// The spooler itself runs natively: on 64-bit Windows its printers use x64 drivers.
std::string NativeEnvironment() {
  if (sim::NativeMachine() == IMAGE_FILE_MACHINE_ARM64)
    return "Windows ARM64";
  return sim::settings().wow64 ? "Windows x64" : "Windows NT x86";
}

std::vector<std::string>::iterator FindPort(const std::string& name) {
  auto& ports = spoolerState().ports;
  return std::find_if(ports.begin(), ports.end(),
                      [&](const std::string& port) { return SameText(port, name); });
}

std::vector<sim::spooler::Driver>::iterator FindDriver(const std::string& name,
                                                       const std::string& environment) {
  auto& drivers = spoolerState().drivers;
  return std::find_if(drivers.begin(), drivers.end(), [&](const sim::spooler::Driver& driver) {
    return SameText(driver.name, name) && SameText(driver.environment, environment);
  });
}

std::vector<PrinterEntry>::iterator FindPrinter(const std::string& name) {
  auto& printers = spoolerState().printers;
  return std::find_if(printers.begin(), printers.end(),
                      [&](const PrinterEntry& entry) { return SameText(entry.info.name, name); });
}

bool HeldOpen(const std::string& printer) {
  const Spooler& spooler = spoolerState();
  return spooler.heldByOthers.count(Lower(printer)) ||
         std::any_of(spooler.handles.begin(), spooler.handles.end(), [&](const auto& handle) {
           return handle.second.kind == HandleKind::Printer &&
                  SameText(handle.second.name, printer);
         });
}

bool DriverInUse(const std::string& name) {
  const Spooler& spooler = spoolerState();
  return std::any_of(
             spooler.printers.begin(), spooler.printers.end(),
             [&](const PrinterEntry& entry) { return SameText(entry.info.driver, name); }) ||
         std::any_of(spooler.deleted.begin(), spooler.deleted.end(), [&](const DeletedPrinter& p) {
           return SameText(p.driver, name) &&
                  (sim::kernel::Clock() < p.releasedAt || HeldOpen(p.name));
         });
}

DWORD PrintedAt(DWORD printsIn) {
  return printsIn == INFINITE ? INFINITE : sim::kernel::Clock() + printsIn;
}

// A printer leaves the list; its driver stays held for a while and while a handle to it is open.
// The printer after it, as erase gives it.
std::vector<PrinterEntry>::iterator RemovePrinter(std::vector<PrinterEntry>::iterator printer) {
  Spooler& spooler = spoolerState();
  if (SameText(spooler.defaultPrinter, printer->info.name))
    spooler.defaultPrinter.clear();
  spooler.deleted.push_back(
      {printer->info.name, printer->info.driver, sim::kernel::Clock() + spooler.releaseDelay});
  return spooler.printers.erase(printer);
}

// What the spooler has done since it was last asked: the waiting jobs printed by now are gone, so
// is the job being printed once its processor let go, and with them a printer that waited for
// them to be deleted.
void Settle() {
  const DWORD now = sim::kernel::Clock();
  auto& printers = spoolerState().printers;
  for (auto printer = printers.begin(); printer != printers.end();) {
    const bool printed = !printer->paused && now >= printer->printedAt;
    const bool letGo = now >= printer->letsGoAt;
    auto& jobs = printer->jobs;
    jobs.erase(std::remove_if(jobs.begin(), jobs.end(),
                              [&](const Job& job) { return job.printing ? letGo : printed; }),
               jobs.end());
    printer = printer->pendingDeletion && jobs.empty() ? RemovePrinter(printer) : printer + 1;
  }
}

// A printer that the agent can reach by name or in an enumeration: not one pending deletion.
std::vector<PrinterEntry>::iterator FindVisiblePrinter(const std::string& name) {
  const auto found = FindPrinter(name);
  return found != spoolerState().printers.end() && found->pendingDeletion
             ? spoolerState().printers.end()
             : found;
}

void AddJob(PrinterEntry& printer, bool printing) {
  printer.jobs.push_back(Job{spoolerState().nextJob++, printing});
}

// Deletes the jobs chosen; the one being printed is only marked, and goes when it lets go.
template <class Choice>
void DeleteJobs(PrinterEntry& printer, Choice chosen) {
  for (Job& job : printer.jobs)
    if (chosen(job))
      job.deleting = true;
  auto& jobs = printer.jobs;
  jobs.erase(std::remove_if(jobs.begin(), jobs.end(),
                            [](const Job& job) { return job.deleting && !job.printing; }),
             jobs.end());
}

// The service's state now: a starting spooler runs once its time has come.
sim::spooler::Service ServiceState() {
  Spooler& spooler = spoolerState();
  if (spooler.service == sim::spooler::Service::StartPending &&
      sim::kernel::Clock() >= spooler.runningAt)
    spooler.service = sim::spooler::Service::Running;
  return spooler.service;
}

// Enter for the calls that reach the spooler: one that does not run answers none of them, as an
// injected fault with RPC_S_SERVER_UNAVAILABLE and a zero result would.
sim::detail::Hit EnterSpooler(const char* function, std::initializer_list<std::string> args) {
  sim::detail::Hit hit = sim::detail::Enter(function, args);
  if (!hit.fired && ServiceState() != sim::spooler::Service::Running) {
    SetLastError(RPC_S_SERVER_UNAVAILABLE);
    hit = sim::detail::Hit{true, 0, std::nullopt};
  }
  if (!hit.fired)
    Settle();
  return hit;
}

// A handle used after its close is the caller's fault, even where the spooler only answers
// ERROR_INVALID_HANDLE.
Handle* HandleOf(const char* function, HANDLE handle) {
  const auto id = reinterpret_cast<uintptr_t>(handle);
  auto it = spoolerState().handles.find(id);
  if (it != spoolerState().handles.end())
    return &it->second;
  if (spoolerState().closed.count(id))
    sim::detail::Misuse(std::string(function) + " on a printer handle that was already closed");
  return nullptr;
}

HANDLE NewHandle(HandleKind kind, const std::string& name, DWORD access) {
  const uintptr_t id = spoolerState().nextHandle++;
  spoolerState().handles[id] = Handle{kind, name, access};
  sim::detail::Acquire("printer handle");
  return reinterpret_cast<HANDLE>(id);
}

// The printer that a printer handle opened with `rights` names: 0 with `found` set, or the error
// the spooler answers.
DWORD PrinterOf(const char* function, HANDLE handle, DWORD rights,
                std::vector<PrinterEntry>::iterator& found) {
  const Handle* printer = HandleOf(function, handle);
  if (!printer || printer->kind != HandleKind::Printer)
    return ERROR_INVALID_HANDLE;
  if ((printer->access & rights) != rights)
    return ERROR_ACCESS_DENIED;
  found = FindPrinter(printer->name);
  return found == spoolerState().printers.end() ? ERROR_INVALID_PRINTER_NAME : 0;
}

// ",XcvMonitor Local Port" names the monitor's configuration interface; Windows also takes
// blanks after the comma.
bool IsLocalPortMonitor(const std::string& name) {
  if (name.empty() || name[0] != ',')
    return false;
  const size_t start = name.find_first_not_of(' ', 1);
  const std::string keyword = "XcvMonitor ";
  if (start == std::string::npos || name.compare(start, keyword.size(), keyword) != 0)
    return false;
  return SameText(name.substr(start + keyword.size()), "Local Port");
}

// The port name as the monitor receives it: only cbInputData bytes cross to the spooler, so a
// name whose terminator lies beyond them is no name.
bool PortNameFrom(const BYTE* input, DWORD size, std::string& name) {
  name.clear();
  if (!input)
    return false;
  for (DWORD offset = 0; offset + 1 < size; offset += 2) {
    WCHAR unit;
    memcpy(&unit, input + offset, sizeof unit);
    if (unit == 0)
      return !name.empty();
    name += unit < 0x80 ? static_cast<char>(unit) : '?';
  }
  return false;
}

std::string InputText(const BYTE* input, DWORD size) {
  std::string name;
  PortNameFrom(input, size, name);
  return name;
}

DWORD MonitorRequest(const Handle& monitor, const std::string& request, const BYTE* input,
                     DWORD size) {
  const bool isAdd = request == "AddPort";
  if (!isAdd && request != "DeletePort")
    return ERROR_INVALID_PARAMETER;
  if (!(monitor.access & SERVER_ACCESS_ADMINISTER))
    return ERROR_ACCESS_DENIED;
  std::string port;
  if (!PortNameFrom(input, size, port))
    return ERROR_INVALID_PARAMETER;
  const auto found = FindPort(port);
  const bool exists = found != spoolerState().ports.end();
  if (isAdd) {
    if (exists)
      return ERROR_ALREADY_EXISTS;
    spoolerState().ports.push_back(port);
  } else {
    if (!exists)
      return ERROR_FILE_NOT_FOUND;
    spoolerState().ports.erase(found);
  }
  return ERROR_SUCCESS;
}

// A multi-string as the spooler's client measures it before it crosses to the spooler: the
// first entry is taken whatever it holds, then entries up to an empty one. An empty list is
// therefore two NULs; after a lone NUL the spooler reads on into whatever follows.
std::vector<std::string> MultiString(const char* list) {
  std::vector<std::string> entries;
  if (!list)
    return entries;
  const char* entry = list;
  do {
    entries.push_back(entry);
    entry += strlen(entry) + 1;
  } while (*entry);
  return entries;
}

// Those bytes for the call log, "\0" for each NUL, so that "" and "\0" (one NUL and two) differ.
std::string MultiText(const char* list) {
  if (!list)
    return "NULL";
  std::string text;
  for (const std::string& entry : MultiString(list))
    text += entry + "\\0";
  return text + "\\0";
}

// The files a level-3 record names, all of which must be in the driver directory.
std::vector<std::string> DriverFiles(const DRIVER_INFO_3A& record) {
  std::vector<std::string> files = {FromAnsi(record.pDriverPath), FromAnsi(record.pDataFile),
                                    FromAnsi(record.pConfigFile)};
  if (record.pHelpFile && *record.pHelpFile)
    files.push_back(FromAnsi(record.pHelpFile));
  for (const std::string& dependent : MultiString(record.pDependentFiles))
    if (!dependent.empty())
      files.push_back(FromAnsi(dependent.c_str()));
  return files;
}

std::string FileName(const std::string& path) {
  return path.substr(path.find_last_of('\\') + 1);
}

// A bare name lies in the driver directory; the spooler also takes a full path.
std::string SourceOf(const std::string& file, const std::string& directory) {
  return file.find('\\') == std::string::npos ? directory + "\\" + file : file;
}

// The spooler places a new driver's files in the version directory, replacing older copies.
DWORD InstallDriverFiles(const std::vector<std::string>& files, const std::string& directory) {
  for (const std::string& file : files)
    if (!sim::files::Contents(SourceOf(file, directory)))
      return ERROR_FILE_NOT_FOUND;
  for (const std::string& file : files) {
    const std::string source = SourceOf(file, directory);
    const std::string target = directory + "\\3\\" + FileName(file);
    sim::files::AddFile(target, *sim::files::Contents(source), sim::files::Attributes(source));
  }
  return ERROR_SUCCESS;
}

DWORD AddDriverRecord(const DRIVER_INFO_3A& record) {
  if (!sim::settings().administrator)
    return ERROR_ACCESS_DENIED;
  if (!record.pName || !*record.pName || !record.pDriverPath || !record.pDataFile ||
      !record.pConfigFile)
    return ERROR_INVALID_PARAMETER;
  const std::string environment =
      record.pEnvironment ? FromAnsi(record.pEnvironment) : OwnEnvironment();
  const std::string directory = KnownDirectory(environment);
  if (directory.empty())
    return ERROR_INVALID_ENVIRONMENT;
  const std::vector<std::string> files = DriverFiles(record);
  if (const DWORD error = InstallDriverFiles(files, directory))
    return error;
  const std::string name = FromAnsi(record.pName);
  auto existing = FindDriver(name, environment);
  if (existing != spoolerState().drivers.end())
    spoolerState().drivers.erase(existing);  // a driver added again is replaced
  spoolerState().drivers.push_back(sim::spooler::Driver{name, environment, 3, FileName(files[0]),
                                                        FileName(files[1]), FileName(files[2])});
  return ERROR_SUCCESS;
}

bool KnownDatatype(const char* datatype) {
  if (!datatype)
    return true;
  for (const char* known : {"RAW", "RAW [FF appended]", "RAW [FF auto]", "NT EMF 1.008", "TEXT"})
    if (SameText(datatype, known))
      return true;
  return false;
}

DWORD AddPrinterRecord(const PRINTER_INFO_2A& record) {
  if (!sim::settings().administrator)
    return ERROR_ACCESS_DENIED;
  const std::string name = FromAnsi(record.pPrinterName);
  if (name.empty() || name.find_first_of(",\\") != std::string::npos)
    return ERROR_INVALID_PRINTER_NAME;
  if (!record.pPortName || !record.pDriverName || !record.pPrintProcessor)
    return ERROR_INVALID_PARAMETER;
  const std::string port = FromAnsi(record.pPortName);
  const std::string driver = FromAnsi(record.pDriverName);
  if (FindPrinter(name) != spoolerState().printers.end())
    return ERROR_PRINTER_ALREADY_EXISTS;
  if (FindPort(port) == spoolerState().ports.end())
    return ERROR_UNKNOWN_PORT;
  if (FindDriver(driver, NativeEnvironment()) == spoolerState().drivers.end())
    return ERROR_UNKNOWN_PRINTER_DRIVER;
  if (!SameText(record.pPrintProcessor, "WinPrint"))
    return kUnknownPrintProcessor;
  if (!KnownDatatype(record.pDatatype))
    return kInvalidDatatype;
  PrinterEntry entry;
  entry.info = {name, port, driver};
  entry.processor = record.pPrintProcessor;
  entry.datatype = record.pDatatype ? record.pDatatype : "RAW";
  spoolerState().printers.push_back(entry);
  return ERROR_SUCCESS;
}

// Level-2 records at the start of the block, their strings packed from its end, as Windows
// lays them out.
DWORD RecordBytes(const PrinterEntry& entry) {
  DWORD bytes = sizeof(PRINTER_INFO_2A);
  const std::string* texts[] = {&entry.info.name, &entry.info.port, &entry.info.driver,
                                &entry.processor, &entry.datatype};
  for (size_t i = 0; i < 5; ++i)
    if (!(entry.withoutNames && (i == 0 || i == 2)))
      bytes += static_cast<DWORD>(ToAnsi(*texts[i]).size() + 1);
  return bytes + 4;  // comment, location, separator file and parameters: each ""
}

char* Pack(BYTE*& end, const std::string& text) {
  const std::string ansi = ToAnsi(text);
  end -= ansi.size() + 1;
  memcpy(end, ansi.c_str(), ansi.size() + 1);
  return reinterpret_cast<char*>(end);
}

void WriteRecord(const PrinterEntry& entry, PRINTER_INFO_2A& record, BYTE*& end) {
  memset(&record, 0, sizeof record);
  record.pPrinterName = entry.withoutNames ? nullptr : Pack(end, entry.info.name);
  record.pPortName = Pack(end, entry.info.port);
  record.pDriverName = entry.withoutNames ? nullptr : Pack(end, entry.info.driver);
  record.pComment = Pack(end, "");
  record.pLocation = Pack(end, "");
  record.pSepFile = Pack(end, "");
  record.pPrintProcessor = Pack(end, entry.processor);
  record.pDatatype = Pack(end, entry.datatype);
  record.pParameters = Pack(end, "");
  record.Attributes = PRINTER_ATTRIBUTE_LOCAL;
  record.Status = (entry.paused ? PRINTER_STATUS_PAUSED : 0) |
                  (entry.pendingDeletion ? PRINTER_STATUS_PENDING_DELETION : 0);
  record.cJobs = static_cast<DWORD>(entry.jobs.size());
}

}  // namespace

namespace sim::detail {
void EndProcessSpooler() {
  spoolerState().handles.clear();
  spoolerState().serviceHandles.clear();
}

void ResetSpooler() {
  spoolerState() = Spooler{};
  sim::spooler::SetDriverDirectory("Windows NT x86",
                                   "C:\\Windows\\system32\\spool\\drivers\\w32x86");
  sim::spooler::SetDriverDirectory("Windows x64", "C:\\Windows\\system32\\spool\\drivers\\x64");
  sim::spooler::SetDriverDirectory("Windows ARM64", "C:\\Windows\\system32\\spool\\drivers\\arm64");
  spoolerState().ports = {"LPT1:", "FILE:"};
}
}  // namespace sim::detail

namespace sim::spooler {

void SetDriverDirectory(const std::string& environment, const std::string& directory) {
  spoolerState().driverDirectories[detail::Lower(environment)] = directory;
  if (!directory.empty() && directory.size() < MAX_PATH)
    files::AddDirectory(directory + "\\3");
}

std::string DriverDirectory(const std::string& environment) {
  auto it = spoolerState().driverDirectories.find(detail::Lower(environment));
  return it == spoolerState().driverDirectories.end() ? "" : it->second;
}

void AddPort(const std::string& name) {
  if (!HasPort(name))
    spoolerState().ports.push_back(name);
}

bool HasPort(const std::string& name) {
  return FindPort(name) != spoolerState().ports.end();
}

std::vector<std::string> Ports() {
  return spoolerState().ports;
}

void AddDriver(const std::string& name, const std::string& environment) {
  if (!HasDriver(name, environment))
    spoolerState().drivers.push_back(Driver{name, environment, 3, "", "", ""});
}

bool HasDriver(const std::string& name, const std::string& environment) {
  return FindDriver(name, environment) != spoolerState().drivers.end();
}

std::vector<Driver> Drivers() {
  return spoolerState().drivers;
}

void AddPrinter(const std::string& name, const std::string& port, const std::string& driver) {
  PrinterEntry entry;
  entry.info = {name, port, driver};
  spoolerState().printers.push_back(entry);
}

bool HasPrinter(const std::string& name) {
  Settle();
  return FindPrinter(name) != spoolerState().printers.end();
}

std::vector<Printer> Printers() {
  Settle();
  std::vector<Printer> printers;
  for (const PrinterEntry& entry : spoolerState().printers)
    printers.push_back(entry.info);
  return printers;
}

void ReportWithoutNames(const std::string& printer) {
  auto found = FindPrinter(printer);
  if (found != spoolerState().printers.end())
    found->withoutNames = true;
}

void AddJobs(const std::string& printer, DWORD count, DWORD printsIn) {
  auto found = FindPrinter(printer);
  if (found == spoolerState().printers.end())
    return;
  for (DWORD i = 0; i < count; ++i)
    AddJob(*found, false);
  found->printsIn = printsIn;
  found->printedAt = PrintedAt(printsIn);
}

void AddPrintingJob(const std::string& printer, DWORD letsGoIn) {
  auto found = FindPrinter(printer);
  if (found == spoolerState().printers.end())
    return;
  AddJob(*found, true);
  found->letsGoAt = PrintedAt(letsGoIn);
}

void LetGo(const std::string& printer) {
  auto found = FindPrinter(printer);
  if (found != spoolerState().printers.end())
    found->letsGoAt = sim::kernel::Clock();
}

bool IsPendingDeletion(const std::string& printer) {
  Settle();
  const auto found = FindPrinter(printer);
  return found != spoolerState().printers.end() && found->pendingDeletion;
}

void Pause(const std::string& printer) {
  auto found = FindPrinter(printer);
  if (found != spoolerState().printers.end())
    found->paused = true;
}

std::string DefaultPrinter() {
  return spoolerState().defaultPrinter;
}

void SetDefault(const std::string& printer) {
  spoolerState().defaultPrinter = printer;
}

void SetDriverRelease(DWORD milliseconds) {
  spoolerState().releaseDelay = milliseconds;
}

void HoldOpen(const std::string& printer, bool held) {
  if (held)
    spoolerState().heldByOthers.insert(detail::Lower(printer));
  else
    spoolerState().heldByOthers.erase(detail::Lower(printer));
}

void SetService(Service state, DWORD milliseconds) {
  spoolerState().service = state;
  spoolerState().runningAt = sim::kernel::Clock() + milliseconds;
}

void Stop() {
  SetService(Service::Stopped);
}

std::string Dump() {
  Settle();
  const Spooler& spooler = spoolerState();
  std::string out;
  for (const std::string& port : spooler.ports)
    out += "port " + port + "\n";
  for (const Driver& driver : spooler.drivers)
    out += "driver " + driver.name + " for " + driver.environment + ": " + driver.driverPath +
           ", " + driver.dataFile + ", " + driver.configFile + "\n";
  for (const PrinterEntry& entry : spooler.printers)
    out += "printer " + entry.info.name + " on " + entry.info.port + " with " + entry.info.driver +
           ", " + entry.processor + ", " + entry.datatype +
           (entry.jobs.empty() ? "" : ", " + std::to_string(entry.jobs.size()) + " jobs") +
           (entry.paused ? ", paused" : "") + (entry.pendingDeletion ? ", pending deletion" : "") +
           "\n";
  return out + "default printer " + spooler.defaultPrinter + "\n";
}

}  // namespace sim::spooler

using namespace sim::detail;

namespace {

// The call log shows the records field by field, so that tests see "" apart from NULL.
Hit EnterAddPrinterDriver(LPSTR server, DWORD level, const DRIVER_INFO_3A* record) {
  if (!record)
    return EnterSpooler("AddPrinterDriverA", {Str(server), Num(level)});
  return EnterSpooler(
      "AddPrinterDriverA",
      {Str(server), Num(level), Num(record->cVersion), Str(record->pName),
       Str(record->pEnvironment), Str(record->pDriverPath), Str(record->pDataFile),
       Str(record->pConfigFile), Str(record->pHelpFile), MultiText(record->pDependentFiles),
       Str(record->pMonitorName), Str(record->pDefaultDataType)});
}

std::string Pointer(const void* pointer) {
  return pointer ? "set" : "NULL";
}

Hit EnterAddPrinter(LPSTR server, DWORD level, const PRINTER_INFO_2A* record) {
  if (!record)
    return EnterSpooler("AddPrinterA", {Str(server), Num(level)});
  const PRINTER_INFO_2A& r = *record;
  return EnterSpooler("AddPrinterA",
                      {Str(server),         Num(level),         Str(r.pServerName),
                       Str(r.pPrinterName), Str(r.pShareName),  Str(r.pPortName),
                       Str(r.pDriverName),  Str(r.pComment),    Str(r.pLocation),
                       Pointer(r.pDevMode), Str(r.pSepFile),    Str(r.pPrintProcessor),
                       Str(r.pDatatype),    Str(r.pParameters), Pointer(r.pSecurityDescriptor),
                       Hex(r.Attributes),   Num(r.Priority),    Num(r.DefaultPriority),
                       Num(r.StartTime),    Num(r.UntilTime),   Num(r.Status),
                       Num(r.cJobs),        Num(r.AveragePPM)});
}

}  // namespace

extern "C" {

BOOL WINAPI GetPrinterDriverDirectoryA(LPSTR server, LPSTR environment, DWORD level, LPBYTE buffer,
                                       DWORD size, LPDWORD needed) {
  const Hit hit = EnterSpooler("GetPrinterDriverDirectoryA",
                               {Str(server), Str(environment), Num(level), Num(size)});
  if (hit.fired)
    return static_cast<BOOL>(hit.result);
  if (level != 1)
    return Failed(kInvalidLevel);
  const std::string directory =
      ToAnsi(KnownDirectory(environment ? FromAnsi(environment) : OwnEnvironment()));
  if (directory.empty())
    return Failed(ERROR_INVALID_ENVIRONMENT);
  const DWORD bytes = static_cast<DWORD>(directory.size() + 1);
  if (needed)
    *needed = bytes;
  if (!buffer || size < bytes)
    return Failed(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(buffer, directory.c_str(), bytes);
  return TRUE;
}

BOOL WINAPI OpenPrinterA(LPSTR name, LPHANDLE handle, LPPRINTER_DEFAULTSA defaults) {
  const Hit hit =
      EnterSpooler("OpenPrinterA", {Str(name), defaults ? Hex(defaults->DesiredAccess) : "NULL"});
  if (hit.fired)
    return static_cast<BOOL>(hit.result);
  if (!handle)
    return Failed(ERROR_INVALID_PARAMETER);
  *handle = nullptr;
  const DWORD asked = defaults ? defaults->DesiredAccess : 0;
  if ((asked & kAdministrativeRights) && !sim::settings().administrator)
    return Failed(ERROR_ACCESS_DENIED);
  if (!name) {
    *handle = NewHandle(HandleKind::Server, "", asked ? asked : kServerAccessEnumerate);
    return TRUE;
  }
  if (IsLocalPortMonitor(FromAnsi(name))) {
    *handle = NewHandle(HandleKind::Monitor, "Local Port", asked);
    return TRUE;
  }
  const auto printer = FindVisiblePrinter(FromAnsi(name));
  if (printer == spoolerState().printers.end())
    return Failed(ERROR_INVALID_PRINTER_NAME);
  *handle = NewHandle(HandleKind::Printer, printer->info.name, asked ? asked : kPrinterAccessUse);
  return TRUE;
}

BOOL WINAPI ClosePrinter(HANDLE handle) {
  const Hit hit = Enter("ClosePrinter", {Hex(reinterpret_cast<uintptr_t>(handle))});
  if (hit.fired)
    return static_cast<BOOL>(hit.result);
  const auto id = reinterpret_cast<uintptr_t>(handle);
  if (!spoolerState().handles.erase(id)) {
    Misuse("ClosePrinter of a handle that is not open");
    return Failed(ERROR_INVALID_HANDLE);
  }
  spoolerState().closed.insert(id);
  Release("printer handle");
  return TRUE;
}

BOOL WINAPI XcvDataW(HANDLE handle, PCWSTR dataName, PBYTE input, DWORD inputSize, PBYTE,
                     DWORD outputSize, PDWORD outputNeeded, PDWORD status) {
  const Hit hit = EnterSpooler(
      "XcvDataW", {Str(dataName), InputText(input, inputSize), Num(inputSize), Num(outputSize)});
  if (hit.fired) {
    if (hit.status && status)
      *status = *hit.status;
    return static_cast<BOOL>(hit.result);
  }
  // NT 4 and the 9x family have no XcvDataW: the agent's binding fails the call there.
  if (!ExistsOnThisVersion("XcvDataW"))
    return Failed(ERROR_PROC_NOT_FOUND);
  const Handle* monitor = HandleOf("XcvDataW", handle);
  if (!monitor || monitor->kind != HandleKind::Monitor)
    return Failed(ERROR_INVALID_HANDLE);
  if (!status || !dataName)
    return Failed(ERROR_INVALID_PARAMETER);
  if (outputNeeded)
    *outputNeeded = 0;
  *status = MonitorRequest(*monitor, Str(dataName), input, inputSize);
  return TRUE;
}

BOOL WINAPI AddPrinterDriverA(LPSTR server, DWORD level, LPBYTE info) {
  const auto* record = reinterpret_cast<const DRIVER_INFO_3A*>(info);
  const bool readable = level == 3 && record;
  const Hit hit = EnterAddPrinterDriver(server, level, readable ? record : nullptr);
  if (hit.fired)
    return static_cast<BOOL>(hit.result);
  if (!readable)
    return Failed(record ? kInvalidLevel : ERROR_INVALID_PARAMETER);
  if (const DWORD error = AddDriverRecord(*record))
    return Failed(error);
  return TRUE;
}

HANDLE WINAPI AddPrinterA(LPSTR server, DWORD level, LPBYTE info) {
  const auto* record = reinterpret_cast<const PRINTER_INFO_2A*>(info);
  const bool readable = level == 2 && record;
  const Hit hit = EnterAddPrinter(server, level, readable ? record : nullptr);
  if (hit.fired)
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(hit.result));
  if (!readable) {
    SetLastError(record ? kInvalidLevel : ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (const DWORD error = AddPrinterRecord(*record)) {
    SetLastError(error);
    return nullptr;
  }
  return NewHandle(HandleKind::Printer, record->pPrinterName, PRINTER_ALL_ACCESS);
}

// As Windows answers in ReactOS's EnumPrinters conformance test: an unknown level leaves both
// counts alone; no block with a size too small for the records is ERROR_INSUFFICIENT_BUFFER with
// the size needed; no block with a size that would fit is ERROR_INVALID_USER_BUFFER with 0.
BOOL WINAPI EnumPrintersA(DWORD flags, LPSTR name, DWORD level, LPBYTE block, DWORD size,
                          LPDWORD needed, LPDWORD returned) {
  const Hit hit = EnterSpooler("EnumPrintersA", {Hex(flags), Str(name), Num(level), Num(size)});
  if (hit.fired)
    return static_cast<BOOL>(hit.result);
  if (!needed || !returned)
    return Failed(kNullReference);
  if (level != 2)
    return Failed(kInvalidLevel);
  *returned = 0;
  std::vector<const PrinterEntry*> printers;
  if (flags & PRINTER_ENUM_LOCAL)
    for (const PrinterEntry& entry : spoolerState().printers)
      if (!entry.pendingDeletion)
        printers.push_back(&entry);
  DWORD bytes = 0;
  for (const PrinterEntry* entry : printers)
    bytes += RecordBytes(*entry);
  *needed = block || bytes > size ? bytes : 0;
  if (bytes > size)
    return Failed(ERROR_INSUFFICIENT_BUFFER);
  if (!block && size)
    return Failed(kInvalidUserBuffer);
  if (!bytes)
    return TRUE;
  auto* records = reinterpret_cast<PRINTER_INFO_2A*>(block);
  BYTE* end = block + size;
  for (size_t i = 0; i < printers.size(); ++i)
    WriteRecord(*printers[i], records[i], end);
  *returned = static_cast<DWORD>(printers.size());
  return TRUE;
}

BOOL WINAPI DeletePrinter(HANDLE handle) {
  const Hit hit = EnterSpooler("DeletePrinter", {Hex(reinterpret_cast<uintptr_t>(handle))});
  if (hit.fired)
    return static_cast<BOOL>(hit.result);
  std::vector<PrinterEntry>::iterator found;
  if (const DWORD error = PrinterOf("DeletePrinter", handle, DELETE, found))
    return Failed(error);
  // A paused printer with jobs is refused; one with jobs goes once they are printed or deleted.
  if (found->paused && !found->jobs.empty())
    return Failed(ERROR_ACCESS_DENIED);
  if (found->jobs.empty())
    RemovePrinter(found);
  else
    found->pendingDeletion = true;
  return TRUE;
}

// Level 0 with a command only: pause, resume or purge.
BOOL WINAPI SetPrinterA(HANDLE handle, DWORD level, LPBYTE data, DWORD command) {
  const Hit hit = EnterSpooler("SetPrinterA", {Hex(reinterpret_cast<uintptr_t>(handle)), Num(level),
                                               data ? "set" : "NULL", Num(command)});
  if (hit.fired)
    return static_cast<BOOL>(hit.result);
  if (level != 0 || data || command < PRINTER_CONTROL_PAUSE || command > PRINTER_CONTROL_PURGE) {
    Misuse("SetPrinterA is simulated only for a pause, a resume or a purge");
    return Failed(ERROR_INVALID_PARAMETER);
  }
  std::vector<PrinterEntry>::iterator found;
  if (const DWORD error = PrinterOf("SetPrinterA", handle, kPrinterAccessAdminister, found))
    return Failed(error);
  if (command == PRINTER_CONTROL_PURGE) {
    DeleteJobs(*found, [](const Job&) { return true; });
  } else {
    found->paused = command == PRINTER_CONTROL_PAUSE;
    found->printedAt = PrintedAt(found->printsIn);
  }
  Settle();
  return TRUE;
}

// Level 1 only: the records first, their strings packed at the end of the block. An empty queue,
// or a first job beyond the last, enumerates nothing, with 0 bytes needed.
BOOL WINAPI EnumJobsA(HANDLE handle, DWORD first, DWORD count, DWORD level, LPBYTE block,
                      DWORD size, LPDWORD needed, LPDWORD returned) {
  const Hit hit = EnterSpooler("EnumJobsA", {Hex(reinterpret_cast<uintptr_t>(handle)), Num(first),
                                             Num(count), Num(level), Num(size)});
  if (hit.fired)
    return static_cast<BOOL>(hit.result);
  if (!needed || !returned)
    return Failed(kNullReference);
  std::vector<PrinterEntry>::iterator found;
  if (const DWORD error = PrinterOf("EnumJobsA", handle, 0, found))
    return Failed(error);
  if (level != 1)
    return Failed(kInvalidLevel);
  *returned = 0;
  std::vector<Job> listed;
  for (size_t i = first; i < found->jobs.size() && listed.size() < count; ++i)
    listed.push_back(found->jobs[i]);
  const std::string printerName = ToAnsi(found->info.name);
  const DWORD each = static_cast<DWORD>(sizeof(JOB_INFO_1A) + printerName.size() + 1);
  *needed = each * static_cast<DWORD>(listed.size());
  if (*needed > size || (*needed && !block))
    return Failed(ERROR_INSUFFICIENT_BUFFER);
  auto* records = reinterpret_cast<JOB_INFO_1A*>(block);
  BYTE* end = block + size;
  for (size_t i = 0; i < listed.size(); ++i) {
    memset(&records[i], 0, sizeof records[i]);
    records[i].JobId = listed[i].id;
    records[i].pPrinterName = Pack(end, found->info.name);
    records[i].Status = (listed[i].printing ? JOB_STATUS_PRINTING : 0) |
                        (listed[i].deleting ? JOB_STATUS_DELETING : 0);
    records[i].Position = static_cast<DWORD>(first + i + 1);
  }
  *returned = static_cast<DWORD>(listed.size());
  return TRUE;
}

// JOB_CONTROL_DELETE only, which needs the right to administer the printer's jobs.
BOOL WINAPI SetJobA(HANDLE handle, DWORD id, DWORD level, LPBYTE data, DWORD command) {
  const Hit hit = EnterSpooler("SetJobA", {Hex(reinterpret_cast<uintptr_t>(handle)), Num(id),
                                           Num(level), data ? "set" : "NULL", Num(command)});
  if (hit.fired)
    return static_cast<BOOL>(hit.result);
  if (level != 0 || data || command != JOB_CONTROL_DELETE) {
    Misuse("SetJobA is simulated only for deleting a job");
    return Failed(ERROR_INVALID_PARAMETER);
  }
  std::vector<PrinterEntry>::iterator found;
  if (const DWORD error = PrinterOf("SetJobA", handle, kPrinterAccessAdminister, found))
    return Failed(error);
  const auto job = std::find_if(found->jobs.begin(), found->jobs.end(),
                                [&](const Job& queued) { return queued.id == id; });
  if (job == found->jobs.end())
    return Failed(ERROR_INVALID_PARAMETER);
  DeleteJobs(*found, [&](const Job& queued) { return queued.id == id; });
  Settle();
  return TRUE;
}

BOOL WINAPI DeletePrinterDriverA(LPSTR server, LPSTR environment, LPSTR driver) {
  const Hit hit =
      EnterSpooler("DeletePrinterDriverA", {Str(server), Str(environment), Str(driver)});
  if (hit.fired)
    return static_cast<BOOL>(hit.result);
  if (!sim::settings().administrator)
    return Failed(ERROR_ACCESS_DENIED);
  if (!driver)
    return Failed(ERROR_INVALID_PARAMETER);
  // NULL is the environment of the calling program, never that of the spooler.
  const std::string chosen = environment ? FromAnsi(environment) : OwnEnvironment();
  if (KnownDirectory(chosen).empty())
    return Failed(ERROR_INVALID_ENVIRONMENT);
  const auto found = FindDriver(FromAnsi(driver), chosen);
  if (found == spoolerState().drivers.end())
    return Failed(ERROR_UNKNOWN_PRINTER_DRIVER);
  // Printers use the drivers of the spooler's own environment only.
  if (SameText(chosen, NativeEnvironment()) && DriverInUse(FromAnsi(driver)))
    return Failed(ERROR_PRINTER_DRIVER_IN_USE);
  spoolerState().drivers.erase(found);
  return TRUE;
}

// Level 1 only: the driver names of one environment (NULL: the caller's own), records first and
// their names packed at the end of the block.
BOOL WINAPI EnumPrinterDriversA(LPSTR server, LPSTR environment, DWORD level, LPBYTE block,
                                DWORD size, LPDWORD needed, LPDWORD returned) {
  const Hit hit =
      EnterSpooler("EnumPrinterDriversA", {Str(server), Str(environment), Num(level), Num(size)});
  if (hit.fired)
    return static_cast<BOOL>(hit.result);
  if (!needed || !returned)
    return Failed(kNullReference);
  *returned = 0;
  if (level != 1)
    return Failed(kInvalidLevel);
  const std::string chosen = environment ? FromAnsi(environment) : OwnEnvironment();
  if (KnownDirectory(chosen).empty())
    return Failed(ERROR_INVALID_ENVIRONMENT);
  std::vector<std::string> listed;
  DWORD bytes = 0;
  for (const sim::spooler::Driver& driver : spoolerState().drivers)
    if (SameText(driver.environment, chosen)) {
      listed.push_back(ToAnsi(driver.name));
      bytes += static_cast<DWORD>(sizeof(DRIVER_INFO_1A) + listed.back().size() + 1);
    }
  *needed = bytes;
  if (bytes > size || (bytes && !block))
    return Failed(ERROR_INSUFFICIENT_BUFFER);
  auto* records = reinterpret_cast<DRIVER_INFO_1A*>(block);
  BYTE* end = block + size;
  for (size_t i = 0; i < listed.size(); ++i) {
    end -= listed[i].size() + 1;
    memcpy(end, listed[i].c_str(), listed[i].size() + 1);
    records[i].pName = reinterpret_cast<LPSTR>(end);
  }
  *returned = static_cast<DWORD>(listed.size());
  return TRUE;
}

// The Service Control Manager, as far as the spooler's state goes: the manager and the "Spooler"
// service can be opened and queried. Not on the 95/98/Me family, which has none.
static SC_HANDLE NewServiceHandle() {
  const uintptr_t id = spoolerState().nextServiceHandle++;
  spoolerState().serviceHandles.insert(id);
  Acquire("service handle");
  return reinterpret_cast<SC_HANDLE>(id);
}

SC_HANDLE WINAPI SimOpenSCManagerA(LPCSTR machine, LPCSTR database, DWORD access) {
  if (Enter("OpenSCManagerA", {Str(machine), Str(database), Hex(access)}).fired)
    return nullptr;
  if (machine || database || access != SC_MANAGER_CONNECT)
    Misuse("OpenSCManagerA is simulated for the local manager and SC_MANAGER_CONNECT only");
  return NewServiceHandle();
}

SC_HANDLE WINAPI SimOpenServiceA(SC_HANDLE manager, LPCSTR name, DWORD access) {
  if (Enter("OpenServiceA", {Str(name), Hex(access)}).fired)
    return nullptr;
  if (!spoolerState().serviceHandles.count(reinterpret_cast<uintptr_t>(manager))) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (!name || !SameText(name, "Spooler")) {
    SetLastError(1060);  // ERROR_SERVICE_DOES_NOT_EXIST
    return nullptr;
  }
  if (access != SERVICE_QUERY_STATUS)
    Misuse("OpenServiceA is simulated for SERVICE_QUERY_STATUS only");
  return NewServiceHandle();
}

BOOL WINAPI SimQueryServiceStatus(SC_HANDLE service, LPSERVICE_STATUS status) {
  if (Enter("QueryServiceStatus", {Hex(reinterpret_cast<uintptr_t>(service))}).fired)
    return FALSE;
  if (!spoolerState().serviceHandles.count(reinterpret_cast<uintptr_t>(service)) || !status)
    return Failed(status ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER);
  using sim::spooler::Service;
  memset(status, 0, sizeof *status);
  status->dwServiceType = 0x10;  // SERVICE_WIN32_OWN_PROCESS
  switch (ServiceState()) {
    case Service::Running:
      status->dwCurrentState = SERVICE_RUNNING;
      break;
    case Service::StartPending:
      status->dwCurrentState = SERVICE_START_PENDING;
      break;
    case Service::StopPending:
      status->dwCurrentState = SERVICE_STOP_PENDING;
      break;
    case Service::Stopped:
    case Service::Disabled:
      status->dwCurrentState = SERVICE_STOPPED;
      break;
  }
  return TRUE;
}

BOOL WINAPI SimCloseServiceHandle(SC_HANDLE handle) {
  if (Enter("CloseServiceHandle", {Hex(reinterpret_cast<uintptr_t>(handle))}).fired)
    return FALSE;
  if (!spoolerState().serviceHandles.erase(reinterpret_cast<uintptr_t>(handle))) {
    Misuse("CloseServiceHandle of a handle that is not open");
    return Failed(ERROR_INVALID_HANDLE);
  }
  Release("service handle");
  return TRUE;
}

BOOL WINAPI SimSetDefaultPrinterA(LPCSTR printer) {
  const Hit hit = EnterSpooler("SetDefaultPrinterA", {Str(printer)});
  if (hit.fired)
    return static_cast<BOOL>(hit.result);
  const auto& printers = spoolerState().printers;
  if (!printer || !*printer) {
    // No name keeps the default, or makes the first printer the default when there is none.
    if (spoolerState().defaultPrinter.empty() && !printers.empty())
      spoolerState().defaultPrinter = printers.front().info.name;
    return TRUE;
  }
  const auto found = FindVisiblePrinter(FromAnsi(printer));
  if (found == printers.end())
    return Failed(ERROR_INVALID_PRINTER_NAME);
  spoolerState().defaultPrinter = found->info.name;
  return TRUE;
}

}  // extern "C"
