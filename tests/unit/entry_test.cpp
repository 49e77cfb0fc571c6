#include "common/names.h"
#include "entry/sequences.h"
#include "fixture.h"
#include "kernel.h"
#include "product_files.h"
#include "registry.h"
#include "security.h"
#include "spooler.h"

#include <functional>
#include <optional>

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
         {"C:\\", "C:\\Program Files\\Tembrin\\", "C:\\Program Files\\T\\", "D:\\Ü\\"})
      SeedProductFiles(installDir);
  }
  std::string Recorded(const char* name) {
    return sim::reg::GetString(HKEY_LOCAL_MACHINE, kProductKey, name).value_or("<missing>");
  }
  // Where the installer writes it, which is where the agent reads it on either Windows.
  static void SeedInstallPath(const std::string& path = "C:\\Program Files\\T") {
    sim::reg::SetString(HKEY_LOCAL_MACHINE, kProductKey, "InstallPath", path, View::Native);
  }
};

TEST_F(Entry, NonAdministratorStopsBeforeReadingAnything) {
  sim::settings().administrator = false;
  RunAgent("/Install");
  EXPECT_EQ(CallSequence({"RegCreateKeyExA", "RegOpenKeyExA", "RegQueryValueExA"}),
            "RegCreateKeyExA(HKLM, Software, 0, 0xf003f)")
      << "the administrator probe's only";
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
  SeedProductFiles("D:\\T\\");
  RunAgent("/Install");
  EXPECT_STREQ(InstallDir, "D:\\T\\");
}

// Only a full path names the installation directory: anything else would be looked for wherever
// the current drive and directory happen to be. Without one the install changes nothing at all
// (the start-up read has created the product key, empty, as for any command).
TEST_F(Entry, OnlyAFullInstallPathThatFitsIsUsedAndWithoutOneTheInstallChangesNothing) {
  // The lengths at the buffer's end are the hostile-path tests' business.
  const std::pair<std::optional<std::string>, std::string> cases[] = {
      {"C:\\Program Files\\T", "C:\\Program Files\\T\\"},
      // Full, but any user may add a folder to a root, and a share's own permissions cannot be
      // read from here.
      {"d:\\", ""},
      {"\\\\server\\share\\T\\", ""},
      {std::nullopt, ""},
      {"\\Program Files\\T", ""},
      {"C:Program Files\\T", ""},
      {"C:/Program Files/T", ""},
      {"1:\\T", ""},
      {"\\\\server", ""},
      {"\\\\server\\", ""},
      {"\\\\\\share", ""},
      {"\\\\?\\C:\\T", ""},
      {"\\\\.\\C:\\T", ""},
      // Under 1252 these read, with Windows' best fit, as "C:\Program Files\T", which any user
      // could have made; one the code page writes exactly is taken.
      {"C:\\Program Files＼T", ""},
      {"C:\\Program Fileś\\T", ""},
      {"d:\\Ü", "d:\\\xdc\\"},
  };
  for (const auto& [value, expected] : cases) {
    SetUp();
    if (value)
      SeedInstallPath(*value);
    if (!expected.empty())
      SeedProductFiles(*value + (value->back() == '\\' ? "" : "\\"));
    const std::string before = sim::Dump();
    RunAgent("/Install");
    const std::string shown = value ? "\"" + *value + "\"" : "no value";
    EXPECT_EQ(std::string(InstallDir), expected) << shown;
    EXPECT_EQ(sim::spooler::HasPort(kPortName), !expected.empty()) << shown << ": the install ran";
    if (expected.empty() && value) {
      EXPECT_EQ(sim::Dump(), before) << shown << ": nothing changed";
    }
    EXPECT_EQ(sim::Leaks(), "");
  }
}

TEST_F(Entry, CommandsThatRunNothing) {
  for (const char* tail : {"/install", "/INSTALL", "/Install ", "/Install /quiet", "", "Install",
                           "-Install", "/Uninstall2", "/uninstall"}) {
    SetUp();
    RunAgent(tail);
    // The start-up read leaves the product key behind, empty.
    EXPECT_TRUE(sim::reg::KeyExists(HKEY_LOCAL_MACHINE, kProductKey));
    EXPECT_TRUE(sim::reg::ValueNames(HKEY_LOCAL_MACHINE, kProductKey).empty());
    SetUp();
    SeedInstallPath();  // without it an install that ran would change nothing either
    RunAgent(tail);
    EXPECT_EQ(sim::CountCalls("RegSetValueExA"), 0) << "tail \"" << tail << "\"";
  }
}

TEST_F(Entry, QuotedProgramNameFollowedBySpacesRunsTheUninstall) {
  SeedInstallPath();
  sim::settings().commandLine = "\"C:\\Program Files\\Setup\\printer-setup.exe\"    /Uninstall";
  WinMain(nullptr, nullptr, nullptr, 0);
  EXPECT_EQ(sim::CountCalls("SHChangeNotify"), 1) << "the uninstall ran";
  EXPECT_FALSE(sim::reg::GetValue(HKEY_LOCAL_MACHINE, kProductKey, "Version"))
      << "the uninstall writes no record";
  sim::settings().commandLine = "\"C:\\Program Files\\Setup\\printer-setup.exe\"/Install";
  SeedInstallPath();  // the uninstall took it away
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

TEST_F(Entry, On64BitWindowsARefusedRedirectionSwitchLeavesNoInstallDir) {
  sim::settings().wow64 = true;
  sim::FailAlways("Wow64DisableWow64FsRedirection", FALSE);
  SeedInstallPath("C:\\T\\");
  RunAgent("/Install");
  EXPECT_STREQ(InstallDir, "");
  EXPECT_EQ(sim::CountCalls("XcvDataW"), 0);
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
  SetUp();
  sim::spooler::SetDriverDirectory("Windows NT x86", "spool\\drivers\\w32x86");
  RunAgent("");
  EXPECT_STREQ(DriverDir, "") << "a relative directory names a place below the current one";
}

// NT 4 and the 95/98/Me family skip both probes and run as an administrator of 32-bit Windows,
// but the printer needs Windows 2000: NT 4's winspool has no XcvDataW for the port, and the
// 95/98/Me spooler knows no "Windows NT x86" and names no driver directory. Windows on ARM runs
// the agent emulated and takes the x64 driver only for x64 clients: where IsWow64Process2 names
// the machine, the install changes nothing; without it, it stops at the printer, as it always did.
// Where no driver of ours can load (Windows on ARM, protected print mode switched on by policy or
// in Settings) nothing is tried, and the record of an earlier install, which cannot hold there,
// goes.
TEST_F(Entry, ThePrinterNeedsWindows2000AndADriverForTheMachine) {
  struct Row {
    const char* name;
    DWORD major, minor, build;
    WORD machine;
    bool portTried, installed;
    bool recordGoes = false;               // an earlier install's record
    const char* protectedPrint = nullptr;  // the value set to `state`
    DWORD state = 1;
  } rows[] = {
      {"NT 4", 4, 0, 1381, IMAGE_FILE_MACHINE_I386, true, false},
      {"98", 4, 10, 2222, IMAGE_FILE_MACHINE_I386, false, false},
      {"2000", 5, 0, 2195, IMAGE_FILE_MACHINE_I386, true, true},
      {"10 x64", 10, 0, 19045, IMAGE_FILE_MACHINE_AMD64, true, true},
      {"11 on ARM64", 10, 0, 22000, IMAGE_FILE_MACHINE_ARM64, false, false, true},
      {"ARM64 without IsWow64Process2", 10, 0, 15063, IMAGE_FILE_MACHINE_ARM64, true, false},
      {"protected print by policy", 10, 0, 26100, IMAGE_FILE_MACHINE_AMD64, false, false, true,
       "WindowsProtectedPrintGroupPolicyState"},
      {"protected print in Settings", 10, 0, 26100, IMAGE_FILE_MACHINE_AMD64, false, false, true,
       "WindowsProtectedPrintMode"},
      {"protected print off", 10, 0, 26100, IMAGE_FILE_MACHINE_AMD64, true, true, false,
       "WindowsProtectedPrintGroupPolicyState", 0}};
  for (const Row& row : rows) {
    SetUp();
    SeedInstallPath();
    sim::Settings& machine = sim::settings();
    machine.majorVersion = row.major;
    machine.minorVersion = row.minor;
    machine.buildNumber = row.build;
    machine.win9xFamily = row.minor == 10;
    machine.wow64 = row.machine != IMAGE_FILE_MACHINE_I386;
    machine.nativeMachine = row.machine;
    sim::reg::CreateKey(HKEY_LOCAL_MACHINE, "Software\\Wow6432Node", View::Native);  // as Windows
    if (row.protectedPrint)
      sim::reg::SetDword(HKEY_LOCAL_MACHINE,
                         "Software\\Policies\\Microsoft\\Windows NT\\Printers\\WPP",
                         row.protectedPrint, row.state, View::Native);
    if (row.recordGoes)
      sim::reg::SetString(HKEY_LOCAL_MACHINE, kProductKey, "Version", "2.0.0.0424");
    const std::string before = sim::Dump();
    RunAgent("/Install");
    EXPECT_EQ(CallSequence({"GetProcAddress"}).find("XcvDataW") != std::string::npos, row.portTried)
        << row.name;
    EXPECT_EQ(Recorded("Version"), row.installed ? "2.0.0.0424" : "<missing>") << row.name;
    if (!row.portTried) {
      if (row.recordGoes)
        sim::reg::SetString(HKEY_LOCAL_MACHINE, kProductKey, "Version", "2.0.0.0424");
      EXPECT_EQ(sim::Dump(), before) << row.name << ": nothing changed but the record";
    }
  }
  // What an earlier version left on Windows on ARM goes as on x64 Windows.
  sim::spooler::AddDriver(kDriverName, "Windows x64");
  sim::spooler::AddPort(kPortName);
  RunAgent("/Uninstall");
  EXPECT_TRUE(sim::spooler::Drivers().empty() && !sim::spooler::HasPort(kPortName));
}

// One run at a time: a second run waits for the first, for a minute at most, then goes on as it
// would; a lock left by a killed run is taken over at once. From Vista on the lock lives in a
// namespace that only administrators can make, which no user's object of the same name reaches;
// XP and 2003 use "Global\\", and a name taken there is no lock rather than a session's own one.
TEST_F(Entry, OneRunAtATimeAndNeverStoppedForGood) {
  const std::string spaced = "\\Namespace\\TessixTembrinPrinterSetup{S-1-5-32-544}\\Lock";
  const std::string global = "\\BaseNamedObjects\\TessixTembrinPrinterSetup";
  const std::string inSession = "\\Sessions\\1\\BaseNamedObjects\\TessixTembrinPrinterSetup";
  const auto xp = [](DWORD session) {
    sim::settings().majorVersion = 5, sim::settings().minorVersion = 1;
    sim::settings().session = session;
  };
  const auto squat = [&] {
    sim::kernel::AddEvent(global);
    sim::kernel::DenyMutex(inSession);
  };
  // The names CreateMutexA is given: in the namespace, or in Global\.
  const char* const lock = "TessixTembrinPrinterSetup\\Lock";
  const char* const lockInGlobal = "Global\\TessixTembrinPrinterSetup";
  struct Row {
    const char* what;
    std::function<void()> before;
    DWORD waited;
    const char* created;             // the names CreateMutexA was given
    std::vector<std::string> names;  // the mutexes that exist afterwards
  } rows[] = {
      {"free", [] {}, 0, lock, {}},
      {"held for 7 s", [&] { sim::kernel::HoldMutex(spaced, 7000); }, 7000, lock, {spaced}},
      {"held for good", [&] { sim::kernel::HoldMutex(spaced); }, 60000, lock, {spaced}},
      {"abandoned by a killed run", [&] { sim::kernel::AbandonMutex(spaced); }, 0, lock, {spaced}},
      {"a user's event in Global\\ and mutex in the session, held for 3 s",
       [&] { squat(), sim::kernel::HoldMutex(spaced, 3000); },
       3000,
       lock,
       {spaced, inSession}},
      {"a user's namespace of that name outside any boundary, held for 2 s",
       [&] {
         sim::kernel::AddEvent("\\Namespace\\TessixTembrinPrinterSetup{}\\Lock");
         sim::kernel::HoldMutex(spaced, 2000);
       },
       2000,
       lock,
       {spaced}},
      {"another run's namespace, closed before it could be opened, then held for 4 s",
       [&] {
         sim::FailNth("CreatePrivateNamespaceA", 1, 0, ERROR_ALREADY_EXISTS);
         sim::FailNth("OpenPrivateNamespaceA", 1, 0, ERROR_FILE_NOT_FOUND);
         sim::kernel::HoldMutex(spaced, 4000);
       },
       4000,
       lock,
       {spaced}},
      {"an administrator's program holds the namespace shut",
       [&] {
         sim::kernel::HoldNamespace(sim::kernel::BoundaryKey("TessixTembrinPrinterSetup",
                                                             {sim::security::kAdministrators}),
                                    false);
       },
       0,
       lockInGlobal,
       {global}},
      {"XP", [&] { xp(1); }, 0, lockInGlobal, {global}},
      {"XP, made by SYSTEM, held for 3 s",
       [&] {
         xp(1);
         sim::kernel::DenyMutex(global, SYNCHRONIZE | MUTEX_MODIFY_STATE);
         sim::kernel::HoldMutex(global, 3000);
       },
       3000,
       lockInGlobal,
       {global}},
      {"XP, a user's squat, in a user's session",
       [&] { xp(1), squat(); },
       0,
       lockInGlobal,
       {inSession}},
      {"XP, a user's squat, as SYSTEM in session 0",
       [&] { xp(0), squat(); },
       0,
       lockInGlobal,
       {inSession}},
      {"NT 4, held for 2 s",
       [&] {
         sim::settings().majorVersion = 4, sim::settings().minorVersion = 0;
         sim::kernel::HoldMutex("TessixTembrinPrinterSetup", 2000);
       },
       2000,
       "TessixTembrinPrinterSetup",
       {global}},
  };
  for (const Row& row : rows) {
    SetUp();
    SeedInstallPath();
    row.before();
    RunAgent("/Install");
    EXPECT_EQ(sim::kernel::Clock(), row.waited) << row.what;
    std::string created;
    for (const sim::Call& call : sim::CallsTo("CreateMutexA"))
      created += (created.empty() ? "" : ", ") + call.args[2];
    EXPECT_EQ(created, row.created) << row.what;
    EXPECT_EQ(sim::kernel::Mutexes(), row.names) << row.what;
    EXPECT_NE(CallSequence({"GetProcAddress"}).find("XcvDataW"), std::string::npos)
        << row.what << ": the run did its work";
    // Taken before the first read, let go after the last write.
    std::string calls;
    for (const std::string& name : sim::CallNames())
      calls += name + " ";
    EXPECT_LT(calls.find("CreateMutexA"), calls.find("RegQueryValueExA")) << row.what;
    if (calls.find("ReleaseMutex") != std::string::npos) {  // not where the wait ran out
      EXPECT_GT(calls.find("ReleaseMutex"), calls.rfind("RegSetValueExA") + 1) << row.what;
    }
  }
  // Only SYSTEM and Administrators may open it, whoever made it.
  SetUp();
  RunAgent("/Install");
  EXPECT_EQ(CallSequence({"CreatePrivateNamespaceA"}),
            "CreatePrivateNamespaceA(O: D:(A;0x0;0x10000000;S-1-5-18)"
            "(A;0x0;0x10000000;S-1-5-32-544), TessixTembrinPrinterSetup{S-1-5-32-544}, "
            "TessixTembrinPrinterSetup)");
}

// Quoted, so that Windows never runs a "C:\Users\tester\AppData\Roaming\Tessix.exe" instead.
TEST_F(Entry, RunOnceNamesTheCompletionProgramInTheApplicationDataFolder) {
  SeedInstallPath();
  RunAgent("/Install");
  EXPECT_EQ(sim::reg::GetString(HKEY_LOCAL_MACHINE, kRunOnceKey, "TembrinInstallComplete"),
            "\"C:\\Users\\tester\\AppData\\Roaming\\Tessix Software\\Tessix Tembrin\\"
            "TembrinInstallComplete.exe\"");
  EXPECT_EQ(sim::CountCalls("CoTaskMemFree"), 1) << "the shell's item list goes back";
}

TEST_F(Entry, RunOnceLongestFolderThatFitsAndTheFirstThatDoesNot) {
  const size_t room = 259 - 60;  // the two appended parts and the quotes take 60 characters
  sim::settings().appDataFolder = "C:\\" + std::string(room - 3, 'f');
  SeedInstallPath();
  RunAgent("/Install");
  const auto written =
      sim::reg::GetString(HKEY_LOCAL_MACHINE, kRunOnceKey, "TembrinInstallComplete");
  ASSERT_TRUE(written);
  EXPECT_EQ(written->size(), 259u);

  SetUp();
  sim::settings().appDataFolder = "C:\\" + std::string(room - 2, 'f');
  SeedInstallPath();
  RunAgent("/Install");
  EXPECT_FALSE(sim::reg::KeyExists(HKEY_LOCAL_MACHINE, kRunOnceKey));
  EXPECT_EQ(Recorded("Version"), "2.0.0.0424") << "the record is still written";
}

// The folder must come through exactly, or Windows would start another folder's program at the
// next logon. The 95/98/Me family keeps names in the code page itself and has no Unicode shell.
TEST_F(Entry, RunOnceIsSkippedWhenTheFolderCannotBeDeterminedExactly) {
  struct Row {
    const char* what;
    const char* folder;
    const char* failing;
    bool win9x;
    bool written;
  } rows[] = {
      {"exact", "C:\\Users\\tester\\AppData\\Roaming", nullptr, false, true},
      {"no folder", "", nullptr, false, false},
      {"no path", "C:\\Users\\tester\\AppData\\Roaming", "SHGetPathFromIDListA", false, false},
      // Under 1252 this folder reads as "C:\Users\Lukasz\...", a folder any user may create.
      {"best-fitted", "C:\\Users\\Łukasz\\AppData\\Roaming", nullptr, false, false},
      {"no conversion back", "C:\\Users\\tester\\AppData\\Roaming", "MultiByteToWideChar", false,
       false},
      {"98", "C:\\WINDOWS\\Application Data", nullptr, true, true},
  };
  for (const Row& row : rows) {
    SetUp();
    sim::settings().appDataFolder = row.folder;
    sim::settings().win9xFamily = row.win9x;
    if (row.failing)
      sim::FailAlways(row.failing, 0);
    WriteRunOnceEntry();
    EXPECT_EQ(
        sim::reg::GetString(HKEY_LOCAL_MACHINE, kRunOnceKey, "TembrinInstallComplete").has_value(),
        row.written)
        << row.what;
    EXPECT_EQ(sim::CountCalls("SHGetPathFromIDListA"), row.folder[0] ? 1 : 0) << row.what;
  }
}

// No spooler, no driver directory: the install changes nothing, the uninstall only the registry.
// A spooler that is still starting is waited for, up to the 30 s a service has to start; one
// that is stopped, disabled or stopping is final at once, and a running one costs no wait. One
// that came up between the failed call and the look at the service is asked again, a few times.
TEST_F(Entry, ASpoolerStillStartingIsWaitedForAndWithoutOneNoFileIsTouched) {
  using sim::spooler::Service;
  struct Row {
    const char* what;
    Service state;
    DWORD startsIn;
    int failedCalls;  // GetPrinterDriverDirectoryA calls that fail before the spooler answers
    DWORD waited;
    bool installs;
  } rows[] = {{"running", Service::Running, 0, 0, 0, true},
              {"up between two looks", Service::Running, 0, 1, 500, true},
              {"running, naming no directory", Service::Running, 0, 99, 1500, false},
              {"starting for 3.2 s", Service::StartPending, 3200, 0, 3500, true},
              {"starting for 40 s", Service::StartPending, 40000, 0, 30000, false},
              {"stopping", Service::StopPending, 0, 0, 0, false},
              {"stopped", Service::Stopped, 0, 0, 0, false}};
  for (const Row& row : rows) {
    SetUp();
    SeedInstallPath();
    sim::reg::SetString(HKEY_LOCAL_MACHINE, kProductKey, "strdocument", "Old.Document");
    sim::spooler::SetService(row.state, row.startsIn);
    for (int call = 1; call <= row.failedCalls; ++call)
      sim::FailNth("GetPrinterDriverDirectoryA", call, FALSE, RPC_S_SERVER_UNAVAILABLE);
    const std::string before = sim::Dump();
    RunAgent("/Install");
    EXPECT_EQ(sim::kernel::Clock(), row.waited) << row.what;
    EXPECT_EQ(sim::spooler::HasPrinter(kPrinterName), row.installs) << row.what;
    if (row.installs)
      continue;
    EXPECT_EQ(sim::Dump(), before) << row.what;
    sim::spooler::SetService(row.state == Service::StartPending ? Service::Stopped : row.state);
    sim::ClearCalls();
    RunAgent("/Uninstall");
    EXPECT_EQ(sim::reg::GetString(HKEY_LOCAL_MACHINE, "Software\\Classes\\.pdf", ""),
              "Old.Document")
        << row.what;
    EXPECT_FALSE(sim::reg::KeyExists(HKEY_LOCAL_MACHINE, kProductKey)) << row.what;
    for (const char* call : {"MoveFileA", "DeleteFileA", "MoveFileExA", "GetFileAttributesA"})
      EXPECT_EQ(sim::CountCalls(call), 0) << row.what << ": " << call;
  }
}

TEST_F(Entry, InstallWritesRunOnceBeforeTheRecordInTableOrder) {
  SeedInstallPath("C:\\Program Files\\T\\");
  RunAgent("/Install");
  EXPECT_EQ(CallSequence({"RegSetValueExA"}),
            "RegSetValueExA(key#259, TembrinInstallComplete, 1, \"C:\\Users\\tester\\AppData\\"
            "Roaming\\Tessix Software\\Tessix Tembrin\\TembrinInstallComplete.exe\", 92), "
            "RegSetValueExA(key#260, InstallPath, 1, C:\\Program Files\\T\\, 20), "
            "RegSetValueExA(key#261, Version, 1, 2.0.0.0424, 11), "
            "RegSetValueExA(key#262, IsForAllUser, 1, , 1), "
            "RegSetValueExA(key#263, Language, 1, 1033, 5)");
}

}  // namespace
