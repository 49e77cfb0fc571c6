// Paths near and past MAX_PATH: an installation directory, a driver directory and an
// application-data folder of every awkward length, and a system library that is a directory.
// Each row states how far the agent gets; no row may copy, load or delete under a cut-off name,
// and the sanitizer build proves that none writes past a buffer.
#include "hostile_support.h"
#include "spooler/spooler.h"
#include "system/system.h"

#include <string>
#include <vector>

namespace {

using namespace hostile;
using sim::files::Exists;

std::string Context(size_t length, bool trailing) {
  return std::to_string(length) + " characters " +
         (trailing ? "ending in a backslash" : "without a trailing backslash");
}

// ---------------------------------------------------------------------------------------------
// "InstallPath" of every awkward length.

// An "InstallPath" value of exactly `length` characters.
std::string InstallPathOf(size_t length, bool trailing) {
  if (length == 0)
    return "";
  if (length == 1)
    return trailing ? "\\" : "T";
  if (!trailing)
    return DirectoryOfLength("C:\\Tembrin", length);
  return DirectoryOfLength("C:\\Tembrin", length - 1) + "\\";
}

// The directory the value names, as the application's installer made it: with its backslash,
// below the current directory for a relative value.
std::string NamedDirectory(const std::string& stored) {
  if (stored.empty())
    return "C:\\";
  return stored.back() == '\\' ? stored : stored + "\\";
}

enum class Dir {
  AsStored,        // the value already ends in a backslash
  BackslashAdded,  // the value gets one
  None,            // the value names no usable directory: ""
};

enum class Reach {
  Complete,  // every step ran, and the directory was recorded as "InstallPath"
  Nothing,   // no usable directory, or a path the printer steps need does not fit: nothing
             // changed, since an install that could not finish would break a working printer
};

enum class Addin {
  Unregistered,  // the add-in's path fits: the uninstall runs its DllUnregisterServer
  Refused,       // no room for "qlc_wordaddin.dll": nothing initialised, nothing loaded
  NotLookedFor,  // no usable directory to look in
};

struct InstallPathRow {
  size_t length;
  bool trailing;
  Dir dir;
  Reach install;
  Addin uninstall;
  const char* why;
};

// On 32-bit Windows: the proxy's source needs InstallDir + 16 ("plugins\creator\") + 20
// ("QXN_ProxyProcess.exe") characters, the driver's first source + 14 ("qelvpr_drv.dll"), the
// add-in + 17 ("qlc_wordaddin.dll"); a path has at most 259.
const InstallPathRow kInstallPaths[] = {
    {0, false, Dir::None, Reach::Nothing, Addin::NotLookedFor,
     "empty: not the root of the current drive, where the product files were put"},
    {1, true, Dir::None, Reach::Nothing, Addin::NotLookedFor,
     "the current drive's root, where the product files were put"},
    {1, false, Dir::None, Reach::Nothing, Addin::NotLookedFor,
     "a folder below the current directory, where the product files were put"},
    {200, true, Dir::AsStored, Reach::Complete, Addin::Unregistered, "every path fits"},
    {200, false, Dir::BackslashAdded, Reach::Complete, Addin::Unregistered, "every path fits"},
    {223, true, Dir::AsStored, Reach::Complete, Addin::Unregistered,
     "the proxy's source takes the last character"},
    {223, false, Dir::BackslashAdded, Reach::Nothing, Addin::Unregistered,
     "224 with the backslash: the proxy's source is one too long"},
    {229, true, Dir::AsStored, Reach::Nothing, Addin::Unregistered,
     "the driver's sources take the last character"},
    {229, false, Dir::BackslashAdded, Reach::Nothing, Addin::Unregistered,
     "230 with the backslash: the driver's first source is one too long"},
    {242, true, Dir::AsStored, Reach::Nothing, Addin::Unregistered,
     "the add-in's path takes the last character"},
    {242, false, Dir::BackslashAdded, Reach::Nothing, Addin::Refused,
     "243 with the backslash: no room for the add-in's name"},
    {243, true, Dir::AsStored, Reach::Nothing, Addin::Refused, "no room for the add-in"},
    {243, false, Dir::BackslashAdded, Reach::Nothing, Addin::Refused, "no room for the add-in"},
    {258, true, Dir::AsStored, Reach::Nothing, Addin::Refused, "room for no file name"},
    {258, false, Dir::BackslashAdded, Reach::Nothing, Addin::Refused,
     "the added backslash takes the last character"},
    {259, true, Dir::AsStored, Reach::Nothing, Addin::Refused, "the longest text the buffer holds"},
    {259, false, Dir::None, Reach::Nothing, Addin::NotLookedFor,
     "no room for the backslash: counts as none rather than cut"},
    {260, true, Dir::None, Reach::Nothing, Addin::NotLookedFor,
     "does not fit the buffer with its terminator: ignored"},
    {260, false, Dir::None, Reach::Nothing, Addin::NotLookedFor, "ignored"},
    {300, true, Dir::None, Reach::Nothing, Addin::NotLookedFor, "ignored"},
    {300, false, Dir::None, Reach::Nothing, Addin::NotLookedFor, "ignored"},
    {70000, true, Dir::None, Reach::Nothing, Addin::NotLookedFor, "ignored"},
    {70000, false, Dir::None, Reach::Nothing, Addin::NotLookedFor, "ignored"},
};

std::string ExpectedInstallDir(const InstallPathRow& row, const std::string& stored) {
  switch (row.dir) {
    case Dir::AsStored:
      return stored;
    case Dir::BackslashAdded:
      return stored + "\\";
    case Dir::None:
      break;
  }
  return "";
}

// What a cut at MAX_PATH - 1 characters would name.
std::string CutToFit(const std::string& path) {
  return path.substr(0, MAX_PATH - 1);
}

class HostileInstallPath : public SimTest {
 protected:
  // The stored value, and the product files and add-in at the directory it names where a path
  // there can exist at all. Where the add-in's path or the driver library's source is too long,
  // a file and a COM server wait under the name a cut at MAX_PATH - 1 would give.
  std::string Prepare(const InstallPathRow& row, sim::reg::View view = sim::reg::View::Process) {
    addinTrap.clear();
    const std::string stored = InstallPathOf(row.length, row.trailing);
    sim::reg::SetString(HKEY_LOCAL_MACHINE, kProductKey, "InstallPath", stored, view);
    SeedSystemLibraries();
    const std::string directory = NamedDirectory(stored);
    if (directory.size() >= MAX_PATH)
      return stored;
    SeedProductFiles(directory);
    const std::string addin = directory + kAddinName;
    if (addin.size() < MAX_PATH) {
      AddAddin(addin);
    } else {
      addinTrap = CutToFit(addin);
      AddAddin(addinTrap);
    }
    // A cut that ends at a folder of the product files names that folder: no trap there.
    const std::string source = CutToFit(directory + "plugins\\creator\\qelvpr_drv.dll");
    if (source.back() != '\\' && !Exists(source))
      sim::files::AddFile(source, "cut-off name");
    return stored;
  }

  std::string addinTrap;  // the add-in's name cut to fit, where the whole name does not
};

using Names = std::vector<std::string>;

// The libraries loaded by path: everything but the system libraries the agent loads by name.
Names LibrariesLoaded() {
  Names loaded;
  for (const sim::Call& call : sim::CallsTo("LoadLibraryExA"))
    loaded.push_back(call.args[0]);
  return loaded;
}

// As the agent wrote it: on 64-bit Windows in the 32-bit view.
std::string Recorded(const char* name) {
  return sim::reg::GetString(HKEY_LOCAL_MACHINE, kProductKey, name).value_or("<missing>");
}

// How far the install got, from what it left on the machine.
void ExpectInstallReached(Reach reach, const std::string& installDir, const std::string& stored,
                          const std::string& context, const std::string& driverDir = kDriverDir32) {
  const bool complete = reach == Reach::Complete;
  EXPECT_EQ(sim::spooler::HasPort(kPort), complete)
      << context << ": the port needs no path, but an install that cannot finish adds none";
  EXPECT_EQ(sim::spooler::HasPrinter(kPrinter), complete) << context;
  EXPECT_EQ(Exists(driverDir + "\\3\\QXN_ProxyProcess.exe"), complete) << context;
  EXPECT_EQ(sim::com::RegisterCalls(installDir + kAddinName), complete ? 1 : 0) << context;
  EXPECT_EQ(sim::spooler::DefaultPrinter(), complete ? kPrinter : "") << context;
  EXPECT_EQ(Recorded("InstallPath"), complete ? installDir : stored)
      << context << ": only a complete install records the directory";
  if (reach == Reach::Nothing) {
    EXPECT_EQ(
        sim::CountCalls("MoveFileA") + sim::CountCalls("CopyFileA") +
            static_cast<int>(CallSequence({"RegOpenKeyExA"}).find("0xf003f") != std::string::npos),
        0)
        << context << ": not even the old driver files are retired";
  }
}

TEST_F(HostileInstallPath, InstallOfEveryLength) {
  for (const InstallPathRow& row : kInstallPaths) {
    SetUp();
    const std::string context = Context(row.length, row.trailing) + " (" + row.why + ")";
    const std::string stored = Prepare(row);
    RunAgent("/Install");

    const std::string installDir = ExpectedInstallDir(row, stored);
    EXPECT_EQ(std::string(InstallDir), installDir) << context;
    ExpectInstallReached(row.install, installDir, stored, context);
    if (!addinTrap.empty()) {
      EXPECT_EQ(sim::com::RegisterCalls(addinTrap), 0) << context << ": not the cut name";
    }
    EXPECT_EQ(CutOffPaths({installDir, kDriverDir32, kWindowsDir}), "") << context;
    EXPECT_EQ(sim::Leaks(), "") << context;
  }
}

TEST_F(HostileInstallPath, UninstallOfEveryLength) {
  for (const InstallPathRow& row : kInstallPaths) {
    SetUp();
    const std::string context = Context(row.length, row.trailing) + " (" + row.why + ")";
    const std::string stored = Prepare(row);
    SeedInstalledPrinter();
    RunAgent("/Uninstall");

    const std::string installDir = ExpectedInstallDir(row, stored);
    const std::string addin = installDir + kAddinName;
    switch (row.uninstall) {
      case Addin::Unregistered:
        EXPECT_EQ(LibrariesLoaded(), Names{addin}) << context;
        EXPECT_EQ(sim::com::UnregisterCalls(addin), 1) << context;
        break;
      case Addin::Refused:
        EXPECT_EQ(LibrariesLoaded(), Names{}) << context;
        EXPECT_EQ(sim::CountCalls("OleInitialize"), 0) << context << ": refused before OLE";
        EXPECT_EQ(sim::com::UnregisterCalls(addinTrap), 0) << context << ": not the cut name";
        break;
      case Addin::NotLookedFor:
        EXPECT_EQ(sim::CountCalls("OleInitialize"), 0) << context;
        EXPECT_EQ(sim::com::UnregisterCalls(NamedDirectory(stored) + kAddinName), 0) << context;
        break;
    }
    // Nothing of the chained removal depends on the installation directory.
    EXPECT_FALSE(sim::spooler::HasPrinter(kPrinter)) << context;
    EXPECT_FALSE(sim::spooler::HasDriver(kDriver)) << context;
    EXPECT_FALSE(sim::spooler::HasPort(kPort)) << context;
    EXPECT_EQ(CutOffPaths({installDir, kDriverDir32, kWindowsDir}), "") << context;
    EXPECT_EQ(sim::Leaks(), "") << context;
  }
}

// The 64-bit sources are two characters longer: "qelvpr_drv64.dll" and
// "QXN_ProxyProcess64.exe". The value is read from the 64-bit view, the record written to the
// 32-bit one.
TEST_F(HostileInstallPath, On64BitWindowsTheLongerSourceNamesMoveTheBoundaries) {
  const InstallPathRow rows[] = {
      {221, true, Dir::AsStored, Reach::Complete, Addin::Unregistered,
       "the 64-bit proxy's source takes the last character"},
      {222, true, Dir::AsStored, Reach::Nothing, Addin::Unregistered,
       "the 64-bit proxy's source is one too long"},
      {227, true, Dir::AsStored, Reach::Nothing, Addin::Unregistered,
       "the 64-bit driver's sources take the last character"},
      {228, true, Dir::AsStored, Reach::Nothing, Addin::Unregistered,
       "the 64-bit driver's first source is one too long"},
  };
  const std::string driverDir = "C:\\Windows\\system32\\spool\\drivers\\x64";
  for (const InstallPathRow& row : rows) {
    SetUp();
    sim::settings().wow64 = true;
    const std::string context = Context(row.length, row.trailing) + " (" + row.why + ")";
    const std::string stored = Prepare(row, sim::reg::View::Native);
    RunAgent("/Install");

    EXPECT_EQ(std::string(InstallDir), stored) << context;
    ExpectInstallReached(row.install, stored, "<missing>", context, driverDir);
    EXPECT_EQ(CutOffPaths({stored, driverDir, kWindowsDir}), "") << context;
    EXPECT_EQ(sim::Leaks(), "") << context;
  }
}

// ---------------------------------------------------------------------------------------------
// Driver directories of 236 to 259 characters: each step needs its own room after it.

constexpr size_t kShortestDriverDir = 236;
constexpr size_t kLongestDriverDir = 259;  // the spooler's answer still fits the buffer

// The longest driver directory with which each step's paths still fit in 259 characters.
constexpr size_t kLastForProxy = 259 - 23;            // "\3\QXN_ProxyProcess.exe"
constexpr size_t kLastForDriverFiles = 259 - 15;      // "\qelvpr_drv.dll", copied first
constexpr size_t kLastForSystemLibraries = 259 - 13;  // "\framedyn.dll", formed with the rest

class HostileDriverDirectory : public SimTest {
 protected:
  // The spooler reports a driver directory of `length` characters; the state is filled as the
  // agent's start-up fills it.
  std::string UseDriverDirectory(size_t length, const char* environment = "Windows NT x86") {
    const std::string directory = DirectoryOfLength(kDriverDir32, length);
    sim::spooler::SetDriverDirectory(environment, directory);
    CopyPath(DriverEnvironment, environment);
    CopyPath(DriverDir, directory.c_str());
    CopyPath(InstallDir, "C:\\Program Files\\Tembrin\\");
    SeedProductFiles(InstallDir);
    return directory;
  }
  static std::string Context(size_t length) {
    return "a driver directory of " + std::to_string(length) + " characters";
  }
  static bool NamedByAnyCall(const std::string& path) {
    for (const sim::Call& call : sim::Calls())
      for (const std::string& argument : call.args)
        if (argument == path)
          return true;
    return false;
  }
};

struct RetirementRow {
  const char* folder;  // between the driver directory and the names
  const char* fileName;
  const char* temporaryName;
  size_t lastFitting;
  const char* why;
};

// On 64-bit Windows all seven rows are retired. A row goes only when both its paths fit.
const RetirementRow kRetirements[] = {
    {"\\", "qelvpr_pnt.txt", "qnTmp1.tmp", 259 - 15, "\\ and 14 characters"},
    {"\\", "qelvpr_ui.dll", "qnTmp2.tmp", 259 - 14, "\\ and 13 characters"},
    {"\\", "qelvpr_drv.dll", "qnTmp3.tmp", 259 - 15, "\\ and 14 characters"},
    {"\\3\\", "qelvpr_pnt.txt", "qnTmp1.tmp", 259 - 17, "\\3\\ and 14 characters"},
    {"\\3\\", "qelvpr_ui.dll", "qnTmp2.tmp", 259 - 16, "\\3\\ and 13 characters"},
    {"\\3\\", "qelvpr_drv.dll", "qnTmp3.tmp", 259 - 17, "\\3\\ and 14 characters"},
    {"\\3\\", "QXN_ProxyProcess.exe", "qnTmp4.tmp", 259 - 23,
     "\\3\\ and 20 characters, though its temporary name would fit longer"},
};

TEST_F(HostileDriverDirectory, RetirementSkipsWholeEveryRowWhosePathsDoNotFit) {
  for (size_t length = kShortestDriverDir; length <= kLongestDriverDir; ++length) {
    SetUp();
    Is64BitWindows = 1;
    const std::string directory = UseDriverDirectory(length, "Windows x64");
    for (const RetirementRow& row : kRetirements)
      sim::files::AddFile(directory + row.folder + row.fileName, row.fileName);

    RetireDriverFiles();

    for (const RetirementRow& row : kRetirements) {
      const std::string context =
          Context(length) + ", " + row.folder + row.fileName + " (" + row.why + ")";
      const bool fits = length <= row.lastFitting;
      EXPECT_EQ(Exists(directory + row.folder + row.fileName), !fits) << context;
      EXPECT_EQ(NamedByAnyCall(directory + row.folder + row.temporaryName), fits)
          << context << ": a row that does not fit is skipped whole";
      EXPECT_FALSE(Exists(directory + row.folder + row.temporaryName)) << context;
    }
    EXPECT_EQ(CutOffPaths({directory}), "") << Context(length);
    EXPECT_EQ(sim::Leaks(), "") << Context(length);
  }
}

TEST_F(HostileDriverDirectory, DriverPackageIsRefusedBeforeAnyCopy) {
  for (size_t length = kShortestDriverDir; length <= kLongestDriverDir; ++length) {
    SetUp();
    const std::string directory = UseDriverDirectory(length);
    const std::string context = Context(length);
    const bool fits = length <= kLastForDriverFiles;

    EXPECT_EQ(DeployPrinterDriver(), fits ? 1 : 0) << context;

    EXPECT_EQ(sim::CountCalls("CopyFileA"), fits ? 3 : 0) << context;
    EXPECT_EQ(sim::spooler::HasDriver(kDriver), fits) << context;
    for (const char* name : {"qelvpr_drv.dll", "qelvpr_ui.dll", "qelvpr_pnt.txt"})
      EXPECT_EQ(Exists(directory + "\\" + name), fits) << context << ", " << name;
    EXPECT_EQ(CutOffPaths({InstallDir, directory}), "") << context;
    EXPECT_EQ(sim::Leaks(), "") << context;
  }
}

TEST_F(HostileDriverDirectory, ProxyThatDoesNotFitIsRefusedAndTakesTheDriverLibraryWhereItCan) {
  for (size_t length = kShortestDriverDir; length <= kLongestDriverDir; ++length) {
    SetUp();
    const std::string directory = UseDriverDirectory(length);
    const std::string library = directory + "\\qelvpr_drv.dll";
    sim::files::AddFile(library, "installed driver");
    const std::string context = Context(length);
    const bool fits = length <= kLastForProxy;

    EXPECT_EQ(DeployProxyProcess(), fits ? 1 : 0) << context;

    EXPECT_EQ(sim::CountCalls("CopyFileA"), fits ? 1 : 0) << context << ": refused, not tried";
    EXPECT_EQ(Exists(directory + "\\3\\QXN_ProxyProcess.exe"), fits) << context;
    EXPECT_EQ(Exists(library), fits || length > kLastForDriverFiles)
        << context << ": the driver library goes with a failed proxy when its path fits";
    EXPECT_EQ(CutOffPaths({InstallDir, directory}), "") << context;
    EXPECT_EQ(sim::Leaks(), "") << context;
  }
}

TEST_F(HostileDriverDirectory, SystemLibrariesAreProvidedOnlyWhenEveryPathFits) {
  for (size_t length = kShortestDriverDir; length <= kLongestDriverDir; ++length) {
    SetUp();
    const std::string directory = UseDriverDirectory(length);
    sim::files::AddDirectory("C:\\Windows\\System32\\wbem");
    sim::files::AddFile(directory + "\\psapi.dll", LibraryImage("shipped psapi.dll"));
    sim::files::AddFile(directory + "\\framedyn.dll", LibraryImage("shipped framedyn.dll"));
    const std::string context = Context(length);
    const bool fits = length <= kLastForSystemLibraries;

    EXPECT_EQ(ProvisionSystemLibraries(), fits ? 1 : 0) << context;

    EXPECT_EQ(sim::files::Contents("C:\\Windows\\System32\\psapi.dll").value_or("<missing>"),
              fits ? LibraryImage("shipped psapi.dll") : "<missing>")
        << context;
    EXPECT_EQ(
        sim::files::Contents("C:\\Windows\\System32\\wbem\\framedyn.dll").value_or("<missing>"),
        fits ? LibraryImage("shipped framedyn.dll") : "<missing>")
        << context;
    if (!fits) {
      EXPECT_EQ(sim::CountCalls("FindFirstFileA"), 0) << context << ": nothing even looked at";
    }
    EXPECT_EQ(CutOffPaths({directory, kWindowsDir}), "") << context;
    EXPECT_EQ(sim::Leaks(), "") << context;
  }
}

TEST_F(HostileDriverDirectory, PresentSystemLibrariesAreLeftAloneWhateverTheDirectory) {
  for (size_t length = kShortestDriverDir; length <= kLongestDriverDir; ++length) {
    SetUp();
    const std::string directory = UseDriverDirectory(length);
    sim::files::AddFile("C:\\Windows\\System32\\psapi.dll", "Windows' psapi.dll");
    sim::files::AddFile("C:\\Windows\\System32\\framedyn.dll", "Windows' framedyn.dll");
    sim::files::AddFile(directory + "\\psapi.dll", "shipped psapi.dll");

    ProvisionSystemLibraries();

    EXPECT_EQ(sim::CountCalls("CopyFileA"), 0) << Context(length);
    EXPECT_EQ(sim::files::Contents("C:\\Windows\\System32\\psapi.dll"), "Windows' psapi.dll")
        << Context(length);
    EXPECT_EQ(sim::Leaks(), "") << Context(length);
  }
}

// Through the agent: the proxy is the first step to run out of room, so from 237 characters on
// the install changes nothing.
TEST_F(HostileDriverDirectory, AnInstallWithoutRoomForEveryStepChangesNothing) {
  for (size_t length = kShortestDriverDir; length <= kLongestDriverDir; ++length) {
    SetUp();
    const std::string directory = DirectoryOfLength(kDriverDir32, length);
    sim::spooler::SetDriverDirectory("Windows NT x86", directory);
    const std::string installDir = "C:\\Program Files\\Tembrin\\";
    sim::reg::SetString(HKEY_LOCAL_MACHINE, kProductKey, "InstallPath", installDir);
    SeedProductFiles(installDir);
    SeedSystemLibraries();
    AddAddin(installDir + kAddinName);
    const Reach reach = length <= kLastForProxy ? Reach::Complete : Reach::Nothing;

    RunAgent("/Install");

    EXPECT_EQ(std::string(DriverDir), directory) << Context(length);
    ExpectInstallReached(reach, installDir, installDir, Context(length), directory);
    EXPECT_EQ(CutOffPaths({installDir, directory, kWindowsDir}), "") << Context(length);
    EXPECT_EQ(sim::Leaks(), "") << Context(length);
  }
}

// The chained removal needs no path; only the proxy's retirement runs out of room.
TEST_F(HostileDriverDirectory, UninstallStillRemovesPrinterDriverAndPort) {
  for (size_t length = kShortestDriverDir; length <= kLongestDriverDir; ++length) {
    SetUp();
    const std::string directory = DirectoryOfLength(kDriverDir32, length);
    sim::spooler::SetDriverDirectory("Windows NT x86", directory);
    SeedInstalledPrinter();
    const std::string proxy = directory + "\\3\\QXN_ProxyProcess.exe";
    sim::files::AddFile(proxy, "installed proxy");

    RunAgent("/Uninstall");

    EXPECT_FALSE(sim::spooler::HasPrinter(kPrinter)) << Context(length);
    EXPECT_FALSE(sim::spooler::HasDriver(kDriver)) << Context(length);
    EXPECT_FALSE(sim::spooler::HasPort(kPort)) << Context(length);
    EXPECT_EQ(Exists(proxy), length > kLastForProxy) << Context(length);
    EXPECT_EQ(CutOffPaths({"\\", directory, kWindowsDir}), "") << Context(length);
    EXPECT_EQ(sim::Leaks(), "") << Context(length);
  }
}

// ---------------------------------------------------------------------------------------------
// The application-data folder: "\Tessix Software\Tessix Tembrin\TembrinInstallComplete.exe"
// needs 58 characters after it, and the quotes around the command 2 more.

TEST_F(HostileInstallPath, LongApplicationDataFolderSkipsOnlyTheRunOnceEntry) {
  constexpr char kRunOnceKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
  struct Row {
    size_t length;
    bool written;
    const char* why;
  };
  const Row rows[] = {
      {199, true, "the command takes the last character"},
      {200, false, "the command is one too long"},
      {250, false, "far too long for the command"},
      {259, false, "the shell fills the buffer; nothing can follow"},
      {260, false, "the shell cannot hand it over at all"},
  };
  for (const Row& row : rows) {
    SetUp();
    const std::string context = "an application-data folder of " + std::to_string(row.length) +
                                " characters (" + row.why + ")";
    const std::string folder = DirectoryOfLength("C:\\Users\\tester\\AppData\\Roaming", row.length);
    sim::settings().appDataFolder = folder;
    const std::string installDir = "C:\\Program Files\\Tembrin\\";
    sim::reg::SetString(HKEY_LOCAL_MACHINE, kProductKey, "InstallPath", installDir);
    SeedProductFiles(installDir);
    SeedSystemLibraries();

    RunAgent("/Install");

    const auto command =
        sim::reg::GetString(HKEY_LOCAL_MACHINE, kRunOnceKey, "TembrinInstallComplete");
    if (row.written) {
      EXPECT_EQ(command,
                "\"" + folder + "\\Tessix Software\\Tessix Tembrin\\TembrinInstallComplete.exe\"")
          << context;
    } else {
      EXPECT_FALSE(sim::reg::KeyExists(HKEY_LOCAL_MACHINE, kRunOnceKey))
          << context << ": nothing written, not even the key";
    }
    EXPECT_EQ(Recorded("InstallPath"), installDir) << context << ": the record is still written";
    EXPECT_EQ(Recorded("Version"), "2.0.0.0424") << context;
    EXPECT_EQ(Recorded("Language"), "1033") << context;
    EXPECT_EQ(sim::spooler::DefaultPrinter(), kPrinter) << context;
    EXPECT_EQ(sim::Leaks(), "") << context << ": the shell's item list went back";
  }
}

// ---------------------------------------------------------------------------------------------
// A system library that is a directory: any entry of that name counts as present.

TEST_F(HostileDriverDirectory, LibraryThatIsADirectoryCountsAsPresent) {
  struct Row {
    const char* directory;  // a directory named like the library
    bool wow64;
    std::vector<const char*> files;  // the other library, where it is present
  };
  const Row rows[] = {
      {"C:\\Windows\\System32\\psapi.dll", false, {"C:\\Windows\\System32\\framedyn.dll"}},
      {"C:\\Windows\\System32\\framedyn.dll", false, {"C:\\Windows\\System32\\psapi.dll"}},
      {"C:\\Windows\\System32\\wbem\\framedyn.dll", false, {"C:\\Windows\\System32\\psapi.dll"}},
      // A 32-bit process on 64-bit Windows is shown SysWOW64 as System32.
      {"C:\\Windows\\SysWOW64\\psapi.dll", true, {"C:\\Windows\\SysWOW64\\framedyn.dll"}},
  };
  for (const Row& row : rows) {
    SetUp();
    sim::settings().wow64 = row.wow64;
    const std::string directory = UseDriverDirectory(std::string(kDriverDir32).size());
    sim::files::AddDirectory(row.directory);
    for (const char* file : row.files)
      sim::files::AddFile(file, "Windows' own");
    sim::files::AddFile(directory + "\\psapi.dll", "shipped");
    sim::files::AddFile(directory + "\\framedyn.dll", "shipped");

    EXPECT_EQ(ProvisionSystemLibraries(), 1) << row.directory;

    EXPECT_EQ(sim::CountCalls("CopyFileA"), 0) << row.directory << ": nothing copied";
    EXPECT_TRUE(sim::files::IsDirectory(row.directory)) << row.directory;
    EXPECT_EQ(sim::Leaks(), "") << row.directory << ": the search was closed";
  }
}

}  // namespace
