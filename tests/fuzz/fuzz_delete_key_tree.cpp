// DeleteKeyTree on generated trees: depth, long names, values, keys that cannot be opened and
// injected registry and allocator failures. Whatever happens, nothing outside the target tree
// changes and nothing is left open; on a clean run (no fault, every key openable, every child
// path and value name within its limits) the target is gone entirely.
#include "fuzz_support.h"
#include "registry/registry.h"

#include <vector>

namespace {

constexpr char kTarget[] = "Software\\Target";
const char* const kFaultable[] = {"RegOpenKeyExA", "RegQueryInfoKeyA", "RegEnumKeyExA",
                                  "RegEnumValueA", "RegDeleteValueA",  "RegDeleteKeyA",
                                  "HeapAlloc"};

std::string Name(Input& input) {
  static const char kLetters[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 ._-";
  const uint8_t shape = input.Byte();
  // Mostly short names; sometimes long ones that push a child path past 259 characters.
  const size_t length = 1 + ((shape & 0xC0) == 0xC0 ? input.Byte() : shape % 12);
  std::string name;
  for (size_t i = 0; i < length; ++i)
    name += kLetters[input.Byte() % (sizeof kLetters - 1)];
  return name;
}

struct Tree {
  bool clean = true;  // everything within limits and openable, no fault
};

void Grow(Input& input, HKEY root, const std::string& path, int depth, Tree& tree) {
  const uint8_t plan = input.Byte();
  for (int v = 0; v < (plan & 3); ++v) {
    const std::string name =
        (input.Byte() & 0x80) ? std::string(400 + input.Byte() * 2, 'v') : Name(input);
    if (name.size() >= 500)
      tree.clean = false;  // cannot be enumerated into its 500-char slot
    sim::reg::SetString(root, path, name, Name(input));
  }
  if (depth >= 5)
    return;
  for (int k = 0; k < ((plan >> 2) & 3) && input.size; ++k) {
    const std::string child = path + "\\" + Name(input);
    sim::reg::CreateKey(root, child);
    if (child.size() > 259)
      tree.clean = false;
    if ((input.Byte() & 0x3F) == 0x3F) {
      sim::reg::SetNotOpenable(root, child);
      tree.clean = false;
    }
    Grow(input, root, child, depth + 1, tree);
  }
}

void SeedNeighbours(HKEY root) {
  sim::reg::SetString(root, "Software\\TargetNeighbour", "v", "stays");
  sim::reg::SetString(root, "Software\\Targe", "v", "stays");
  sim::reg::SetString(root, "Software", "top", "stays");
  // The same path under the other hive must not be touched either.
  HKEY other = root == HKEY_LOCAL_MACHINE ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
  sim::reg::SetString(other, std::string(kTarget) + "\\Child", "v", "stays");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FreshMachine();
  Input input{data, size};
  const uint8_t setup = input.Byte();
  const HKEY root = (setup & 1) ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
  sim::settings().win9xFamily = (setup & 0x1E) == 0x1E;
  Tree tree;
  const int faults = (setup >> 5) & 3;
  for (int f = 0; f < faults; ++f) {
    const char* function = kFaultable[input.Byte() % (sizeof kFaultable / sizeof *kFaultable)];
    const int nth = 1 + input.Byte() % 16;
    // Failure values only: a registry error, or no block from the allocator.
    const int64_t result = std::string(function) == "HeapAlloc" ? 0 : ERROR_ACCESS_DENIED;
    sim::FailNth(function, nth, result, ERROR_ACCESS_DENIED);
    tree.clean = false;
  }
  sim::reg::CreateKey(root, kTarget);
  SeedNeighbours(root);
  Grow(input, root, kTarget, 0, tree);
  const std::string machineBefore = DumpExcept(HKEY_LOCAL_MACHINE, {kTarget});
  const std::string userBefore = DumpExcept(HKEY_CURRENT_USER, {kTarget});
  const std::string otherTarget =
      sim::reg::Dump(root == HKEY_LOCAL_MACHINE ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE);

  DeleteKeyTree(root, kTarget);

  RequireEmptyLedger();
  Require(DumpExcept(HKEY_LOCAL_MACHINE, {kTarget}) == machineBefore, "HKLM changed outside");
  Require(DumpExcept(HKEY_CURRENT_USER, {kTarget}) == userBefore, "HKCU changed outside");
  Require(sim::reg::Dump(root == HKEY_LOCAL_MACHINE ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE) ==
              otherTarget,
          "the other hive changed");
  if (tree.clean || sim::settings().win9xFamily)
    Require(!sim::reg::KeyExists(root, kTarget) || (sim::settings().win9xFamily && !tree.clean),
            "a clean removal left the target behind");
  return 0;
}
