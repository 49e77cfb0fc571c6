#include "files.h"
#include "fixture.h"
#include "product_files.h"
#include "spooler/spooler.h"

namespace {

using sim::files::AddFile;
using sim::files::Contents;
using sim::files::Exists;
using sim::files::List;

constexpr char kDir[] = "C:\\Windows\\system32\\spool\\drivers\\w32x86";
constexpr char kVersionDir[] = "C:\\Windows\\system32\\spool\\drivers\\w32x86\\3";
const std::vector<std::string> kDriverFiles = {"qelvpr_drv.dll", "qelvpr_pnt.txt", "qelvpr_ui.dll"};
const std::vector<std::string> kInstalledFiles = {"QXN_ProxyProcess.exe", "qelvpr_drv.dll",
                                                  "qelvpr_pnt.txt", "qelvpr_ui.dll"};

class FileRetirement : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    CopyPath(InstallDir, "C:\\Program Files\\Tembrin\\");
    CopyPath(DriverDir, kDir);
    SeedProductFiles(InstallDir);
  }
  static void SeedInstalledDriver(DWORD attributes = FILE_ATTRIBUTE_ARCHIVE) {
    for (const std::string& name : kDriverFiles)
      AddFile(std::string(kDir) + "\\" + name, name, attributes);
    for (const std::string& name : kInstalledFiles)
      AddFile(std::string(kVersionDir) + "\\" + name, name, attributes);
  }
  // The file names that MoveFileA was asked to move, in order.
  static std::vector<std::string> Moved() {
    std::vector<std::string> moved;
    for (const sim::Call& call : sim::CallsTo("MoveFileA"))
      moved.push_back(call.args[0].substr(std::string(kDir).size()) + " -> " +
                      call.args[1].substr(call.args[1].rfind('\\') + 1));
    return moved;
  }
};

// Read-only files too, as driver files from read-only media arrive: they go now, not at the next
// restart, and their temporary names are free for the next run.
TEST_F(FileRetirement, On32BitWindowsOnlyTheVersionDirectoryIsRetired) {
  SeedInstalledDriver(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
  RetireDriverFiles();
  EXPECT_EQ(Moved(),
            (std::vector<std::string>{
                "\\3\\qelvpr_pnt.txt -> qnTmp1.tmp", "\\3\\qelvpr_ui.dll -> qnTmp2.tmp",
                "\\3\\qelvpr_drv.dll -> qnTmp3.tmp", "\\3\\QXN_ProxyProcess.exe -> qnTmp4.tmp"}));
  EXPECT_TRUE(List(kVersionDir).empty()) << "moved and deleted";
  EXPECT_EQ(List(kDir),
            (std::vector<std::string>{"3", "qelvpr_drv.dll", "qelvpr_pnt.txt", "qelvpr_ui.dll"}));
  EXPECT_TRUE(sim::files::PendingDeletions().empty());
}

TEST_F(FileRetirement, On64BitWindowsTheDriverDirectoryItselfComesFirst) {
  Is64BitWindows = 1;
  SeedInstalledDriver();
  RetireDriverFiles();
  EXPECT_EQ(Moved(), (std::vector<std::string>{
                         "\\qelvpr_pnt.txt -> qnTmp1.tmp", "\\qelvpr_ui.dll -> qnTmp2.tmp",
                         "\\qelvpr_drv.dll -> qnTmp3.tmp", "\\3\\qelvpr_pnt.txt -> qnTmp1.tmp",
                         "\\3\\qelvpr_ui.dll -> qnTmp2.tmp", "\\3\\qelvpr_drv.dll -> qnTmp3.tmp",
                         "\\3\\QXN_ProxyProcess.exe -> qnTmp4.tmp"}));
  EXPECT_EQ(List(kDir), std::vector<std::string>{"3"});
}

// Only a file that is there and cannot be deleted now waits for the restart: Windows records any
// name it is given, and a machine with a deletion waiting reads as "restart pending". A loaded
// library goes under its temporary name, a file held open without delete sharing (a scanner, a
// backup agent) under its own.
TEST_F(FileRetirement, OnlyAFileThatIsThereAndBusyWaitsForTheRestart) {
  const std::string file = std::string(kVersionDir) + "\\qelvpr_drv.dll";
  const std::string temporary = std::string(kVersionDir) + "\\qnTmp3.tmp";
  struct Row {
    const char* what;
    sim::files::Use use;
    bool seeded;
    std::vector<std::string> pending;
  } rows[] = {{"missing", sim::files::Use::None, false, {}},
              {"loaded", sim::files::Use::Loaded, true, {temporary}},
              {"held open", sim::files::Use::HeldOpen, true, {file}}};
  for (const Row& row : rows) {
    SetUp();
    if (row.seeded)
      SeedInstalledDriver();
    sim::files::SetInUse(file, row.use);
    RetireFile("%s\\3\\%s", "qelvpr_drv.dll", "qnTmp3.tmp");
    EXPECT_EQ(Exists(file), row.use == sim::files::Use::HeldOpen) << row.what;
    EXPECT_EQ(Exists(temporary), row.use == sim::files::Use::Loaded) << row.what;
    EXPECT_EQ(sim::files::PendingDeletions(), row.pending) << row.what;
  }
}

// The temporary files of earlier runs go first. One that is still loaded (its deletion waits for
// the restart) keeps its name, and the file takes the next free one; with none left free it goes
// at the restart under its own name.
TEST_F(FileRetirement, LeftoverTemporaryFilesGoFirstAndABusyOneGivesWayToANumberedName) {
  const std::string file = std::string(kVersionDir) + "\\qelvpr_drv.dll";
  const std::string plain = std::string(kVersionDir) + "\\qnTmp3.tmp";
  struct Row {
    const char* what;
    int loadedLeftovers;  // qnTmp3.tmp, then qnTmp3-1.tmp ...
    std::vector<std::string> pending;
  } rows[] = {
      {"a leftover", 0, {}}, {"a loaded leftover", 1, {}}, {"every name loaded", 10, {file}}};
  for (const Row& row : rows) {
    SetUp();
    SeedInstalledDriver();
    AddFile(std::string(kVersionDir) + "\\qnTmp1.tmp", "left by a run that was killed",
            FILE_ATTRIBUTE_READONLY);
    for (int i = 0; i < row.loadedLeftovers; ++i) {
      const std::string name = std::string(kVersionDir) + "\\qnTmp3" +
                               (i ? "-" + std::to_string(i) : std::string()) + ".tmp";
      AddFile(name, "still loaded");
      sim::files::SetInUse(name);
    }
    RetireDriverFiles();
    EXPECT_EQ(List(kVersionDir).size(),
              static_cast<size_t>(row.loadedLeftovers) + (row.pending.empty() ? 0 : 1))
        << row.what << ": only the loaded leftovers stay, and an unmovable file";
    EXPECT_EQ(Exists(plain), row.loadedLeftovers > 0) << row.what;
    EXPECT_EQ(sim::files::PendingDeletions(), row.pending) << row.what;
  }
}

TEST_F(FileRetirement, ARowWhosePathsWouldNotFitIsSkippedWhole) {
  // 240 characters: "\3\QXN_ProxyProcess.exe" overflows, "\3\qnTmp4.tmp" and the driver files fit.
  const std::string longDir = "C:\\" + std::string(237, 'd');
  CopyPath(DriverDir, longDir.c_str());
  RetireDriverFiles();
  EXPECT_EQ(sim::CountCalls("MoveFileA"), 3);
  for (const sim::Call& call : sim::Calls())
    EXPECT_EQ(call.Text().find("qnTmp4"), std::string::npos) << call.Text();
}

TEST_F(FileRetirement, WithAnEmptyDriverDirectoryThePathsLieAtTheRootOfTheCurrentDrive) {
  DriverDir[0] = '\0';
  RetireDriverFiles();
  EXPECT_EQ(sim::CallsTo("FindFirstFileA")[0].args[0], "\\3\\qnTmp*.tmp");
  EXPECT_EQ(sim::CallsTo("MoveFileA")[0].args[0], "\\3\\qelvpr_pnt.txt");
  EXPECT_TRUE(sim::files::PendingDeletions().empty()) << "no such folder, nothing to delete";
}

TEST_F(FileRetirement, TheProxyIsCopiedIntoTheVersionDirectoryOverAnOlderOne) {
  AddFile(std::string(kVersionDir) + "\\QXN_ProxyProcess.exe", "older",
          FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
  EXPECT_EQ(DeployProxyProcess(), 1);
  EXPECT_EQ(Contents(std::string(kVersionDir) + "\\QXN_ProxyProcess.exe"), "QXN_ProxyProcess.exe");
  EXPECT_EQ(sim::CallsTo("CopyFileA")[0].args[2], "0");
}

TEST_F(FileRetirement, On64BitWindowsThe64BitProxyArrivesUnderThePlainName) {
  Is64BitWindows = 1;
  EXPECT_EQ(DeployProxyProcess(), 1);
  EXPECT_EQ(Contents(std::string(kVersionDir) + "\\QXN_ProxyProcess.exe"),
            "QXN_ProxyProcess64.exe");
}

TEST_F(FileRetirement, AProxyThatCannotBePlacedTakesTheDriverLibraryInDriverDirWithIt) {
  SeedInstalledDriver();
  sim::files::SetInUse(std::string(kVersionDir) + "\\QXN_ProxyProcess.exe");
  EXPECT_EQ(DeployProxyProcess(), 0);
  EXPECT_FALSE(Exists(std::string(kDir) + "\\qelvpr_drv.dll"));
  EXPECT_TRUE(Exists(std::string(kVersionDir) + "\\qelvpr_drv.dll"));
  EXPECT_TRUE(Exists(std::string(kDir) + "\\qelvpr_ui.dll"));
}

TEST_F(FileRetirement, AProxySourcePathThatWouldNotFitCountsAsAFailedCopy) {
  SeedInstalledDriver();
  CopyPath(InstallDir, ("C:\\" + std::string(220, 'i') + "\\").c_str());
  EXPECT_EQ(DeployProxyProcess(), 0);
  EXPECT_EQ(sim::CountCalls("CopyFileA"), 0);
  EXPECT_FALSE(Exists(std::string(kDir) + "\\qelvpr_drv.dll"));
}

TEST_F(FileRetirement, RemovingTheProxyAlwaysSucceeds) {
  SeedInstalledDriver();
  EXPECT_EQ(RemoveProxyProcess(), 1);
  EXPECT_EQ(List(kVersionDir),
            (std::vector<std::string>{"qelvpr_drv.dll", "qelvpr_pnt.txt", "qelvpr_ui.dll"}));
  EXPECT_EQ(RemoveProxyProcess(), 1) << "nothing left to remove";
  EXPECT_TRUE(sim::files::PendingDeletions().empty());
}

}  // namespace
