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

namespace {

using sim::reg::View;

constexpr char kInstallDir[] = "C:\\Program Files\\Tessix Tembrin\\";
constexpr char kOwnClass[] = "TessixTembrin.Document";
constexpr char kPdfClassKey[] = "Software\\Classes\\.pdf";
constexpr char kPdfMimeKey[] = "Software\\Classes\\MIME\\Database\\Content Type\\application/pdf";
constexpr char kUserPdfKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.pdf";
constexpr char kAddinKey[] = "Software\\Classes\\CLSID\\{0ADD1A11-7E2D-4B5C-9A31-5E6F70819203}";
// Files that CopyFileA refuses to replace: as they come from read-only media or an MSI.
constexpr DWORD kReadOnly = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                            FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;

// The add-in registers itself as a COM server does, through the registry from inside the agent's
// process, so that a kill can stop it halfway too.
HRESULT RegisterAddin() {
  HKEY key = nullptr;
  RegCreateKeyExA(HKEY_LOCAL_MACHINE, kAddinKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                  nullptr);
  return key && RegCloseKey(key) == ERROR_SUCCESS ? S_OK : E_FAIL;
}
HRESULT UnregisterAddin() {
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, kAddinKey);
  return S_OK;
}

struct Machine {
  bool wow64;
  DWORD fileAttributes;  // of the product's files as the installer places them
};

class Convergence : public SimTest {
 protected:
  // A Windows with another program's PDF association, where the application was never installed.
  void NewMachine(const Machine& machine) {
    SetUp();
    machine_ = machine;
    sim::settings().wow64 = machine.wow64;
    sim::reg::SetString(HKEY_LOCAL_MACHINE, kPdfClassKey, "", "AcroExch.Document");
    sim::reg::SetString(HKEY_LOCAL_MACHINE, kPdfMimeKey, "CLSID", "{B801CA65-A1FC-11D0-85AD}");
    sim::reg::SetString(HKEY_CURRENT_USER, kUserPdfKey, "Progid", "AcroExch.Document.DC");
    sim::com::AddServer(std::string(kInstallDir) + "qlc_wordaddin.dll", RegisterAddin,
                        UnregisterAddin);
    SeedSystemLibrarySources();
  }

  // The application's installer before it runs /Install, as on a first install or a repair: its
  // files, "InstallPath", the PDF association taken over and the one it replaces saved once, and
  // copies that must never win: the user's, and on 64-bit Windows the 32-bit view's.
  void RunInstaller() const {
    SeedProductFiles(kInstallDir, machine_.fileAttributes);
    sim::reg::SetString(HKEY_LOCAL_MACHINE, kProductKey, "InstallPath", kInstallDir, View::Native);
    const std::tuple<const char*, HKEY, const char*, const char*, const char*> association[] = {
        {"strdocument", HKEY_LOCAL_MACHINE, kPdfClassKey, "", kOwnClass},
        {"strCLSID", HKEY_LOCAL_MACHINE, kPdfMimeKey, "CLSID", "{C2A97E41-0B6D-4F38}"},
        {"strProgid", HKEY_CURRENT_USER, kUserPdfKey, "Progid", kOwnClass}};
    const bool saved =
        sim::reg::GetValue(HKEY_LOCAL_MACHINE, kProductKey, "strdocument", View::Native)
            .has_value();
    for (const auto& [savedName, root, key, name, ours] : association) {
      if (!saved) {
        sim::reg::SetString(HKEY_LOCAL_MACHINE, kProductKey, savedName,
                            sim::reg::GetString(root, key, name).value_or(""), View::Native);
        sim::reg::SetString(HKEY_CURRENT_USER, kProductKey, savedName, "User.Document");
        if (machine_.wow64)
          sim::reg::SetString(HKEY_LOCAL_MACHINE, kProductKey, savedName, "Wow.Document");
      }
      sim::reg::SetString(root, key, name, ours);
    }
  }

  // "S" the installer, "I" /Install, "U" /Uninstall, "C" the user chooses another PDF program,
  // "H" another program opens the printer and holds it, "R" it lets go, "J" a print job is stuck in
  // its queue (the proxy process does not run), "P" a job is being printed for good, "G" it lets
  // go, "L" a program loads the installed driver library, "O" a scanner holds the installed data
  // file open, "M" a driver file is missing from the application's files, "D" the spooler refuses
  // every driver from now on, "B" Windows restarts (the deletions that were due are noted in
  // pendingAtRestart_).
  void RunSteps(const char* steps) {
    for (const char* step = steps; *step; ++step)
      if (*step == 'S')
        RunInstaller();
      else if (*step == 'C')
        sim::reg::SetString(HKEY_CURRENT_USER, kUserPdfKey, "Progid", "Users.Choice");
      else if (*step == 'H' || *step == 'R')
        sim::spooler::HoldOpen(kPrinterName, *step == 'H');
      else if (*step == 'J')
        sim::spooler::AddJobs(kPrinterName, 1);
      else if (*step == 'P')
        sim::spooler::AddPrintingJob(kPrinterName);
      else if (*step == 'G')
        sim::spooler::LetGo(kPrinterName);
      else if (*step == 'L' || *step == 'O')
        sim::files::SetInUse(VersionDir() + (*step == 'L' ? "qelvpr_drv.dll" : "qelvpr_pnt.txt"),
                             *step == 'L' ? sim::files::Use::Loaded : sim::files::Use::HeldOpen);
      else if (*step == 'M')
        for (const char* name : {"qelvpr_ui.dll", "qelvpr_ui64.dll"})
          sim::files::Remove(std::string(kInstallDir) + "plugins\\creator\\" + name);
      else if (*step == 'D')
        sim::FailAlways("AddPrinterDriverA", FALSE, ERROR_ACCESS_DENIED);
      else if (*step == 'B')
        Restart();
      else
        RunAgent(*step == 'I' ? "/Install" : "/Uninstall");
  }

  std::string VersionDir() const {
    return sim::spooler::DriverDirectory(machine_.wow64 ? "Windows x64" : "Windows NT x86") +
           "\\3\\";
  }

  void Restart() {
    pendingAtRestart_ = sim::files::PendingDeletions();
    sim::files::Restart();
  }

  // A machine the installer has prepared for `command`: for the uninstall, with the product
  // installed.
  void Prepare(const Machine& machine, const std::string& command) {
    NewMachine(machine);
    RunSteps(command == "/Uninstall" ? "SI" : "S");
  }

  // The machine as `steps` leave a new one.
  std::string EndState(const Machine& machine, const char* steps = "SIU") {
    NewMachine(machine);
    RunSteps(steps);
    return sim::Dump();
  }

  // Kills `command` at each of its calls in turn, on 32- and 64-bit Windows, with writable and
  // read-only product files; each time the installer and the agent then install and uninstall.
  void SweepKills(const std::string& command) {
    for (const Machine machine :
         {Machine{false, FILE_ATTRIBUTE_ARCHIVE}, Machine{true, FILE_ATTRIBUTE_ARCHIVE},
          Machine{false, kReadOnly}, Machine{true, kReadOnly}}) {
      Prepare(machine, "/Uninstall");
      const std::string installed = sim::Dump();
      const std::string end = EndState(machine);
      Prepare(machine, command);
      sim::ClearCalls();
      RunAgent(command);
      const size_t calls = sim::Calls().size();
      for (size_t call = 1; call <= calls; ++call) {
        Prepare(machine, command);
        sim::ClearCalls();
        ASSERT_TRUE(RunAgentKilledAt(command, static_cast<int>(call)));
        const std::string where =
            command + " killed at call " + std::to_string(call) + ", after " +
            (call > 1 ? sim::Calls().back().Text() : "none") + (machine.wow64 ? ", 64-bit" : "") +
            (machine.fileAttributes & FILE_ATTRIBUTE_READONLY ? ", read-only files" : "");
        if (command == "/Uninstall") {
          RunAgent("/Uninstall");
          ASSERT_EQ(sim::Dump(), end) << where << ": the next uninstall finishes the job";
        }
        RunInstaller();
        RunAgent("/Install");
        if (command == "/Install") {
          ASSERT_EQ(sim::Dump(), installed) << where;
        }
        ASSERT_TRUE(sim::spooler::HasPrinter(kPrinterName) &&
                    sim::reg::KeyExists(HKEY_LOCAL_MACHINE, kAddinKey) &&
                    sim::reg::GetString(HKEY_LOCAL_MACHINE, kProductKey, "Version"))
            << where << ": the install completes";
        RunAgent("/Uninstall");
        ASSERT_EQ(sim::Dump(), end) << where;
        ASSERT_EQ(sim::Leaks(), "") << where;
      }
    }
  }

  Machine machine_{};
  std::vector<std::string> pendingAtRestart_;
};

TEST_F(Convergence, AnInstallKilledAtAnyCallIsMadeGoodByTheNextInstallAndUninstall) {
  SweepKills("/Install");
}

TEST_F(Convergence, AnUninstallKilledAtAnyCallIsMadeGoodByTheNextInstallAndUninstall) {
  SweepKills("/Uninstall");
}

// Whole runs, one after the other (the letters of RunSteps), end as the shorter sequence does,
// and leave no deletion waiting for a restart but that of a driver file a program held: a run
// that cannot finish leaves the machine as it found it, a printer that worked included.
TEST_F(Convergence, WholeRunSequencesEndAsOneInstallAndUninstall) {
  struct Sequence {
    const char* what;
    const char* steps;
    const char* endsAs;
    DWORD fileAttributes;
    const char* dueAtRestart;  // in the version directory, "" for none
  };
  const Sequence sequences[] = {
      {"install twice", "SISIU", "SIU", FILE_ATTRIBUTE_ARCHIVE, ""},
      {"uninstall twice", "SIUU", "SIU", FILE_ATTRIBUTE_ARCHIVE, ""},
      {"the user's choice between two uninstalls", "SIUCU", "SIUC", FILE_ATTRIBUTE_ARCHIVE, ""},
      {"uninstall where the product never was", "USIU", "SIU", FILE_ATTRIBUTE_ARCHIVE, ""},
      {"install after an uninstall that stopped at the driver", "SIHURSIU", "SIU",
       FILE_ATTRIBUTE_ARCHIVE, ""},
      {"install again with read-only files", "SISISIU", "SIU", kReadOnly, ""},
      {"uninstall with a job stuck in the queue", "SIJU", "SIU", FILE_ATTRIBUTE_ARCHIVE, ""},
      {"uninstall after a job that kept the printer let go", "SIPUGU", "SIU",
       FILE_ATTRIBUTE_ARCHIVE, ""},
      {"uninstall while the driver library is loaded", "SILUB", "SIU", FILE_ATTRIBUTE_ARCHIVE,
       "qnTmp3.tmp"},
      {"reinstall and uninstall again before the restart", "SILUIUB", "SIU", FILE_ATTRIBUTE_ARCHIVE,
       "qnTmp3.tmp"},
      {"uninstall while a scanner holds the data file", "SIOUB", "SIU", FILE_ATTRIBUTE_ARCHIVE,
       "qelvpr_pnt.txt"},
      {"a repair with a driver file missing", "SIMI", "SIM", FILE_ATTRIBUTE_ARCHIVE, ""},
      {"a repair whose driver the spooler refuses", "SIDI", "SI", FILE_ATTRIBUTE_ARCHIVE, ""},
      {"the same while the driver library is loaded", "SILDI", "SIL", FILE_ATTRIBUTE_ARCHIVE, ""},
      {"a first install whose driver the spooler refuses", "SDI", "S", FILE_ATTRIBUTE_ARCHIVE, ""},
  };
  for (const Sequence& sequence : sequences)
    for (const bool wow64 : {false, true}) {
      const Machine machine{wow64, sequence.fileAttributes};
      const std::string end = EndState(machine, sequence.endsAs);
      NewMachine(machine);
      pendingAtRestart_.clear();
      RunSteps(sequence.steps);
      const std::string what = sequence.what + std::string(wow64 ? " on 64-bit Windows" : "");
      EXPECT_EQ(sim::Dump(), end) << what;
      EXPECT_TRUE(sim::files::PendingDeletions().empty()) << what;
      EXPECT_EQ(pendingAtRestart_,
                *sequence.dueAtRestart
                    ? std::vector<std::string>{VersionDir() + sequence.dueAtRestart}
                    : std::vector<std::string>{})
          << what;
    }
}

}  // namespace
