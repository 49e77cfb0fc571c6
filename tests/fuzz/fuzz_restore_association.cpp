// Saved association values of any type, size and bytes under either hive: the restore never
// overruns its buffers, leaves nothing open, and changes nothing but the three association
// values (and the product key its reads may create).
#include "fuzz_support.h"
#include "registry/registry.h"

#include <vector>

namespace {

constexpr char kProductKey[] = "Software\\Tessix Software\\Tessix Tembrin";
constexpr const char* kSaved[] = {"strdocument", "strCLSID", "strProgid"};
const std::vector<std::string> kMachineTargets = {
    "Software\\Classes\\.pdf",
    "Software\\Classes\\MIME\\Database\\Content Type\\application/pdf",
    kProductKey,
    "Software\\Wow6432Node\\Tessix Software\\Tessix Tembrin",
    "Software\\Wow6432Node\\Classes\\.pdf",
    "Software\\Wow6432Node\\Classes\\MIME\\Database\\Content Type\\application/pdf"};
const std::vector<std::string> kUserTargets = {
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.pdf", kProductKey};

void SeedNeighbours() {
  sim::reg::SetString(HKEY_LOCAL_MACHINE, "Software\\Classes\\.pdfx", "", "neighbour");
  sim::reg::SetString(HKEY_LOCAL_MACHINE, "Software\\Classes\\.pdf\\OpenWithList", "", "child");
  sim::reg::SetString(HKEY_CURRENT_USER, "Software\\Tessix Software\\Other", "v", "neighbour");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FreshMachine();
  Input input{data, size};
  const bool wow64 = input.Byte() & 1;
  sim::settings().wow64 = wow64;
  Is64BitWindows = wow64;
  SeedNeighbours();
  // Each saved value: present in each hive or not, with a type and bytes of its own.
  for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER})
    for (const char* name : kSaved) {
      const uint8_t shape = input.Byte();
      if (!(shape & 1))
        continue;
      const size_t length = (shape & 2) ? input.Number() % 70001 : input.Byte();
      const std::string bytes = input.Bytes(length);
      sim::reg::SetValue(root, kProductKey, name, (shape >> 2) % 12,
                         std::vector<BYTE>(bytes.begin(), bytes.end()), sim::reg::View::Native);
    }
  const std::string machineBefore = DumpExcept(HKEY_LOCAL_MACHINE, kMachineTargets);
  const std::string userBefore = DumpExcept(HKEY_CURRENT_USER, kUserTargets);

  RestorePdfAssociation();

  RequireEmptyLedger();
  Require(DumpExcept(HKEY_LOCAL_MACHINE, kMachineTargets) == machineBefore,
          "HKLM changed outside the association");
  Require(DumpExcept(HKEY_CURRENT_USER, kUserTargets) == userBefore,
          "HKCU changed outside the association");
  Require(sim::reg::GetString(HKEY_LOCAL_MACHINE, "Software\\Classes\\.pdf\\OpenWithList", "") ==
              "child",
          "the .pdf key's subkeys were touched");
  return 0;
}
