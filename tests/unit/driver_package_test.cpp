#include "common/names.h"
#include "files.h"
#include "fixture.h"
#include "product_files.h"
#include "spooler.h"
#include "spooler/spooler.h"

namespace {

using sim::files::Attributes;
using sim::files::Contents;

constexpr char kX86Dir[] = "C:\\Windows\\system32\\spool\\drivers\\w32x86";
constexpr char kX64Dir[] = "C:\\Windows\\system32\\spool\\drivers\\x64";
constexpr char kSources[] = "C:\\Program Files\\Tembrin\\plugins\\creator\\";

class DriverPackage : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    CopyPath(InstallDir, "C:\\Program Files\\Tembrin\\");
    CopyPath(DriverEnvironment, "Windows NT x86");
    CopyPath(DriverDir, kX86Dir);
    SeedProductFiles(InstallDir);
  }
  static void On64BitWindows() {
    sim::settings().wow64 = true;
    Is64BitWindows = 1;
    CopyPath(DriverEnvironment, "Windows x64");
    CopyPath(DriverDir, kX64Dir);
  }
  static std::string In(const std::string& directory, const char* name) {
    return directory + "\\" + name;
  }
};

TEST_F(DriverPackage, CopiesTheThreeFilesAndRegistersTheVersion3Driver) {
  EXPECT_EQ(DeployPrinterDriver(), 1);
  EXPECT_EQ(CallSequence({"CopyFileA"}), std::string("CopyFileA(") + kSources + "qelvpr_drv.dll, " +
                                             kX86Dir + "\\qelvpr_drv.dll, 0), CopyFileA(" +
                                             kSources + "qelvpr_ui.dll, " + kX86Dir +
                                             "\\qelvpr_ui.dll, 0), CopyFileA(" + kSources +
                                             "qelvpr_pnt.txt, " + kX86Dir + "\\qelvpr_pnt.txt, 0)");
  // Help file and default data type "", not NULL; no dependent files: an empty list, two NULs.
  EXPECT_EQ(CallSequence({"AddPrinterDriverA"}),
            "AddPrinterDriverA(NULL, 3, 3, Tessix Tembrin Printer Driver, Windows NT x86, "
            "qelvpr_drv.dll, qelvpr_pnt.txt, qelvpr_ui.dll, , \\0\\0, NULL, )");
  EXPECT_TRUE(sim::spooler::HasDriver(kDriverName, "Windows NT x86"));
  EXPECT_EQ(Contents(In(kX86Dir, "3\\qelvpr_ui.dll")), "qelvpr_ui.dll");
}

TEST_F(DriverPackage, On64BitWindowsThe64BitFilesArriveUnderThePlainNames) {
  On64BitWindows();
  EXPECT_EQ(DeployPrinterDriver(), 1);
  EXPECT_EQ(Contents(In(kX64Dir, "qelvpr_drv.dll")), "qelvpr_drv64.dll");
  EXPECT_EQ(Contents(In(kX64Dir, "qelvpr_ui.dll")), "qelvpr_ui64.dll");
  EXPECT_EQ(Contents(In(kX64Dir, "qelvpr_pnt.txt")), "qelvpr_pnt64.txt");
  EXPECT_EQ(sim::files::List(kX64Dir),
            (std::vector<std::string>{"3", "qelvpr_drv.dll", "qelvpr_pnt.txt", "qelvpr_ui.dll"}));
  EXPECT_TRUE(sim::spooler::HasDriver(kDriverName, "Windows x64"));
  EXPECT_FALSE(sim::spooler::HasDriver(kDriverName, "Windows NT x86"));
}

// A step that fails takes away the copies it placed where no file was, and leaves those it copied
// over: a driver that was not registered has no use for them.
TEST_F(DriverPackage, AMissingSourceStopsTheCopiesAndTheRegistrationAndTakesItsCopiesAway) {
  On64BitWindows();
  sim::files::AddFile(In(kX64Dir, "qelvpr_pnt.txt"), "an older data file");
  sim::files::Remove(std::string(kSources) + "qelvpr_ui64.dll");
  EXPECT_FALSE(DriverFilesCanBeCopied());
  EXPECT_EQ(DeployPrinterDriver(), 0);
  EXPECT_EQ(sim::files::List(kX64Dir), (std::vector<std::string>{"3", "qelvpr_pnt.txt"}));
  EXPECT_EQ(sim::CountCalls("AddPrinterDriverA"), 0);

  SetUp();
  EXPECT_TRUE(DriverFilesCanBeCopied());
  sim::FailNth("CopyFileA", 3, FALSE);
  EXPECT_EQ(DeployPrinterDriver(), 0);
  EXPECT_EQ(sim::CountCalls("AddPrinterDriverA"), 0);
  EXPECT_EQ(sim::files::List(kX86Dir), std::vector<std::string>{"3"});
}

// CopyFileA refuses a read-only, hidden or system destination: an earlier copy first loses those
// three bits, and keeps the others until the copy replaces it.
TEST_F(DriverPackage, AnExistingFileInTheDriverDirectoryIsOverwrittenReadOnlyHiddenOrSystem) {
  const std::pair<DWORD, const char*> cases[] = {
      {FILE_ATTRIBUTE_ARCHIVE, nullptr},
      {FILE_ATTRIBUTE_READONLY, "0x80"},
      {FILE_ATTRIBUTE_HIDDEN, "0x80"},
      {FILE_ATTRIBUTE_SYSTEM, "0x80"},
      {FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | 0x20, "0xa0"}};
  for (const auto& [attributes, cleared] : cases) {
    SetUp();
    sim::files::AddFile(In(kX86Dir, "qelvpr_drv.dll"), "an older driver", attributes);
    EXPECT_EQ(DeployPrinterDriver(), 1) << attributes;
    EXPECT_EQ(Contents(In(kX86Dir, "qelvpr_drv.dll")), "qelvpr_drv.dll") << attributes;
    EXPECT_EQ(
        CallSequence({"SetFileAttributesA"}),
        cleared ? "SetFileAttributesA(" + In(kX86Dir, "qelvpr_drv.dll") + ", " + cleared + ")" : "")
        << attributes;
  }
}

TEST_F(DriverPackage, OnlyTheTwoLibrariesLoseTheirReadOnlyBitAndNothingElse) {
  const DWORD readOnly = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE;
  sim::files::AddFile(std::string(kSources) + "qelvpr_drv.dll", "d", readOnly);
  sim::files::AddFile(std::string(kSources) + "qelvpr_ui.dll", "u",
                      readOnly | FILE_ATTRIBUTE_HIDDEN);
  sim::files::AddFile(std::string(kSources) + "qelvpr_pnt.txt", "p", readOnly);
  EXPECT_EQ(DeployPrinterDriver(), 1);
  EXPECT_EQ(Attributes(In(kX86Dir, "qelvpr_drv.dll")), static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_EQ(Attributes(In(kX86Dir, "qelvpr_ui.dll")),
            static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN));
  EXPECT_EQ(Attributes(In(kX86Dir, "qelvpr_pnt.txt")), readOnly);
  EXPECT_EQ(CallSequence({"SetFileAttributesA"}),
            std::string("SetFileAttributesA(") + kX86Dir + "\\qelvpr_drv.dll, 0xa0), " +
                "SetFileAttributesA(" + kX86Dir + "\\qelvpr_ui.dll, 0xa2)");
}

TEST_F(DriverPackage, AWritableFileIsNotTouched) {
  SeedProductFiles(InstallDir);
  EXPECT_EQ(DeployPrinterDriver(), 1);
  EXPECT_EQ(DeployPrinterDriver(), 1) << "over the first copies";
  EXPECT_EQ(sim::CountCalls("SetFileAttributesA"), 0);
}

TEST_F(DriverPackage, AFailedRegistrationTakesAwayTheCopiesItPlaced) {
  sim::files::AddFile(std::string(kSources) + "qelvpr_drv.dll", "d", FILE_ATTRIBUTE_READONLY);
  sim::files::AddFile(In(kX86Dir, "qelvpr_ui.dll"), "an older library");
  sim::FailAlways("AddPrinterDriverA", FALSE);
  EXPECT_EQ(DeployPrinterDriver(), 0);
  EXPECT_EQ(sim::files::List(kX86Dir), (std::vector<std::string>{"3", "qelvpr_ui.dll"}));
  EXPECT_EQ(Contents(In(kX86Dir, "qelvpr_ui.dll")), "qelvpr_ui.dll") << "copied over, kept";
}

TEST_F(DriverPackage, WithoutAnInstallationPathTheSourcesLieAtTheRootOfTheCurrentDrive) {
  sim::settings().currentDrive = 'D';
  CopyPath(InstallDir, "\\");
  SeedProductFiles("D:\\");
  EXPECT_EQ(DeployPrinterDriver(), 1);
  EXPECT_EQ(sim::CallsTo("CopyFileA")[0].args[0], "\\plugins\\creator\\qelvpr_drv.dll");
}

TEST_F(DriverPackage, APathThatWouldNotFitIsRefusedBeforeAnyCopy) {
  On64BitWindows();
  // "C:\" + n + "\plugins\creator\qelvpr_drv64.dll": 259 characters for n = 223.
  for (const size_t n : {223, 224}) {
    CopyPath(InstallDir, ("C:\\" + std::string(n, 'i') + "\\").c_str());
    sim::ClearCalls();
    EXPECT_EQ(DeployPrinterDriver(), 0) << "no such source";
    EXPECT_EQ(sim::CountCalls("CopyFileA"), n == 223 ? 1 : 0) << n;
  }
}

TEST_F(DriverPackage, ADriverDirectoryThatLeavesNoRoomIsRefusedBeforeAnyCopy) {
  // DriverDir + "\qelvpr_drv.dll": 259 characters for a directory of 244.
  for (const size_t n : {241, 242}) {
    SetUp();
    CopyPath(DriverDir, ("C:\\" + std::string(n, 'd')).c_str());
    sim::files::AddDirectory(DriverDir);
    DeployPrinterDriver();
    EXPECT_EQ(sim::CountCalls("CopyFileA"), n == 241 ? 3 : 0) << n;
  }
}

}  // namespace
