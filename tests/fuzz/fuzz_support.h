// Shared by the fuzz targets: a fresh machine and agent state per input, and the checks every
// input must pass whatever it held.
#pragma once

#include "../unit/agent_state.h"
#include "registry.h"
#include "sim.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

inline void FreshMachine() {
  sim::Reset();
  ResetAgentState();
}

// A finding: print what broke and abort, so libFuzzer keeps the input.
[[noreturn]] inline void Finding(const std::string& what) {
  std::fprintf(stderr, "invariant broken: %s\n", what.c_str());
  std::abort();
}

inline void Require(bool condition, const std::string& what) {
  if (!condition)
    Finding(what);
}

inline void RequireEmptyLedger() {
  const std::string leaks = sim::Leaks();
  if (!leaks.empty())
    Finding("ledger not empty: " + leaks);
}

// Takes bytes off the front of the input.
struct Input {
  const uint8_t* data;
  size_t size;
  uint8_t Byte() {
    if (!size)
      return 0;
    --size;
    return *data++;
  }
  uint32_t Number() { return Byte() | (Byte() << 8) | (Byte() << 16) | (uint32_t{Byte()} << 24); }
  std::string Bytes(size_t count) {
    count = count < size ? count : size;
    std::string taken(reinterpret_cast<const char*>(data), count);
    data += count;
    size -= count;
    return taken;
  }
  std::string Rest() { return Bytes(size); }
};

// The hive's dump without the sections of the keys at or below any of the given paths
// (case-insensitive), for "nothing else changed". Their ancestors may be created on the way,
// so an ancestor section without values is left out too.
#include <sstream>
#include <vector>

inline std::string LowerText(std::string text) {
  for (char& c : text)
    c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return text;
}

inline std::string DumpExcept(HKEY root, const std::vector<std::string>& excluded) {
  std::istringstream lines(sim::reg::Dump(root));
  std::string line, kept, header, values;
  auto flush = [&] {
    if (header.empty())
      return;
    const std::string path = LowerText(header.substr(1, header.size() - 2));
    bool below = false, ancestor = path.empty();
    for (const std::string& prefix : excluded) {
      const std::string lower = LowerText(prefix);
      below = below || path == lower || lower.empty() || path.rfind(lower + "\\", 0) == 0;
      ancestor = ancestor || lower.rfind(path + "\\", 0) == 0;
    }
    if (!below && !(ancestor && values.empty()))
      kept += header + "\n" + values;
    header.clear();
    values.clear();
  };
  while (std::getline(lines, line)) {
    if (!line.empty() && line[0] == '[') {
      flush();
      header = line;
    } else {
      values += line + "\n";
    }
  }
  flush();
  return kept;
}
