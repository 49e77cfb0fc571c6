#include "files.h"
#include "fixture.h"
#include "product_files.h"
#include "system/system.h"

#include <vector>

namespace {

using Names = std::vector<std::string>;

constexpr char kDriverDir[] = "C:\\Windows\\System32\\spool\\drivers\\w32x86";
constexpr char kSystemPsapi[] = "C:\\Windows\\System32\\psapi.dll";
constexpr char kSystemFramedyn[] = "C:\\Windows\\System32\\framedyn.dll";
constexpr char kWbemFramedyn[] = "C:\\Windows\\System32\\wbem\\framedyn.dll";

class SystemLibraries : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    CopyPath(DriverDir, kDriverDir);
    sim::files::AddDirectory("C:\\Windows\\System32\\wbem");
    sim::files::AddDirectory(kDriverDir);
  }
  static void ShipInDriverDir(const char* name, WORD machine = IMAGE_FILE_MACHINE_I386,
                              DWORD attributes = FILE_ATTRIBUTE_ARCHIVE) {
    sim::files::AddFile(std::string(kDriverDir) + "\\" + name, Shipped(name, machine), attributes);
  }
  static std::string Shipped(const char* name, WORD machine = IMAGE_FILE_MACHINE_I386) {
    return LibraryImage(std::string("shipped ") + name, machine);
  }
  static Names Searches() {
    Names paths;
    for (const sim::Call& call : sim::CallsTo("FindFirstFileA"))
      paths.push_back(call.args[0]);
    return paths;
  }
  static std::string Copies() { return CallSequence({"CopyFileA"}); }
};

TEST_F(SystemLibraries, BothPresentCopiesNothing) {
  sim::files::AddFile(kSystemPsapi);
  sim::files::AddFile(kSystemFramedyn);
  EXPECT_EQ(ProvisionSystemLibraries(), 1);
  EXPECT_EQ(Searches(), (Names{kSystemPsapi, kSystemFramedyn}));
  EXPECT_EQ(Copies(), "");
  EXPECT_EQ(sim::CountCalls("FindClose"), 2);
}

TEST_F(SystemLibraries, FramedynInWbemIsEnough) {
  sim::files::AddFile(kSystemPsapi);
  sim::files::AddFile(kWbemFramedyn);
  EXPECT_EQ(ProvisionSystemLibraries(), 1);
  EXPECT_EQ(Searches(), (Names{kSystemPsapi, kSystemFramedyn, kWbemFramedyn}));
  EXPECT_EQ(Copies(), "");
}

TEST_F(SystemLibraries, AnyEntryOfTheNameCountsAsPresent) {
  sim::files::AddDirectory(kSystemPsapi);
  sim::files::AddDirectory(kWbemFramedyn);
  EXPECT_EQ(ProvisionSystemLibraries(), 1);
  EXPECT_EQ(Copies(), "");
}

// Copied under a temporary name and renamed into place, so that a copy cut short never leaves a
// short library under the real name; one left by such a copy, read-only or not, is replaced.
TEST_F(SystemLibraries, MissingLibrariesAreCopiedFromTheDriverDirectory) {
  ShipInDriverDir("psapi.dll");
  ShipInDriverDir("framedyn.dll");
  sim::files::AddFile(std::string(kSystemPsapi) + ".tmp", "shi", FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(ProvisionSystemLibraries(), 1);
  EXPECT_EQ(sim::files::Contents(kSystemPsapi), Shipped("psapi.dll"));
  EXPECT_EQ(sim::files::Contents(kWbemFramedyn), Shipped("framedyn.dll"));
  EXPECT_FALSE(sim::files::Exists(kSystemFramedyn)) << "framedyn.dll goes to wbem only";
  EXPECT_EQ(Copies(), std::string("CopyFileA(") + kDriverDir + "\\psapi.dll, " + kSystemPsapi +
                          ".tmp, 0), CopyFileA(" + kDriverDir + "\\framedyn.dll, " + kWbemFramedyn +
                          ".tmp, 0)");
  EXPECT_EQ(sim::files::List("C:\\Windows\\System32\\wbem"), Names{"framedyn.dll"});
  EXPECT_FALSE(sim::files::Exists(std::string(kSystemPsapi) + ".tmp"));
}

// Only an x86 library goes among the 32-bit agent's system libraries: a 64-bit one would stop every
// 32-bit program that imports it. Whatever is refused, no temporary copy stays behind.
TEST_F(SystemLibraries, OnlyAnX86LibraryIsPutInPlaceAndNoTemporaryCopyStays) {
  struct Row {
    const char* what;
    WORD machine;
    DWORD attributes;
    bool renameFails;
  } rows[] = {
      {"x64", IMAGE_FILE_MACHINE_AMD64, FILE_ATTRIBUTE_ARCHIVE, false},
      {"ARM64, read-only", IMAGE_FILE_MACHINE_ARM64, FILE_ATTRIBUTE_READONLY, false},
      {"no image", 0, FILE_ATTRIBUTE_ARCHIVE, false},
      {"x86, read-only, rename refused", IMAGE_FILE_MACHINE_I386, FILE_ATTRIBUTE_READONLY, true}};
  for (const Row& row : rows) {
    SetUp();
    sim::settings().wow64 = true;
    sim::files::AddDirectory("C:\\Windows\\SysWOW64\\wbem");
    if (row.machine)
      ShipInDriverDir("psapi.dll", row.machine, row.attributes);
    else
      sim::files::AddFile(std::string(kDriverDir) + "\\psapi.dll", "MZ but short");
    if (row.renameFails)
      sim::FailAlways("MoveFileA", FALSE);
    EXPECT_EQ(ProvisionSystemLibraries(), 0) << row.what;
    EXPECT_EQ(sim::files::List("C:\\Windows\\SysWOW64"), Names{"wbem"}) << row.what;
  }
}

TEST_F(SystemLibraries, PsapiThatCannotBeProvidedStopsBeforeFramedyn) {
  ShipInDriverDir("framedyn.dll");
  EXPECT_EQ(ProvisionSystemLibraries(), 0);
  EXPECT_EQ(Searches(), Names{kSystemPsapi});
  EXPECT_EQ(sim::CountCalls("CopyFileA"), 1);
  EXPECT_FALSE(sim::files::Exists(kWbemFramedyn));
}

TEST_F(SystemLibraries, FramedynCopyIsTriedTwiceAndPsapiStays) {
  ShipInDriverDir("psapi.dll");
  EXPECT_EQ(ProvisionSystemLibraries(), 0);
  const std::vector<sim::Call> copies = sim::CallsTo("CopyFileA");
  ASSERT_EQ(copies.size(), 3u);
  EXPECT_EQ(copies[1].Text(), copies[2].Text());
  EXPECT_EQ(copies[2].args[1], std::string(kWbemFramedyn) + ".tmp");
  EXPECT_TRUE(sim::files::Exists(kSystemPsapi));
}

TEST_F(SystemLibraries, SecondFramedynAttemptCanSucceed) {
  sim::files::AddFile(kSystemPsapi);
  ShipInDriverDir("framedyn.dll");
  sim::FailNth("CopyFileA", 1, FALSE, ERROR_SHARING_VIOLATION);
  EXPECT_EQ(ProvisionSystemLibraries(), 1);
  EXPECT_EQ(sim::CountCalls("CopyFileA"), 2);
  EXPECT_TRUE(sim::files::Exists(kWbemFramedyn));
}

TEST_F(SystemLibraries, ThirtyTwoBitProcessOn64BitWindowsProvidesSysWow64) {
  // The System32 names are used as they are: WOW64 sends them to SysWOW64.
  sim::settings().wow64 = true;
  sim::files::AddFile(kSystemPsapi);
  sim::files::AddDirectory("C:\\Windows\\SysWOW64\\wbem");
  ShipInDriverDir("psapi.dll");
  ShipInDriverDir("framedyn.dll");
  EXPECT_EQ(ProvisionSystemLibraries(), 1);
  EXPECT_TRUE(sim::files::Exists("C:\\Windows\\SysWOW64\\psapi.dll"));
  EXPECT_TRUE(sim::files::Exists("C:\\Windows\\SysWOW64\\wbem\\framedyn.dll"));
  EXPECT_FALSE(sim::files::Exists(kWbemFramedyn));
}

TEST_F(SystemLibraries, UnknownWindowsDirectoryTestsAndCopiesNothing) {
  ShipInDriverDir("psapi.dll");
  ShipInDriverDir("framedyn.dll");
  sim::FailAlways("GetWindowsDirectoryA", 0);
  EXPECT_EQ(ProvisionSystemLibraries(), 0);
  EXPECT_EQ(sim::CountCalls("FindFirstFileA") + sim::CountCalls("CopyFileA"), 0);

  // A directory that does not fit gives the size it needs instead.
  SetUp();
  CopyPath(DriverDir, kDriverDir);
  sim::settings().windowsDirectory = "C:\\" + std::string(257, 'w');
  EXPECT_EQ(ProvisionSystemLibraries(), 0);
  EXPECT_EQ(sim::CountCalls("FindFirstFileA") + sim::CountCalls("CopyFileA"), 0);
}

TEST_F(SystemLibraries, PathsThatWouldNotFitFailBeforeAnythingIsTested) {
  // "\System32\wbem\framedyn.dll.tmp" has 31 characters: a 228-character Windows directory is
  // the longest that works, though the psapi.dll paths would fit more.
  const std::string fits = "C:\\" + std::string(100, 'a') + "\\" + std::string(124, 'b');
  ASSERT_EQ(fits.size(), 228u);
  sim::settings().windowsDirectory = fits;
  sim::files::AddDirectory(fits + "\\System32\\wbem");
  ShipInDriverDir("psapi.dll");
  ShipInDriverDir("framedyn.dll");
  EXPECT_EQ(ProvisionSystemLibraries(), 1);
  EXPECT_TRUE(sim::files::Exists(fits + "\\System32\\wbem\\framedyn.dll"));

  sim::ClearCalls();
  sim::settings().windowsDirectory = fits + "c";
  sim::files::AddDirectory(fits + "c\\System32\\wbem");
  EXPECT_EQ(ProvisionSystemLibraries(), 0);
  EXPECT_EQ(sim::CountCalls("FindFirstFileA") + sim::CountCalls("CopyFileA"), 0);
  EXPECT_FALSE(sim::files::Exists(fits + "c\\System32\\psapi.dll"));

  // "\framedyn.dll" after the driver directory.
  sim::ClearCalls();
  sim::settings().windowsDirectory = "C:\\Windows";
  CopyPath(DriverDir, ("C:\\" + std::string(244, 'd')).c_str());
  EXPECT_EQ(ProvisionSystemLibraries(), 0);
  EXPECT_EQ(sim::CountCalls("FindFirstFileA") + sim::CountCalls("CopyFileA"), 0);
}

}  // namespace
