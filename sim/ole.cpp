// Simulated ole32: per-thread OLE initialisation, counted in the ledger.
#include "internal.h"
#include "ole.h"

#include <ole2.h>

namespace {
int& initCount() {
  static int count = 0;
  return count;
}
}  // namespace

namespace sim::detail {
void EndProcessOle() {
  initCount() = 0;
}

void ResetOle() {
  initCount() = 0;
}
}  // namespace sim::detail

namespace sim::ole {
int InitCount() {
  return initCount();
}
}  // namespace sim::ole

using namespace sim::detail;

extern "C" {

HRESULT WINAPI OleInitialize(LPVOID reserved) {
  const Hit hit = Enter("OleInitialize", {reserved ? "reserved" : "NULL"});
  if (hit.fired)
    return static_cast<HRESULT>(hit.result);
  Acquire("OLE initialisation");
  // Every successful call, S_FALSE included, must be matched by OleUninitialize.
  return initCount()++ == 0 ? S_OK : S_FALSE;
}

void WINAPI OleUninitialize(void) {
  Enter("OleUninitialize", {});
  if (initCount() == 0) {
    Misuse("OleUninitialize without a matching OleInitialize");
    return;
  }
  --initCount();
  Release("OLE initialisation");
}

}  // extern "C"
