// Registry values of any type, size and bytes: the reader never writes past its 260-byte buffer
// (AddressSanitizer watches a buffer of exactly that size), always leaves a terminated text, and
// that text is either the fallback or a prefix of the stored bytes.
#include "fuzz_support.h"
#include "registry.h"
#include "registry/registry.h"

#include <memory>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FreshMachine();
  Input input{data, size};
  const DWORD type = input.Byte() % 12;
  const bool wow64 = input.Byte() & 1;
  const std::string stored = input.Rest();
  sim::settings().wow64 = wow64;
  Is64BitWindows = wow64;
  constexpr char kKey[] = "Software\\Vendor\\Product";
  sim::reg::SetValue(HKEY_LOCAL_MACHINE, kKey, "v", type,
                     std::vector<BYTE>(stored.begin(), stored.end()), sim::reg::View::Native);

  struct Box {
    PathBuffer out;
  };
  auto box = std::make_unique<Box>();       // on the heap, so ASan sees the buffer's exact end
  memset(box->out, 0x5A, sizeof box->out);  // no help from a zero-filled buffer
  Require(ReadRegString(HKEY_LOCAL_MACHINE, kKey, "v", "fallback", box->out) == 1, "result not 1");
  Require(memchr(box->out, '\0', MAX_PATH) != nullptr, "unterminated result");
  const std::string text(box->out);
  const bool isString = type == REG_SZ || type == REG_EXPAND_SZ;
  if (text != "fallback") {
    Require(isString, "non-string value read");
    Require(stored.compare(0, text.size(), text) == 0, "text is not the stored bytes");
  }
  RequireEmptyLedger();
  return 0;
}
