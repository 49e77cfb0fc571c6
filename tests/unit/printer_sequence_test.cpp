#include "common/names.h"
// The printer steps in the two sequences: a failing chained step ends its sequence, and a full
// install is undone by a full uninstall.
#include "files.h"
#include "kernel.h"
#include "fixture.h"
#include "product_files.h"
#include "registry.h"
#include "spooler.h"
#include "spooler/spooler.h"

#include <functional>

namespace {

using Steps = std::vector<std::string>;

constexpr char kInstallDir[] = "C:\\Program Files\\Tembrin\\";
constexpr char kSources[] = "C:\\Program Files\\Tembrin\\plugins\\creator\\";

bool Called(const std::string& function, const std::string& argument = "") {
  for (const sim::Call& call : sim::CallsTo(function))
    if (call.Text().find(argument) != std::string::npos)
      return true;
  return false;
}

// Whether the proxy was retired after the port's removal: its own step, not the retirement of
// the driver files at the start.
bool ProxyRemoved() {
  bool portGone = false;
  for (const sim::Call& call : sim::Calls()) {
    portGone = portGone || (call.function == "XcvDataW" && call.args[0] == "DeletePort");
    if (portGone && call.function == "MoveFileA" &&
        call.args[0].find("QXN_ProxyProcess.exe") != std::string::npos)
      return true;
  }
  return false;
}

class PrinterSequence : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    sim::reg::SetString(HKEY_LOCAL_MACHINE, kProductKey, "InstallPath", kInstallDir,
                        sim::reg::View::Native);
    SeedProductFiles(kInstallDir);
  }

  // The install steps from the port on that the call log shows were reached, in table order.
  static Steps InstallStepsReached() {
    const std::pair<const char*, bool> steps[] = {
        {"port", Called("XcvDataW", "AddPort")},
        {"driver", Called("AddPrinterDriverA")},
        // The printer that is there already, or a new one; not the look after a failure.
        {"printer", Called("AddPrinterA") || (Called("OpenPrinterA", kPrinterName) &&
                                              Called("CopyFileA", "QXN_ProxyProcess"))},
        {"proxy", Called("CopyFileA", "QXN_ProxyProcess")},
        {"libraries", Called("GetWindowsDirectoryA")},
        {"add-in", Called("OleInitialize")},
        {"default printer", Called("SetDefaultPrinterA")},
        {"run-once and record", Called("RegSetValueExA")}};
    Steps reached;
    for (const auto& [name, called] : steps)
      if (called)
        reached.push_back(name);
    return reached;
  }

  static Steps UninstallStepsReached() {
    const std::pair<const char*, bool> steps[] = {{"printers", Called("EnumPrintersA")},
                                                  {"driver", Called("DeletePrinterDriverA")},
                                                  {"port", Called("XcvDataW", "DeletePort")},
                                                  {"proxy", ProxyRemoved()}};
    Steps reached;
    for (const auto& [name, called] : steps)
      if (called)
        reached.push_back(name);
    return reached;
  }

  static std::vector<std::string> PrinterNames() {
    std::vector<std::string> names;
    for (const sim::spooler::Printer& printer : sim::spooler::Printers())
      names.push_back(printer.name);
    return names;
  }

  static std::string VersionDir() {
    return sim::spooler::DriverDirectory(DriverEnvironment) + "\\3";
  }
};

TEST_F(PrinterSequence, AFullInstallLeavesThePrinterReadyAndItsDefault) {
  RunAgent("/Install");
  EXPECT_EQ(InstallStepsReached(), (Steps{"port", "driver", "printer", "proxy", "libraries",
                                          "add-in", "default printer", "run-once and record"}));
  EXPECT_TRUE(sim::spooler::HasPort(kPortName));
  EXPECT_TRUE(sim::spooler::HasDriver(kDriverName, "Windows NT x86"));
  EXPECT_EQ(PrinterNames(), std::vector<std::string>{kPrinterName});
  EXPECT_EQ(sim::spooler::DefaultPrinter(), kPrinterName);
  EXPECT_EQ(sim::files::List(VersionDir()),
            (std::vector<std::string>{"qelvpr_drv.dll", "qelvpr_pnt.txt", "qelvpr_ui.dll",
                                      "QXN_ProxyProcess.exe"}));
  // The old driver files are retired before anything else of the printer.
  EXPECT_LT(CallSequence({"MoveFileA", "XcvDataW"}).find("MoveFileA"),
            CallSequence({"MoveFileA", "XcvDataW"}).find("XcvDataW"));
}

TEST_F(PrinterSequence, EachFailingChainedInstallStepEndsTheInstall) {
  struct Case {
    std::function<void()> fault;
    Steps reached;
  };
  const Case cases[] = {
      {[] { sim::FailAlways("XcvDataW", FALSE); }, {"port"}},
      {[] { sim::FailAlways("AddPrinterDriverA", FALSE); }, {"port", "driver"}},
      {[] { sim::FailAlways("AddPrinterA", 0); }, {"port", "driver", "printer"}},
      {[] { sim::FailWhen("CopyFileA", std::string(kSources) + "QXN_ProxyProcess.exe", FALSE); },
       {"port", "driver", "printer", "proxy"}},
      // A source that is not there is known before anything changes.
      {[] { sim::files::Remove(std::string(kSources) + "QXN_ProxyProcess.exe"); }, {}},
  };
  for (const Case& c : cases) {
    SetUp();
    c.fault();
    RunAgent("/Install");
    EXPECT_EQ(InstallStepsReached(), c.reached)
        << "failing at " << (c.reached.empty() ? "the start" : c.reached.back());
    EXPECT_FALSE(sim::reg::GetValue(HKEY_LOCAL_MACHINE, kProductKey, "Version"));
    EXPECT_EQ(sim::spooler::DefaultPrinter(), "");
    EXPECT_EQ(sim::Leaks(), "");
  }
}

// A repair that cannot finish leaves the record of the earlier install only where the printer
// that worked still works: the old driver stayed, its files all went back, the printer is there.
TEST_F(PrinterSequence, ARepairThatCannotFinishKeepsTheRecordOnlyOfAPrinterThatStillWorks) {
  const std::function<void()> refuseProxy = [] {
    sim::FailWhen("CopyFileA", std::string(kSources) + "QXN_ProxyProcess.exe", FALSE);
  };
  const std::function<void()> deletePrinter = [] {
    DWORD noWait = 0;
    DeletePrintersOfDriver(noWait);
  };
  const std::pair<std::vector<std::function<void()>>, bool> cases[] = {
      {{[] { sim::FailAlways("XcvDataW", FALSE); }}, true},
      {{refuseProxy}, false},
      {{[] { sim::files::Remove(VersionDir()); }, refuseProxy}, false},  // nothing to put back
      {{deletePrinter, [] { sim::FailAlways("XcvDataW", FALSE); }}, false},
  };
  for (const auto& [faults, recordStays] : cases) {
    SetUp();
    RunAgent("/Install");
    for (const auto& fault : faults)
      fault();
    RunAgent("/Install");
    EXPECT_EQ(sim::reg::GetValue(HKEY_LOCAL_MACHINE, kProductKey, "Version").has_value(),
              recordStays);
    EXPECT_EQ(sim::reg::GetString(HKEY_LOCAL_MACHINE, kProductKey, "InstallPath"), kInstallDir);
    EXPECT_EQ(sim::Leaks(), "");
  }
}

TEST_F(PrinterSequence, ASecondInstallLeavesExactlyOnePrinter) {
  RunAgent("/Install");
  sim::ClearCalls();
  RunAgent("/Install");
  EXPECT_EQ(PrinterNames(), std::vector<std::string>{kPrinterName});
  EXPECT_EQ(sim::CountCalls("AddPrinterA"), 0);
  EXPECT_EQ(InstallStepsReached().size(), 8u);
}

TEST_F(PrinterSequence, AFullUninstallRemovesEveryPrinterOfTheDriverTheDriverPortAndProxy) {
  RunAgent("/Install");
  sim::spooler::AddPrinter("Second Tembrin", kPortName, kDriverName);
  sim::ClearCalls();
  RunAgent("/Uninstall");
  EXPECT_EQ(UninstallStepsReached(), (Steps{"printers", "driver", "port", "proxy"}));
  EXPECT_TRUE(PrinterNames().empty());
  EXPECT_TRUE(sim::spooler::Drivers().empty());
  EXPECT_FALSE(sim::spooler::HasPort(kPortName));
  EXPECT_TRUE(sim::files::List(VersionDir()).empty()) << "no driver file, proxy or temporary";
}

TEST_F(PrinterSequence, EachFailingChainedUninstallStepEndsTheUninstall) {
  struct Case {
    std::function<void()> fault;
    Steps reached;
    bool portStays;
    DWORD waited = 0;  // the printers and the driver share one wait of 5 s
  };
  const Case cases[] = {
      {[] { sim::FailAlways("DeletePrinter", FALSE); }, {"printers"}, true},
      {[] { sim::FailAlways("DeletePrinterDriverA", FALSE); }, {"printers", "driver"}, true},
      {[] {
         sim::spooler::AddPrintingJob(kPrinterName, 3000);
         sim::spooler::HoldOpen(kPrinterName);
       },
       {"printers", "driver"},
       true,
       5000},
      // Removing the port never fails: the proxy goes whatever the monitor says.
      {[] { sim::FailAlways("XcvDataW", FALSE); }, {"printers", "driver", "port", "proxy"}, true},
      // Without a driver directory no file is touched, the proxy neither, though the port went.
      {[] { sim::FailAlways("GetPrinterDriverDirectoryA", FALSE); },
       {"printers", "driver", "port"},
       false},
  };
  for (const Case& c : cases) {
    SetUp();
    RunAgent("/Install");
    sim::ClearCalls();
    c.fault();
    RunAgent("/Uninstall");
    EXPECT_EQ(UninstallStepsReached(), c.reached) << "failing at " << c.reached.back();
    EXPECT_EQ(sim::spooler::HasPort(kPortName), c.portStays) << "failing at " << c.reached.back();
    EXPECT_EQ(sim::kernel::Clock(), c.waited) << "failing at " << c.reached.back();
    EXPECT_EQ(sim::Leaks(), "");
  }
}

TEST_F(PrinterSequence, On64BitWindowsTheUninstallRemovesTheX64Driver) {
  sim::settings().wow64 = true;
  RunAgent("/Install");
  EXPECT_TRUE(sim::spooler::HasDriver(kDriverName, "Windows x64"));
  EXPECT_EQ(sim::files::Contents(VersionDir() + "\\QXN_ProxyProcess.exe"),
            "QXN_ProxyProcess64.exe");
  RunAgent("/Uninstall");
  EXPECT_TRUE(sim::spooler::Drivers().empty());
  EXPECT_FALSE(sim::spooler::HasPort(kPortName));
  EXPECT_FALSE(sim::files::Exists(VersionDir() + "\\QXN_ProxyProcess.exe"));
}

}  // namespace
