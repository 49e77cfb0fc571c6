#include "entry/probe.h"
#include "fixture.h"
#include "kernel.h"
#include "registry.h"

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

TEST_F(Probe, ThirtyTwoBitProcessOn64BitWindowsGetsExactlyOne) {
  sim::settings().wow64 = true;
  wow64 = 7;
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(wow64, 1);
}

TEST_F(Probe, NonAdministratorIsStoppedBeforeTheWow64Probe) {
  sim::settings().administrator = false;
  sim::settings().wow64 = true;
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(admin, 0);
  EXPECT_EQ(wow64, 0);
  EXPECT_EQ(sim::CountCalls("LoadLibraryA"), 0);
}

// Windows 2000, XP and Server 2003 (with its x64 edition) are NT 5: both probes run.
TEST_F(Probe, Nt5RunsBothProbes) {
  for (const DWORD minor : {0u, 1u, 2u}) {
    SetUp();
    sim::settings().majorVersion = 5;
    sim::settings().minorVersion = minor;
    sim::settings().wow64 = minor == 2;
    EXPECT_EQ(Run(), 1) << "5." << minor;
    EXPECT_EQ(sim::CountCalls("RegCreateKeyExA"), 1) << "5." << minor;
    EXPECT_EQ(wow64, minor == 2 ? 1 : 0) << "5." << minor;
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
