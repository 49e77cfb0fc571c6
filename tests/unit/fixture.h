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
  void SetUp() override {
    sim::Reset();
    ResetAgentState();
  }
  void TearDown() override { EXPECT_EQ(sim::Leaks(), "") << "the ledger is not empty"; }

  // Runs the agent as Windows would start it with this tail.
  static void RunAgent(const std::string& tail) {
    sim::settings().commandLine = "\"C:\\Setup\\printer-setup.exe\" " + tail;
    WinMain(nullptr, nullptr, nullptr, 0);
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
