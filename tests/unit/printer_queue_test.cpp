#include "common/names.h"
#include "fixture.h"
#include "kernel.h"
#include "spooler.h"
#include "spooler/spooler.h"

namespace {

// Each with the uninstall's whole wait, as a run starts them.
int DeletePrintersOfDriver() {
  DWORD waitLeft = kUninstallWaitLimit;
  return ::DeletePrintersOfDriver(waitLeft);
}
int RemovePrinterDriver() {
  DWORD waitLeft = kUninstallWaitLimit;
  return ::RemovePrinterDriver(waitLeft);
}

class PrinterQueue : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    CopyPath(DriverEnvironment, "Windows NT x86");
  }
  static std::vector<std::string> PrinterNames() {
    std::vector<std::string> names;
    for (const sim::spooler::Printer& printer : sim::spooler::Printers())
      names.push_back(printer.name);
    return names;
  }
  static std::vector<std::string> Opened() {
    std::vector<std::string> names;
    for (const sim::Call& call : sim::CallsTo("OpenPrinterA"))
      names.push_back(call.args[0]);
    return names;
  }
};

TEST_F(PrinterQueue, CreatesThePrinterOnThePortWithTheDriver) {
  sim::spooler::AddPort(kPortName);
  sim::spooler::AddDriver(kDriverName);
  EXPECT_EQ(CreatePrinterQueue(), 1);
  ASSERT_EQ(sim::spooler::Printers().size(), 1u);
  EXPECT_EQ(sim::spooler::Printers()[0].port, kPortName);
  EXPECT_EQ(sim::spooler::Printers()[0].driver, kDriverName);
  EXPECT_EQ(CallSequence({"OpenPrinterA", "AddPrinterA", "ClosePrinter"}),
            "OpenPrinterA(Tessix Tembrin Printer, NULL), "
            "AddPrinterA(NULL, 2, NULL, Tessix Tembrin Printer, NULL, TESSIX_TEMBRIN:, "
            "Tessix Tembrin Printer Driver, NULL, NULL, NULL, NULL, WinPrint, RAW, NULL, NULL, "
            "0x40, 0, 0, 0, 0, 0, 0, 0), ClosePrinter(0x9000)");
}

TEST_F(PrinterQueue, AnExistingPrinterOfThatNameIsLeftAsItIs) {
  sim::spooler::AddPrinter(kPrinterName, "LPT1:", "Another Driver");
  EXPECT_EQ(CreatePrinterQueue(), 1);
  EXPECT_EQ(sim::CountCalls("AddPrinterA"), 0);
  EXPECT_EQ(sim::spooler::Printers()[0].driver, "Another Driver");
  EXPECT_EQ(sim::CountCalls("ClosePrinter"), 1);
}

TEST_F(PrinterQueue, AMissingPortOrDriverFailsTheCreation) {
  sim::spooler::AddDriver(kDriverName);
  EXPECT_EQ(CreatePrinterQueue(), 0) << "no port";
  sim::spooler::AddPort(kPortName);
  sim::FailNth("AddPrinterA", 2, 0, ERROR_INVALID_PARAMETER);
  EXPECT_EQ(CreatePrinterQueue(), 0) << "refused";
  EXPECT_TRUE(PrinterNames().empty());
}

TEST_F(PrinterQueue, SetDefaultPrinterPassesOnTheSpoolersAnswerAndReleasesWinspool) {
  sim::spooler::AddPrinter(kPrinterName, kPortName, kDriverName);
  EXPECT_EQ(SetDefaultPrinterByName(kPrinterName), 1);
  EXPECT_EQ(sim::spooler::DefaultPrinter(), kPrinterName);
  EXPECT_EQ(SetDefaultPrinterByName("No Such Printer"), 0);
  EXPECT_EQ(sim::spooler::DefaultPrinter(), kPrinterName);
  EXPECT_EQ(sim::CountCalls("FreeLibrary"), 2);
}

TEST_F(PrinterQueue, SetDefaultPrinterWithoutTheEntryPointOrWithoutWinspool) {
  sim::spooler::AddPrinter(kPrinterName, kPortName, kDriverName);
  sim::kernel::RemoveExport("winspool.drv", "SetDefaultPrinterA");
  EXPECT_EQ(SetDefaultPrinterByName(kPrinterName), 0);
  EXPECT_EQ(sim::CountCalls("FreeLibrary"), 1);
  sim::FailAlways("LoadLibraryA", 0, ERROR_MOD_NOT_FOUND);
  EXPECT_EQ(SetDefaultPrinterByName(kPrinterName), 0);
  EXPECT_EQ(sim::spooler::DefaultPrinter(), "");
}

TEST_F(PrinterQueue, DeletesEveryPrinterOfTheDriverInEnumerationOrder) {
  sim::spooler::AddPrinter("Office", "LPT1:", "Other Driver");
  sim::spooler::AddPrinter("Copy of Tembrin", kPortName, kDriverName);
  sim::spooler::AddPrinter("Lookalike", kPortName, "tessix tembrin printer driver");
  sim::spooler::AddPrinter(kPrinterName, kPortName, kDriverName);
  EXPECT_EQ(DeletePrintersOfDriver(), 1);
  EXPECT_EQ(PrinterNames(), (std::vector<std::string>{"Office", "Lookalike"}));
  EXPECT_EQ(Opened(), (std::vector<std::string>{"Copy of Tembrin", kPrinterName}));
  EXPECT_EQ(sim::CallsTo("OpenPrinterA")[0].args[1], "0xf000c");
}

TEST_F(PrinterQueue, NoPrintersOrNoneOfTheDriverIsSuccess) {
  EXPECT_EQ(DeletePrintersOfDriver(), 1);
  sim::spooler::AddPrinter("Office", "LPT1:", "Other Driver");
  EXPECT_EQ(DeletePrintersOfDriver(), 1);
  EXPECT_EQ(PrinterNames(), std::vector<std::string>{"Office"});
  EXPECT_EQ(sim::CountCalls("HeapFree"), 2);
}

// A printer with jobs would only be marked for deletion, out of every later run's sight, and keep
// its driver until they are gone: it is deleted only with its queue empty. The purge takes every
// job but the one being printed; what it leaves, or everything where it is refused, is deleted
// job by job, and a job being printed is waited for within the uninstall's wait. A paused printer
// is resumed. A printer that keeps a job stays, listed.
TEST_F(PrinterQueue, EachPrinterIsDeletedOnlyWithItsQueueEmpty) {
  struct Row {
    const char* what;
    DWORD printsIn;  // of three waiting jobs
    DWORD printing;  // when the job being printed lets go; 0: there is none
    bool paused, purgeFails;
    int deleted;
    DWORD waited;
  } rows[] = {{"stuck jobs", INFINITE, 0, false, false, 1, 0},
              {"stuck jobs, purge refused", INFINITE, 0, false, true, 1, 0},
              {"paused, purge refused", 500, 0, true, true, 1, 0},
              {"paused, printable jobs", 500, 0, true, false, 1, 0},
              {"a job being printed for 1.1 s", INFINITE, 1100, false, false, 1, 1250},
              {"a job being printed for good", INFINITE, INFINITE, false, false, 0, 5000}};
  for (const Row& row : rows) {
    SetUp();
    sim::spooler::AddDriver(kDriverName);
    sim::spooler::AddPrinter(kPrinterName, kPortName, kDriverName);
    if (row.printing)
      sim::spooler::AddPrintingJob(kPrinterName, row.printing);
    sim::spooler::AddJobs(kPrinterName, 3, row.printsIn);
    if (row.paused)
      sim::spooler::Pause(kPrinterName);
    if (row.purgeFails)
      sim::FailWhen("SetPrinterA", "3", FALSE, ERROR_INVALID_LEVEL);
    EXPECT_EQ(DeletePrintersOfDriver(), row.deleted) << row.what;
    EXPECT_EQ(sim::kernel::Clock(), row.waited) << row.what;
    EXPECT_EQ(PrinterNames(),
              row.deleted ? std::vector<std::string>{} : std::vector<std::string>{kPrinterName})
        << row.what;
    EXPECT_FALSE(sim::spooler::IsPendingDeletion(kPrinterName)) << row.what;
    EXPECT_EQ(RemovePrinterDriver(), row.deleted) << row.what;
    EXPECT_EQ(sim::CountCalls("SetPrinterA"), row.paused ? 2 : 1) << row.what;
    EXPECT_EQ(sim::CountCalls("SetJobA"), row.purgeFails ? 3 : row.printing ? 1 : 0) << row.what;
    EXPECT_EQ(sim::Leaks(), "") << row.what;
  }
}

TEST_F(PrinterQueue, StopsAtThePrinterThatCannotBeOpened) {
  for (const char* name : {"First", "Second", "Third"})
    sim::spooler::AddPrinter(name, kPortName, kDriverName);
  sim::FailWhen("OpenPrinterA", "Second", FALSE);
  EXPECT_EQ(DeletePrintersOfDriver(), 0);
  EXPECT_EQ(PrinterNames(), (std::vector<std::string>{"Second", "Third"}));
}

TEST_F(PrinterQueue, StopsAtThePrinterThatCannotBeDeleted) {
  for (const char* name : {"First", "Second"})
    sim::spooler::AddPrinter(name, kPortName, kDriverName);
  sim::FailNth("DeletePrinter", 1, FALSE);
  EXPECT_EQ(DeletePrintersOfDriver(), 0);
  EXPECT_EQ(PrinterNames(), (std::vector<std::string>{"First", "Second"}));
  EXPECT_EQ(sim::CountCalls("ClosePrinter"), 1);
}

TEST_F(PrinterQueue, AFailedEnumerationDeletesNothingAndIsNoFailure) {
  sim::spooler::AddPrinter(kPrinterName, kPortName, kDriverName);
  sim::FailNth("EnumPrintersA", 2, FALSE, ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(DeletePrintersOfDriver(), 1);
  EXPECT_EQ(PrinterNames(), std::vector<std::string>{kPrinterName});

  SetUp();
  sim::spooler::AddPrinter(kPrinterName, kPortName, kDriverName);
  sim::FailAlways("HeapAlloc", 0);
  EXPECT_EQ(DeletePrintersOfDriver(), 1);
  EXPECT_EQ(sim::CountCalls("EnumPrintersA"), 1);
}

TEST_F(PrinterQueue, ARecordWithoutNamesIsNoMatch) {
  sim::spooler::AddPrinter("Broken", kPortName, kDriverName);
  sim::spooler::AddPrinter(kPrinterName, kPortName, kDriverName);
  sim::spooler::ReportWithoutNames("Broken");
  EXPECT_EQ(DeletePrintersOfDriver(), 1);
  EXPECT_EQ(PrinterNames(), std::vector<std::string>{"Broken"});
}

TEST_F(PrinterQueue, RemoveDriverNamesTheEnvironmentItWasRegisteredFor) {
  sim::settings().wow64 = true;
  CopyPath(DriverEnvironment, "Windows x64");
  sim::spooler::AddDriver(kDriverName, "Windows x64");
  EXPECT_EQ(RemovePrinterDriver(), 1);
  EXPECT_FALSE(sim::spooler::HasDriver(kDriverName, "Windows x64"));
  EXPECT_EQ(CallSequence({"DeletePrinterDriverA"}),
            "DeletePrinterDriverA(NULL, Windows x64, Tessix Tembrin Printer Driver)");
}

// A driver the spooler does not list for our environment (an install that stopped before it) is
// as good as removed; one that is there and refuses, or a spooler that cannot say, is not.
TEST_F(PrinterQueue, RemoveDriverFailsOnlyForADriverThatIsThere) {
  sim::spooler::AddDriver(kDriverName);
  sim::spooler::AddDriver("Another Driver");
  sim::spooler::AddPrinter("Copy", kPortName, kDriverName);
  EXPECT_EQ(RemovePrinterDriver(), 0) << "in use";
  EXPECT_TRUE(sim::spooler::HasDriver(kDriverName));
  // A spooler that cannot list its drivers cannot say the driver went.
  const std::pair<const char*, int> unlisted[] = {
      {"EnumPrinterDriversA", 1}, {"EnumPrinterDriversA", 2}, {"HeapAlloc", 1}};
  for (const auto& [function, nth] : unlisted) {
    SetUp();
    sim::spooler::AddDriver(kDriverName);
    sim::FailAlways("DeletePrinterDriverA", FALSE, ERROR_ACCESS_DENIED);
    sim::FailNth(function, nth, 0, ERROR_ACCESS_DENIED);
    EXPECT_EQ(RemovePrinterDriver(), 0) << function << " " << nth;
  }
  for (const char* environment : {"Windows NT x86", "Windows x64"}) {
    SetUp();
    sim::settings().wow64 = std::string(environment) == "Windows x64";
    CopyPath(DriverEnvironment, environment);
    sim::spooler::AddDriver("Another Driver", environment);
    sim::spooler::AddDriver(kDriverName, sim::settings().wow64 ? "Windows NT x86" : "Windows x64");
    EXPECT_EQ(RemovePrinterDriver(), 1) << "only in the other environment: " << environment;
    EXPECT_EQ(sim::spooler::Drivers().size(), 2u) << "neither driver is touched";
  }
  SetUp();
  EXPECT_EQ(RemovePrinterDriver(), 1) << "no drivers at all";
}

// The spooler holds a driver a moment after its last printer goes, and as long as another
// program holds that printer open: the removal is tried again, for a few seconds at most.
TEST_F(PrinterQueue, ABusyDriverIsWaitedForAFewSecondsAtMost) {
  struct Row {
    DWORD release;
    bool heldOpen;
    int result;
    DWORD waited;
  } rows[] = {{0, false, 1, 0}, {700, false, 1, 875}, {60000, false, 0, 5000}, {0, true, 0, 5000}};
  for (const Row& row : rows) {
    SetUp();
    sim::spooler::AddDriver(kDriverName);
    sim::spooler::AddPrinter(kPrinterName, kPortName, kDriverName);
    sim::spooler::SetDriverRelease(row.release);
    sim::spooler::HoldOpen(kPrinterName, row.heldOpen);
    EXPECT_EQ(DeletePrintersOfDriver(), 1);
    EXPECT_EQ(RemovePrinterDriver(), row.result) << row.release << (row.heldOpen ? ", held" : "");
    EXPECT_EQ(sim::kernel::Clock(), row.waited) << row.release << (row.heldOpen ? ", held" : "");
  }
  SetUp();
  sim::spooler::AddDriver(kDriverName);
  sim::FailAlways("DeletePrinterDriverA", FALSE, ERROR_ACCESS_DENIED);
  EXPECT_EQ(RemovePrinterDriver(), 0);
  EXPECT_EQ(sim::CountCalls("Sleep"), 0) << "any other refusal is final at once";
}

}  // namespace
