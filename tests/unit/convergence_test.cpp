// Every run converges. Whatever came before (nothing, a complete run, a run that stopped at a
// step, a run killed at any call), the next /Install on a machine with the product's files
// completes, and the next /Uninstall leaves the machine as one uninterrupted install and uninstall
// leave it: registry, files and spooler alike.
#include "common/names.h"
#include "com.h"
#include "files.h"
#include "fixture.h"
#include "product_files.h"
#include "registry.h"
#include "spooler.h"

#include <set>
#include <sstream>

namespace {

using sim::reg::View;

constexpr char kInstallDir[] = "C:\\Program Files\\Tessix Tembrin\\";
constexpr char kOwnClass[] = "TessixTembrin.Document";
constexpr char kPdfClassKey[] = "Software\\Classes\\.pdf";
constexpr char kPdfMimeKey[] = "Software\\Classes\\MIME\\Database\\Content Type\\application/pdf";
constexpr char kUserPdfKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.pdf";
constexpr char kAddinKey[] = "Software\\Classes\\CLSID\\{0ADD1A11-7E2D-4B5C-9A31-5E6F70819203}";

// The add-in registers itself as a COM server does: through the registry, from inside the
// agent's process, so that a kill can stop it halfway as well.
HRESULT RegisterAddin() {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kAddinKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    return E_FAIL;
  RegSetValueExA(key, "", 0, REG_SZ, reinterpret_cast<const BYTE*>("Word add-in"), 12);
  RegCloseKey(key);
  return S_OK;
}

HRESULT UnregisterAddin() {
  const LSTATUS status = RegDeleteKeyA(HKEY_LOCAL_MACHINE, kAddinKey);
  return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND ? S_OK : E_FAIL;
}

struct Machine {
  bool wow64;
  DWORD fileAttributes;  // of the product's files as the installer places them
};
constexpr DWORD kReadOnly = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE;
constexpr Machine kMachines[] = {{false, FILE_ATTRIBUTE_ARCHIVE},
                                 {true, FILE_ATTRIBUTE_ARCHIVE},
                                 {false, kReadOnly},
                                 {true, kReadOnly}};

std::string Describe(const Machine& machine) {
  return std::string(machine.wow64 ? "64" : "32") + "-bit Windows" +
         (machine.fileAttributes & FILE_ATTRIBUTE_READONLY ? ", read-only files" : "");
}

class Convergence : public SimTest {
 protected:
  // A Windows on which the application was never installed, with another program's PDF
  // association.
  void NewMachine(const Machine& machine) {
    SetUp();
    machine_ = machine;
    sim::settings().wow64 = machine.wow64;
    sim::reg::SetString(HKEY_LOCAL_MACHINE, kPdfClassKey, "", "AcroExch.Document");
    sim::reg::SetString(HKEY_LOCAL_MACHINE, kPdfMimeKey, "CLSID",
                        "{B801CA65-A1FC-11D0-85AD-444553540000}");
    sim::reg::SetString(HKEY_CURRENT_USER, kUserPdfKey, "Progid", "AcroExch.Document.DC");
    sim::com::AddServer(std::string(kInstallDir) + "qlc_wordaddin.dll", RegisterAddin,
                        UnregisterAddin);
    SeedSystemLibrarySources();
  }

  // The application's installer before it runs /Install, as on a first install or a repair: its
  // files and "InstallPath", and the PDF association taken over, the one it replaces saved once.
  void RunInstaller() const {
    SeedProductFiles(kInstallDir, machine_.fileAttributes);
    sim::reg::SetString(HKEY_LOCAL_MACHINE, kProductKey, "InstallPath", kInstallDir, View::Native);
    if (!sim::reg::GetValue(HKEY_LOCAL_MACHINE, kProductKey, "strdocument", View::Native)) {
      Save("strdocument", HKEY_LOCAL_MACHINE, kPdfClassKey, "");
      Save("strCLSID", HKEY_LOCAL_MACHINE, kPdfMimeKey, "CLSID");
      Save("strProgid", HKEY_CURRENT_USER, kUserPdfKey, "Progid");
    }
    sim::reg::SetString(HKEY_LOCAL_MACHINE, kPdfClassKey, "", kOwnClass);
    sim::reg::SetString(HKEY_LOCAL_MACHINE, kPdfMimeKey, "CLSID",
                        "{C2A97E41-0B6D-4F38-8E15-6D4C2B9A7F03}");
    sim::reg::SetString(HKEY_CURRENT_USER, kUserPdfKey, "Progid", kOwnClass);
    sim::reg::SetString(HKEY_LOCAL_MACHINE, std::string("Software\\Classes\\") + kOwnClass, "",
                        "Tessix Tembrin Document");
  }

  static void Save(const char* saved, HKEY root, const char* key, const char* name) {
    sim::reg::SetString(HKEY_LOCAL_MACHINE, kProductKey, saved,
                        sim::reg::GetString(root, key, name).value_or(""), View::Native);
  }

  // The registry, the files and the spooler, a line each key, value, file and spooler object.
  static std::string MachineState() {
    auto prefixed = [](const char* prefix, const std::string& text) {
      std::string out;
      std::istringstream stream(text);
      for (std::string line; std::getline(stream, line);)
        out += prefix + line + "\n";
      return out;
    };
    return prefixed("HKLM ", sim::reg::Dump(HKEY_LOCAL_MACHINE)) +
           prefixed("HKCU ", sim::reg::Dump(HKEY_CURRENT_USER)) + prefixed("", sim::files::Dump()) +
           prefixed("", sim::spooler::Dump());
  }

  // The lines of `actual` that `expected` lacks ("+ ") and the other way round ("- "): "" when
  // the two machines ended alike.
  static std::string Difference(const std::string& actual, const std::string& expected) {
    auto lines = [](const std::string& text) {
      std::multiset<std::string> found;
      std::istringstream stream(text);
      for (std::string line; std::getline(stream, line);)
        found.insert(line);
      return found;
    };
    const std::multiset<std::string> a = lines(actual), e = lines(expected);
    std::string difference;
    for (const std::string& line : a)
      if (a.count(line) > e.count(line))
        difference += "+ " + line + "\n";
    for (const std::string& line : e)
      if (e.count(line) > a.count(line))
        difference += "- " + line + "\n";
    return difference;
  }

  static bool InstalledCompletely() {
    return sim::spooler::HasPrinter(kPrinterName) &&
           sim::reg::KeyExists(HKEY_LOCAL_MACHINE, kAddinKey) &&
           sim::reg::GetString(HKEY_LOCAL_MACHINE, kProductKey, "Version") == "2.0.0.0424";
  }

  // A machine the installer has prepared for `command`: for the uninstall, with the product
  // installed.
  void Prepare(const Machine& machine, const std::string& command) {
    NewMachine(machine);
    RunInstaller();
    if (command == "/Uninstall")
      RunAgent("/Install");
  }

  // What one uninterrupted install and uninstall leave, and what the install alone leaves.
  std::string EndState(const Machine& machine) {
    Prepare(machine, "/Uninstall");
    RunAgent("/Uninstall");
    return MachineState();
  }
  std::string InstalledState(const Machine& machine) {
    Prepare(machine, "/Uninstall");
    return MachineState();
  }

  // Kills `command` at each of its calls in turn, on every machine; each time the installer and
  // the agent then install and uninstall.
  void SweepKills(const std::string& command) {
    for (const Machine& machine : kMachines) {
      const std::string end = EndState(machine);
      const std::string installed = InstalledState(machine);
      Prepare(machine, command);
      sim::ClearCalls();
      RunAgent(command);
      const int calls = static_cast<int>(sim::Calls().size());
      for (int call = 1; call <= calls; ++call) {
        Prepare(machine, command);
        sim::ClearCalls();
        ASSERT_TRUE(RunAgentKilledAt(command, call));
        const std::string where = command + " killed at call " + std::to_string(call) + " of " +
                                  std::to_string(calls) + " on " + Describe(machine) + ", after " +
                                  (sim::Calls().empty() ? "none" : sim::Calls().back().Text());
        RunInstaller();
        RunAgent("/Install");
        if (command == "/Install")
          ASSERT_TRUE(Difference(MachineState(), installed).empty())
              << where << "\n"
              << Difference(MachineState(), installed);
        else
          ASSERT_TRUE(InstalledCompletely()) << where;
        RunAgent("/Uninstall");
        ASSERT_TRUE(Difference(MachineState(), end).empty()) << where << "\n"
                                                             << Difference(MachineState(), end);
        ASSERT_EQ(sim::Leaks(), "") << where;
      }
    }
  }

  Machine machine_{};
};

TEST_F(Convergence, AnInstallKilledAtAnyCallIsMadeGoodByTheNextInstallAndUninstall) {
  SweepKills("/Install");
}

TEST_F(Convergence, AnUninstallKilledAtAnyCallIsMadeGoodByTheNextInstallAndUninstall) {
  SweepKills("/Uninstall");
}

TEST_F(Convergence, WholeRunSequencesEndAsOneInstallAndUninstall) {
  enum Step { Installer, Install, Uninstall, DriverInUse };
  struct Sequence {
    const char* what;
    DWORD fileAttributes;
    std::vector<Step> steps;
  };
  const Sequence sequences[] = {
      {"install twice",
       FILE_ATTRIBUTE_ARCHIVE,
       {Installer, Install, Installer, Install, Uninstall}},
      {"uninstall twice", FILE_ATTRIBUTE_ARCHIVE, {Installer, Install, Uninstall, Uninstall}},
      {"uninstall on a machine that never had the product",
       FILE_ATTRIBUTE_ARCHIVE,
       {Uninstall, Installer, Install, Uninstall}},
      {"install after an uninstall that stopped at the driver",
       FILE_ATTRIBUTE_ARCHIVE,
       {Installer, Install, DriverInUse, Uninstall, Installer, Install, Uninstall}},
      {"install again with read-only files",
       kReadOnly,
       {Installer, Install, Installer, Install, Installer, Install, Uninstall}},
  };
  for (const Sequence& sequence : sequences)
    for (const bool wow64 : {false, true}) {
      const Machine machine{wow64, sequence.fileAttributes};
      const std::string end = EndState(machine);
      NewMachine(machine);
      for (const Step step : sequence.steps) {
        if (step == Installer)
          RunInstaller();
        if (step == Install || step == Uninstall)
          RunAgent(step == Install ? "/Install" : "/Uninstall");
        if (step == DriverInUse) {
          sim::Fault fault;
          fault.function = "DeletePrinterDriverA";
          fault.lastError = ERROR_PRINTER_DRIVER_IN_USE;
          fault.once = true;
          sim::InjectFault(fault);
        }
      }
      const std::string difference = Difference(MachineState(), end);
      EXPECT_TRUE(difference.empty()) << sequence.what << " on " << Describe(machine) << "\n"
                                      << difference;
    }
}

}  // namespace
