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

TEST_F(Port, AnExistingPortOrAnyOtherPositiveStatusIsAccepted) {
  sim::spooler::AddPort(kPortName);
  EXPECT_EQ(AddPrinterPort(), 1) << "the monitor answers 183";
  for (DWORD status : {DWORD{5}, DWORD{0x7FFFFFFF}}) {
    SetUp();
    MonitorAnswers(TRUE, status);
    EXPECT_EQ(AddPrinterPort(), 1) << status;
    EXPECT_EQ(sim::Leaks(), "");
  }
}

TEST_F(Port, AStatusWithItsTopBitSetIsARefusal) {
  for (DWORD status : {DWORD{0x80000000}, DWORD{0xFFFFFFFF}}) {
    SetUp();
    MonitorAnswers(TRUE, status);
    EXPECT_EQ(AddPrinterPort(), 0) << status;
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
