#include "common/names.h"
#include "fixture.h"
#include "kernel.h"
#include "spooler.h"
#include "spooler/spooler.h"

namespace {

class Port : public SimTest {
 protected:
  static void MonitorAnswers(int64_t result, std::optional<DWORD> status) {
    sim::Fault fault;
    fault.function = "XcvDataW";
    fault.result = result;
    fault.status = status;
    sim::InjectFault(fault);
  }
  static std::string SpoolerCalls() {
    return CallSequence({"LoadLibraryA", "GetProcAddress", "OpenPrinterA", "XcvDataW",
                         "ClosePrinter", "FreeLibrary"});
  }
};

TEST_F(Port, AddPortReachesTheMonitorThroughALookedUpXcvDataW) {
  EXPECT_EQ(AddPrinterPort(), 1);
  EXPECT_TRUE(sim::spooler::HasPort(kPortName));
  EXPECT_EQ(
      SpoolerCalls(),
      "LoadLibraryA(C:\\Windows\\System32\\winspool.drv), GetProcAddress(winspool.drv, XcvDataW), "
      "OpenPrinterA(, XcvMonitor Local Port, 0x1), "
      "XcvDataW(AddPort, TESSIX_TEMBRIN:, 32, 0), ClosePrinter(0x9000), "
      "FreeLibrary(winspool.drv)");
}

// Only ERROR_SUCCESS adds a port; the one that is there (183) serves as well. Any other code,
// with its top bit set or not, leaves no port to create the printer on.
TEST_F(Port, OnlyAnAddedOrAnExistingPortIsAccepted) {
  sim::spooler::AddPort(kPortName);
  int added = -1;
  EXPECT_EQ(AddPrinterPort(&added), 1) << "the monitor answers 183";
  EXPECT_EQ(added, 0);
  const struct {
    DWORD status;
    int result, added;
  } rows[] = {{ERROR_SUCCESS, 1, 1},       {ERROR_ALREADY_EXISTS, 1, 0},
              {ERROR_ACCESS_DENIED, 0, 0}, {ERROR_INVALID_PARAMETER, 0, 0},
              {0x80000000, 0, 0},          {0xFFFFFFFF, 0, 0}};
  for (const auto& row : rows) {
    SetUp();
    MonitorAnswers(TRUE, row.status);
    added = -1;
    EXPECT_EQ(AddPrinterPort(&added), row.result) << row.status;
    EXPECT_EQ(added, row.added) << row.status;
    EXPECT_EQ(sim::CountCalls("ClosePrinter"), 1);
    EXPECT_EQ(sim::Leaks(), "") << "handle closed and library released";
  }
}

TEST_F(Port, AFailedXcvDataWIsARefusalWhateverTheStatus) {
  MonitorAnswers(FALSE, 0);
  EXPECT_EQ(AddPrinterPort(), 0);
  EXPECT_EQ(sim::CountCalls("ClosePrinter"), 1);
  EXPECT_EQ(sim::CountCalls("FreeLibrary"), 1);
}

TEST_F(Port, AMonitorThatDoesNotWriteTheStatusLeavesTheZeroItStartedWith) {
  MonitorAnswers(TRUE, std::nullopt);
  EXPECT_EQ(AddPrinterPort(), 1);
}

TEST_F(Port, AMonitorThatCannotBeOpened) {
  sim::FailWhen("OpenPrinterA", ", XcvMonitor Local Port", FALSE);
  EXPECT_EQ(AddPrinterPort(), 0);
  EXPECT_EQ(sim::CountCalls("FreeLibrary"), 1);
  EXPECT_EQ(DeletePrinterPort(), 1);
  EXPECT_EQ(sim::CountCalls("XcvDataW"), 0);

  SetUp();
  sim::settings().administrator = false;  // the monitor refuses administration
  EXPECT_EQ(AddPrinterPort(), 0);
  EXPECT_FALSE(sim::spooler::HasPort(kPortName));
}

TEST_F(Port, AWinspoolWithoutXcvDataWOrNoWinspoolAtAll) {
  sim::kernel::RemoveExport("winspool.drv", "XcvDataW");
  EXPECT_EQ(AddPrinterPort(), 0);
  EXPECT_EQ(sim::CountCalls("OpenPrinterA"), 0);
  EXPECT_EQ(sim::CountCalls("FreeLibrary"), 1);

  SetUp();
  sim::FailAlways("LoadLibraryA", 0, ERROR_MOD_NOT_FOUND);
  EXPECT_EQ(AddPrinterPort(), 0);
  EXPECT_EQ(sim::CountCalls("OpenPrinterA"), 0);
}

TEST_F(Port, DeletePortCallsTheLinkedXcvDataWWithTheSameRequestSize) {
  sim::spooler::AddPort(kPortName);
  EXPECT_EQ(DeletePrinterPort(), 1);
  EXPECT_FALSE(sim::spooler::HasPort(kPortName));
  EXPECT_TRUE(sim::spooler::HasPort("LPT1:")) << "only our port goes";
  EXPECT_EQ(SpoolerCalls(),
            "OpenPrinterA(, XcvMonitor Local Port, 0x1), "
            "XcvDataW(DeletePort, TESSIX_TEMBRIN:, 32, 0), ClosePrinter(0x9000)");
}

TEST_F(Port, DeletePortSwallowsAMissingPortAndAFailedRequest) {
  EXPECT_EQ(DeletePrinterPort(), 1) << "the monitor answers 2";
  MonitorAnswers(FALSE, 0x80000000);
  EXPECT_EQ(DeletePrinterPort(), 1);
  EXPECT_EQ(sim::CountCalls("ClosePrinter"), 2);
}

}  // namespace
