#include "entry/probe.h"
#include "fixture.h"
#include "kernel.h"
#include "registry.h"

#include <tuple>

namespace {

class Probe : public SimTest {
 protected:
  int admin = 1;
  int wow64 = 0;
  int Run() { return ProbeEnvironment(&admin, &wow64); }
};

TEST_F(Probe, AdministratorOn32BitWindows) {
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(admin, 1);
  EXPECT_EQ(wow64, 0);
  EXPECT_EQ(CallSequence({"RegCreateKeyExA"}), "RegCreateKeyExA(HKLM, Software, 0, 0xf003f)");
}

TEST_F(Probe, NonAdministratorIsStoppedBeforeTheWow64Probe) {
  sim::settings().administrator = false;
  sim::settings().wow64 = true;
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(admin, 0);
  EXPECT_EQ(wow64, 0);
  EXPECT_EQ(sim::CountCalls("LoadLibraryA"), 0);
}

// Windows 2000, XP, Server 2003 (with its x64 edition) and 7: both probes run, and a 32-bit
// process on 64-bit Windows gets exactly 1 whatever non-zero BOOL IsWow64Process answers.
TEST_F(Probe, FromNt5OnBothProbesRun) {
  for (const auto& [major, minor, on64] :
       {std::tuple{5u, 0u, false}, {5u, 1u, false}, {5u, 2u, true}, {6u, 1u, true}}) {
    SetUp();
    sim::settings().majorVersion = major;
    sim::settings().minorVersion = minor;
    sim::settings().wow64 = on64;
    wow64 = 7;
    EXPECT_EQ(Run(), 1) << major << "." << minor;
    EXPECT_EQ(sim::CountCalls("RegCreateKeyExA"), 1) << major << "." << minor;
    EXPECT_EQ(wow64, on64 ? 1 : 0) << major << "." << minor;
  }
}

TEST_F(Probe, BeforeNt5NeitherFlagIsTouched) {
  sim::settings().majorVersion = 4;
  sim::settings().administrator = false;
  sim::settings().wow64 = true;
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(admin, 1);
  EXPECT_EQ(wow64, 0);
  EXPECT_EQ(sim::CountCalls("RegCreateKeyExA"), 0);
}

TEST_F(Probe, FallsBackToTheShortVersionRecord) {
  sim::settings().acceptsExtendedVersion = false;
  EXPECT_EQ(Run(), 1);
  const auto calls = sim::CallsTo("GetVersionExA");
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].args[0], "156");
  EXPECT_EQ(calls[1].args[0], "148");
}

TEST_F(Probe, FailedVersionQueriesLeaveTheFlagsAlone) {
  sim::FailAlways("GetVersionExA", FALSE);
  sim::settings().administrator = false;
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(admin, 1);
  EXPECT_EQ(sim::CountCalls("GetVersionExA"), 2);
  EXPECT_EQ(sim::CountCalls("RegCreateKeyExA"), 0);
}

TEST_F(Probe, WithoutIsWow64ProcessTheSystemCountsAs32Bit) {
  sim::kernel::RemoveExport("kernel32.dll", "IsWow64Process");
  sim::settings().wow64 = true;
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(wow64, 0);
  EXPECT_EQ(sim::CountCalls("GetCurrentProcess"), 0);
}

TEST_F(Probe, FailedIsWow64ProcessStoresZero) {
  sim::settings().wow64 = true;
  sim::FailAlways("IsWow64Process", FALSE);
  wow64 = 1;
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(wow64, 0);
}

TEST_F(Probe, MissingKernelLibraryOrProcessHandleLeavesTheFlagAlone) {
  sim::settings().wow64 = true;
  sim::FailNth("GetCurrentProcess", 1, 0);
  wow64 = 5;
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(wow64, 5);
  sim::FailAlways("LoadLibraryA", 0);
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(wow64, 5);
}

}  // namespace
