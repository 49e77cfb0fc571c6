// The simulated spooler is a second implementation of winspool that the agent's tests trust:
// these cases pin down the Windows behaviours they rely on.
#include "files.h"
#include "fixture.h"
#include "spooler.h"

#include <winspool.h>

namespace {

constexpr char kX86Dir[] = "C:\\Windows\\system32\\spool\\drivers\\w32x86";

class SimSpooler : public SimTest {
 protected:
  static HANDLE OpenMonitor(DWORD access = SERVER_ACCESS_ADMINISTER) {
    PRINTER_DEFAULTSA defaults = {nullptr, nullptr, access};
    HANDLE monitor = nullptr;
    EXPECT_TRUE(OpenPrinterA(const_cast<char*>(",XcvMonitor Local Port"), &monitor, &defaults));
    return monitor;
  }
  static DWORD Request(HANDLE monitor, const char16_t* request, const char16_t* port, DWORD bytes) {
    DWORD status = 0xDEAD, needed = 0;
    EXPECT_TRUE(XcvDataW(monitor, request, reinterpret_cast<BYTE*>(const_cast<char16_t*>(port)),
                         bytes, nullptr, 0, &needed, &status));
    return status;
  }
  static BOOL AddDriver(const char* environment, const char* dependents = "\0") {
    DRIVER_INFO_3A record = {};
    record.cVersion = 3;
    record.pName = const_cast<char*>("D");
    record.pEnvironment = const_cast<char*>(environment);
    record.pDriverPath = const_cast<char*>("d.dll");
    record.pDataFile = const_cast<char*>("d.txt");
    record.pConfigFile = const_cast<char*>("u.dll");
    record.pDependentFiles = const_cast<char*>(dependents);
    return AddPrinterDriverA(nullptr, 3, reinterpret_cast<BYTE*>(&record));
  }
  static HANDLE AddPrinter(const char* name, const char* port, const char* driver) {
    PRINTER_INFO_2A record = {};
    record.pPrinterName = const_cast<char*>(name);
    record.pPortName = const_cast<char*>(port);
    record.pDriverName = const_cast<char*>(driver);
    record.pPrintProcessor = const_cast<char*>("WinPrint");
    return AddPrinterA(nullptr, 2, reinterpret_cast<BYTE*>(&record));
  }
};

TEST_F(SimSpooler, TheMonitorAddsAndDeletesPortsAndAnswersInTheStatus) {
  HANDLE monitor = OpenMonitor();
  EXPECT_EQ(Request(monitor, u"AddPort", u"P:", 6), 0u);
  EXPECT_EQ(Request(monitor, u"AddPort", u"p:", 6), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(Request(monitor, u"AddPort", u"Q:", 4), static_cast<DWORD>(ERROR_INVALID_PARAMETER))
      << "the terminator lies beyond cbInputData";
  EXPECT_EQ(Request(monitor, u"DeletePort", u"P:", 6), 0u);
  EXPECT_EQ(Request(monitor, u"DeletePort", u"P:", 6), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  ClosePrinter(monitor);
  monitor = OpenMonitor(0);
  EXPECT_EQ(Request(monitor, u"AddPort", u"P:", 6), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  ClosePrinter(monitor);
}

TEST_F(SimSpooler, XcvDataWRefusesAnyOtherHandle) {
  sim::spooler::AddPrinter("Printer", "LPT1:", "D");
  HANDLE printer = nullptr;
  ASSERT_TRUE(OpenPrinterA(const_cast<char*>("Printer"), &printer, nullptr));
  DWORD status = 0, needed = 0;
  EXPECT_FALSE(XcvDataW(printer, u"AddPort", nullptr, 0, nullptr, 0, &needed, &status));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  ClosePrinter(printer);
}

TEST_F(SimSpooler, ADriverNeedsItsFilesInTheDriverDirectoryAndGetsThemInThree) {
  for (const char* name : {"d.dll", "d.txt"})
    sim::files::AddFile(std::string(kX86Dir) + "\\" + name, name);
  EXPECT_FALSE(AddDriver(nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  sim::files::AddFile(std::string(kX86Dir) + "\\u.dll", "u", FILE_ATTRIBUTE_READONLY);
  EXPECT_FALSE(AddDriver(nullptr, "dep.dll\0")) << "a dependent file is missing";
  EXPECT_TRUE(AddDriver(nullptr)) << "NULL is the caller's own environment";
  EXPECT_TRUE(sim::spooler::HasDriver("D", "Windows NT x86"));
  EXPECT_EQ(sim::files::Contents(std::string(kX86Dir) + "\\3\\u.dll"), "u");
  EXPECT_TRUE(sim::files::Exists(std::string(kX86Dir) + "\\u.dll")) << "copied, not moved";
  EXPECT_FALSE(AddDriver("Windows 3.1"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_ENVIRONMENT));
}

TEST_F(SimSpooler, APrinterNeedsAPortANewNameAndADriverOfTheSpoolersOwnEnvironment) {
  sim::settings().wow64 = true;
  sim::spooler::AddDriver("D", "Windows NT x86");
  EXPECT_EQ(AddPrinter("P", "LPT1:", "D"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_UNKNOWN_PRINTER_DRIVER));
  sim::spooler::AddDriver("D", "Windows x64");
  EXPECT_EQ(AddPrinter("P", "NOPORT:", "D"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_UNKNOWN_PORT));
  HANDLE printer = AddPrinter("P", "LPT1:", "D");
  ASSERT_NE(printer, nullptr);
  ClosePrinter(printer);
  EXPECT_EQ(AddPrinter("p", "LPT1:", "D"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PRINTER_ALREADY_EXISTS));
}

TEST_F(SimSpooler, EnumerationSizesAndFillsTheCallersBlockOnly) {
  DWORD needed = 1, count = 1;
  EXPECT_TRUE(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &count));
  EXPECT_EQ(needed, 0u) << "no printers";
  sim::spooler::AddPrinter("One", "LPT1:", "D");
  sim::spooler::AddPrinter("Two", "FILE:", "E");
  EXPECT_FALSE(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &count));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  // No block but a size that would fit, as Windows answers it in ReactOS's conformance test.
  DWORD none = 1;
  EXPECT_FALSE(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, needed, &none, &count));
  EXPECT_EQ(GetLastError(), 1784u) << "ERROR_INVALID_USER_BUFFER";
  EXPECT_EQ(none, 0u);
  std::vector<BYTE> block(needed + 64, 0xCD);
  EXPECT_FALSE(
      EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, block.data(), needed - 1, &needed, &count));
  ASSERT_TRUE(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, block.data(), needed, &needed, &count));
  ASSERT_EQ(count, 2u);
  const auto* records = reinterpret_cast<const PRINTER_INFO_2A*>(block.data());
  EXPECT_STREQ(records[1].pPrinterName, "Two");
  EXPECT_STREQ(records[1].pDriverName, "E");
  for (const char* text : {records[0].pPrinterName, records[0].pPortName, records[1].pDatatype}) {
    EXPECT_GE(reinterpret_cast<const BYTE*>(text), block.data());
    EXPECT_LT(reinterpret_cast<const BYTE*>(text), block.data() + needed);
  }
  EXPECT_EQ(block[needed], 0xCD) << "nothing written past the block";
}

TEST_F(SimSpooler, DeletingADriverNamesItsEnvironmentAndWaitsForItsPrinters) {
  sim::settings().wow64 = true;
  sim::spooler::AddDriver("D", "Windows x64");
  sim::spooler::AddPrinter("P", "LPT1:", "D");
  EXPECT_FALSE(DeletePrinterDriverA(nullptr, nullptr, const_cast<char*>("D")));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_UNKNOWN_PRINTER_DRIVER)) << "x86 meant";
  EXPECT_FALSE(
      DeletePrinterDriverA(nullptr, const_cast<char*>("Windows x64"), const_cast<char*>("D")));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PRINTER_DRIVER_IN_USE));
}

}  // namespace
