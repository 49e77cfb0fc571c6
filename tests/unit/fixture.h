// Every unit test runs on a fresh simulated machine and ends by checking that the agent left
// nothing open, loaded, allocated or initialised behind.
#pragma once

#include "agent_state.h"
#include "sim.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

class SimTest : public ::testing::Test {
 protected:
  // Also the way to start over halfway through a test: what the first half left in the ledger
  // fails the test instead of vanishing with the old machine.
  void SetUp() override {
    EXPECT_EQ(sim::Leaks(), "") << "the ledger is not empty when the machine is reset";
    sim::Reset();
    ResetAgentState();
  }
  void TearDown() override {
    EXPECT_EQ(sim::Leaks(), "") << "the ledger is not empty";
    sim::Reset();  // the next test's start checks a clean ledger, not this test's leftovers
  }

  // Runs the agent as Windows would start it with this tail: a fresh process, whose state is
  // the initial one whatever an earlier run or the test left in it.
  static void RunAgent(const std::string& tail) {
    ResetAgentState();
    sim::settings().commandLine = "\"C:\\Setup\\printer-setup.exe\" " + tail;
    WinMain(nullptr, nullptr, nullptr, 0);
  }

  // The same run, ended by Windows at its `call`th platform call as a killed process ends; false
  // when the run ended by itself before.
  static bool RunAgentKilledAt(const std::string& tail, int call) {
    sim::KillProcessAt(call);
    try {
      RunAgent(tail);
    } catch (const sim::ProcessKilled&) {
      sim::EndProcess();
      return true;
    }
    sim::KillProcessAt(0);
    return false;
  }
};

// The names of the calls made, in order, as one comma-separated line, for compact assertions.
inline std::string CallSequence(const std::vector<std::string>& only) {
  std::string text;
  for (const sim::Call& call : sim::Calls())
    for (const std::string& name : only)
      if (call.function == name)
        text += (text.empty() ? "" : ", ") + call.Text();
  return text;
}
