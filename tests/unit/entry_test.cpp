#include "common/names.h"
#include "fixture.h"
#include "product_files.h"
#include "registry.h"
#include "spooler.h"

namespace {

using sim::reg::View;
constexpr char kRunOnceKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";

class Entry : public SimTest {
 protected:
  // The install only writes its record after a complete printer: the product files are there
  // for every installation directory these tests use.
  void SetUp() override {
    SimTest::SetUp();
    for (const char* installDir :
         {"C:\\", "C:\\Program Files\\Tembrin\\", "C:\\Program Files\\T\\"})
      SeedProductFiles(installDir);
  }
  std::string Recorded(const char* name) {
    return sim::reg::GetString(HKEY_LOCAL_MACHINE, kProductKey, name).value_or("<missing>");
  }
};

TEST_F(Entry, NonAdministratorStopsBeforeReadingAnything) {
  sim::settings().administrator = false;
  RunAgent("/Install");
  EXPECT_EQ(sim::CountCalls("RegQueryValueExA"), 0);
  EXPECT_EQ(sim::CountCalls("GetPrinterDriverDirectoryA"), 0);
  EXPECT_EQ(sim::reg::Dump(HKEY_LOCAL_MACHINE), "[]\n");
}

TEST_F(Entry, InstallWritesTheRecordWithTheNormalisedInstallPath) {
  sim::reg::SetString(HKEY_LOCAL_MACHINE, kProductKey, "InstallPath", "C:\\Program Files\\Tembrin");
  RunAgent("/Install");
  EXPECT_STREQ(InstallDir, "C:\\Program Files\\Tembrin\\");
  EXPECT_EQ(Recorded("InstallPath"), "C:\\Program Files\\Tembrin\\");
  EXPECT_EQ(Recorded("Version"), "2.0.0.0424");
  EXPECT_EQ(Recorded("IsForAllUser"), "");
  EXPECT_EQ(Recorded("Language"), "1033");
  EXPECT_EQ(sim::reg::ValueNames(HKEY_LOCAL_MACHINE, kProductKey),
            (std::vector<std::string>{"InstallPath", "Version", "IsForAllUser", "Language"}));
}

TEST_F(Entry, InstallPathWithItsBackslashIsKeptAsItIs) {
  sim::reg::SetString(HKEY_LOCAL_MACHINE, kProductKey, "InstallPath", "D:\\T\\");
  RunAgent("/Install");
  EXPECT_STREQ(InstallDir, "D:\\T\\");
}

TEST_F(Entry, MissingInstallPathMeansTheRootOfTheCurrentDrive) {
  RunAgent("/Install");
  EXPECT_STREQ(InstallDir, "\\");
  EXPECT_EQ(Recorded("InstallPath"), "\\");
}

TEST_F(Entry, InstallPathsAtTheBufferLimit) {
  struct Case {
    size_t length;
    bool backslash;
    std::string expected;
  };
  const std::string a258(258, 'a');
  const std::string a259(259, 'a');
  for (const Case& c :
       {Case{258, false, a258 + "\\"}, Case{259, false, "\\"},
        Case{258, true, a258.substr(0, 257) + "\\"}, Case{259, true, a259.substr(0, 258) + "\\"},
        Case{260, false, "\\"}, Case{70000, true, "\\"}}) {
    SetUp();
    std::string path(c.length, 'a');
    if (c.backslash)
      path.back() = '\\';
    sim::reg::SetString(HKEY_LOCAL_MACHINE, kProductKey, "InstallPath", path);
    RunAgent("/Install");
    EXPECT_EQ(std::string(InstallDir), c.expected) << c.length << " characters";
    EXPECT_EQ(sim::Leaks(), "");
  }
}

TEST_F(Entry, CommandsThatRunNothing) {
  for (const char* tail : {"/install", "/INSTALL", "/Install ", "/Install /quiet", "", "Install",
                           "-Install", "/Uninstall2", "/uninstall"}) {
    SetUp();
    RunAgent(tail);
    EXPECT_EQ(sim::CountCalls("RegSetValueExA"), 0) << "tail \"" << tail << "\"";
    // The start-up read leaves the product key behind, empty.
    EXPECT_TRUE(sim::reg::KeyExists(HKEY_LOCAL_MACHINE, kProductKey));
    EXPECT_TRUE(sim::reg::ValueNames(HKEY_LOCAL_MACHINE, kProductKey).empty());
    EXPECT_EQ(sim::Leaks(), "");
  }
}

TEST_F(Entry, QuotedProgramNameFollowedBySpacesRunsTheUninstall) {
  sim::settings().commandLine = "\"C:\\Program Files\\Setup\\printer-setup.exe\"    /Uninstall";
  WinMain(nullptr, nullptr, nullptr, 0);
  EXPECT_EQ(sim::CountCalls("SHChangeNotify"), 1) << "the uninstall ran";
  EXPECT_FALSE(sim::reg::GetValue(HKEY_LOCAL_MACHINE, kProductKey, "Version"))
      << "the uninstall writes no record";
  sim::settings().commandLine = "\"C:\\Program Files\\Setup\\printer-setup.exe\"/Install";
  WinMain(nullptr, nullptr, nullptr, 0);
  EXPECT_EQ(Recorded("Version"), "2.0.0.0424");
}

TEST_F(Entry, DriverEnvironmentAndDirectoryOn32BitWindows) {
  RunAgent("");
  EXPECT_STREQ(DriverEnvironment, "Windows NT x86");
  EXPECT_STREQ(DriverDir, "C:\\Windows\\system32\\spool\\drivers\\w32x86");
  EXPECT_EQ(CallSequence({"GetPrinterDriverDirectoryA"}),
            "GetPrinterDriverDirectoryA(NULL, Windows NT x86, 1, 260)");
}

TEST_F(Entry, On64BitWindowsTheX64DriverAndThe64BitInstallPath) {
  sim::settings().wow64 = true;
  sim::reg::SetString(HKEY_LOCAL_MACHINE, kProductKey, "InstallPath", "C:\\Program Files\\T",
                      View::Native);
  sim::reg::SetString(HKEY_LOCAL_MACHINE, kProductKey, "InstallPath", "C:\\WRONG\\");
  RunAgent("/Install");
  EXPECT_EQ(Is64BitWindows, 1);
  EXPECT_STREQ(InstallDir, "C:\\Program Files\\T\\");
  EXPECT_STREQ(DriverEnvironment, "Windows x64");
  EXPECT_STREQ(DriverDir, "C:\\Windows\\system32\\spool\\drivers\\x64");
  // The record lands in the 32-bit view; the 64-bit value is left as it was.
  EXPECT_EQ(Recorded("InstallPath"), "C:\\Program Files\\T\\");
  EXPECT_EQ(sim::reg::GetString(HKEY_LOCAL_MACHINE, kProductKey, "InstallPath", View::Native),
            "C:\\Program Files\\T");
  EXPECT_EQ(sim::CountCalls("Wow64DisableWow64FsRedirection"), 1);
}

TEST_F(Entry, On64BitWindowsARefusedRedirectionSwitchLeavesTheRoot) {
  sim::settings().wow64 = true;
  sim::FailAlways("Wow64DisableWow64FsRedirection", FALSE);
  sim::reg::SetString(HKEY_LOCAL_MACHINE, kProductKey, "InstallPath", "C:\\T\\", View::Native);
  RunAgent("/Install");
  EXPECT_STREQ(InstallDir, "\\");
}

TEST_F(Entry, FailedDriverDirectoryLeavesItEmpty) {
  sim::FailAlways("GetPrinterDriverDirectoryA", FALSE);
  RunAgent("/Install");
  EXPECT_STREQ(DriverDir, "");
  SetUp();
  sim::spooler::SetDriverDirectory("Windows NT x86", std::string(300, 'd'));
  memset(DriverDir, 0, sizeof DriverDir);
  RunAgent("");
  EXPECT_STREQ(DriverDir, "") << "a directory that does not fit is not taken in part";
}

// NT 4 and the 95/98/Me family skip both probes: the whole install runs as for an
// administrator on 32-bit Windows, with the flags as the process starts.
TEST_F(Entry, BeforeNt5TheInstallRunsWithTheFlagsItStartedWith) {
  for (const bool win9x : {false, true}) {
    SetUp();
    sim::settings().majorVersion = 4;
    sim::settings().minorVersion = win9x ? 10 : 0;
    sim::settings().win9xFamily = win9x;
    RunAgent("/Install");
    EXPECT_EQ(sim::CountCalls("IsWow64Process"), 0);
    EXPECT_EQ(HasAdminRights, 1);
    EXPECT_EQ(Is64BitWindows, 0);
    EXPECT_STREQ(DriverEnvironment, "Windows NT x86");
    EXPECT_TRUE(sim::spooler::HasPrinter(kPrinterName)) << "9x family: " << win9x;
    EXPECT_EQ(Recorded("Version"), "2.0.0.0424");
  }
}

TEST_F(Entry, RunOnceNamesTheCompletionProgramInTheApplicationDataFolder) {
  RunAgent("/Install");
  EXPECT_EQ(sim::reg::GetString(HKEY_LOCAL_MACHINE, kRunOnceKey, "TembrinInstallComplete"),
            "C:\\Users\\tester\\AppData\\Roaming\\Tessix Software\\Tessix Tembrin\\"
            "TembrinInstallComplete.exe");
  EXPECT_EQ(sim::CountCalls("CoTaskMemFree"), 1) << "the shell's item list goes back";
}

TEST_F(Entry, RunOnceLongestFolderThatFitsAndTheFirstThatDoesNot) {
  const size_t room = 259 - 58;  // the two appended parts take 58 characters
  sim::settings().appDataFolder = "C:\\" + std::string(room - 3, 'f');
  RunAgent("/Install");
  const auto written =
      sim::reg::GetString(HKEY_LOCAL_MACHINE, kRunOnceKey, "TembrinInstallComplete");
  ASSERT_TRUE(written);
  EXPECT_EQ(written->size(), 259u);

  SetUp();
  sim::settings().appDataFolder = "C:\\" + std::string(room - 2, 'f');
  RunAgent("/Install");
  EXPECT_FALSE(sim::reg::KeyExists(HKEY_LOCAL_MACHINE, kRunOnceKey));
  EXPECT_EQ(Recorded("Version"), "2.0.0.0424") << "the record is still written";
}

TEST_F(Entry, RunOnceIsSkippedWhenTheFolderCannotBeDetermined) {
  sim::settings().appDataFolder = "";
  RunAgent("/Install");
  EXPECT_FALSE(sim::reg::KeyExists(HKEY_LOCAL_MACHINE, kRunOnceKey));
  EXPECT_EQ(sim::CountCalls("SHGetPathFromIDListA"), 0);

  SetUp();
  sim::FailAlways("SHGetPathFromIDListA", FALSE);
  RunAgent("/Install");
  EXPECT_FALSE(sim::reg::KeyExists(HKEY_LOCAL_MACHINE, kRunOnceKey));
  EXPECT_EQ(Recorded("Language"), "1033");
}

TEST_F(Entry, InstallWritesRunOnceBeforeTheRecordInTableOrder) {
  RunAgent("/Install");
  EXPECT_EQ(CallSequence({"RegSetValueExA"}),
            "RegSetValueExA(key#258, TembrinInstallComplete, 1, C:\\Users\\tester\\AppData\\"
            "Roaming\\Tessix Software\\Tessix Tembrin\\TembrinInstallComplete.exe, 90), "
            "RegSetValueExA(key#259, InstallPath, 1, \\, 2), "
            "RegSetValueExA(key#260, Version, 1, 2.0.0.0424, 11), "
            "RegSetValueExA(key#261, IsForAllUser, 1, , 1), "
            "RegSetValueExA(key#262, Language, 1, 1033, 5)");
}

}  // namespace
