// The add-in is a COM server that registers itself: we only load it and call its standard
// self-registration entry point.
#include "system/system.h"

#include "common/entry_point.h"
#include "common/library_loading.h"
#include "common/path_buffer.h"

#include <ole2.h>

#include <cstring>

namespace {

constexpr char kAddinLibrary[] = "qlc_wordaddin.dll";

// DllRegisterServer and DllUnregisterServer are STDAPI: no arguments, an HRESULT back.
using SelfRegistrationFn = HRESULT(WINAPI*)();

// Runs the entry point of a loaded library; 0 when it is missing or reports a failure. Only the
// sign counts: S_FALSE and other positive codes are successes.
int RunSelfRegistration(HMODULE library, int doRegister) {
  const auto entry = EntryPoint<SelfRegistrationFn>(
      library, doRegister ? "DllRegisterServer" : "DllUnregisterServer");
  if (!entry)
    return 0;
  return FAILED(entry()) ? 0 : 1;
}

int CallAddin(const char* directory, int doRegister) {
  PathBuffer library;
  memset(library, 0, sizeof library);
  // The directory already ends in a backslash. A path cut to fit would load another file.
  if (!CopyPath(library, directory) || !AppendPath(library, kAddinLibrary))
    return 0;
  return CallComRegistration(library, doRegister);
}

}  // namespace

int CallComRegistration(const char* libraryPath, int doRegister) {
  // S_FALSE (already initialised on this thread) still needs its OleUninitialize; a failure
  // initialised nothing and must not be matched.
  if (FAILED(OleInitialize(nullptr)))
    return 0;
  SearchSwitches switches;
  HMODULE library = LoadServerLibrary(libraryPath, switches);
  if (!library) {
    OleUninitialize();
    return 0;
  }
  const int result = RunSelfRegistration(library, doRegister);
  // The library goes while OLE is still up: its detach code may still call into COM.
  FreeServerLibrary(library, switches);
  OleUninitialize();
  return result;
}

int RegisterWordAddin(const char* directory) {
  return CallAddin(directory, 1);
}

int UnregisterWordAddin(const char* directory) {
  return CallAddin(directory, 0);
}
