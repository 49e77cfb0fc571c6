// The printer driver: its three files copied into the spooler's driver directory and registered
// as a version-3 driver.
#include "common/file_replacement.h"
#include "common/names.h"
#include "entry/state.h"
#include "spooler/spooler.h"

#include <windows.h>
#include <winspool.h>

#include <cstring>

namespace {

struct DriverFile {
  const char* source64;  // the product ships the 64-bit files under these names
  const char* source32;
  const char* name;  // in the driver directory, on every Windows
};

// In the order they are copied: driver library, configuration library, data file.
constexpr DriverFile kDriverFiles[] = {
    {"qelvpr_drv64.dll", kDriverLibrary, kDriverLibrary},
    {"qelvpr_ui64.dll", kConfigLibrary, kConfigLibrary},
    {"qelvpr_pnt64.txt", kDataFile, kDataFile},
};

// The spooler reads pDependentFiles as a list of strings ending in an empty one: two NULs.
constexpr char kNoDependentFiles[] = "\0";

// InstallDir ends in a backslash, so the folder follows it directly. A path that does not fit
// fails the copy: nothing is copied under a cut-off name.
bool CopyDriverFile(const DriverFile& file) {
  PathBuffer source;
  PathBuffer destination;
  const char* sourceName = Is64BitWindows ? file.source64 : file.source32;
  if (!FormatPath(source, "%splugins\\creator\\%s", InstallDir, sourceName))
    return false;
  if (!FormatPath(destination, "%s\\%s", DriverDir, file.name))
    return false;
  return CopyOver(source, destination);
}

// The file fields name the copies just placed in DriverDir, where the spooler looks for a new
// driver's files; it copies them into its version directory "3" itself.
bool RegisterDriver() {
  DRIVER_INFO_3A record;
  memset(&record, 0, sizeof record);
  record.cVersion = 3;
  record.pName = const_cast<LPSTR>(kDriverName);
  record.pEnvironment = DriverEnvironment;
  record.pDriverPath = const_cast<LPSTR>(kDriverLibrary);
  record.pDataFile = const_cast<LPSTR>(kDataFile);
  record.pConfigFile = const_cast<LPSTR>(kConfigLibrary);
  record.pHelpFile = const_cast<LPSTR>(kEmpty);
  record.pDependentFiles = const_cast<LPSTR>(kNoDependentFiles);
  record.pMonitorName = nullptr;
  record.pDefaultDataType = const_cast<LPSTR>(kEmpty);
  return AddPrinterDriverA(nullptr, 3, reinterpret_cast<LPBYTE>(&record)) != 0;
}

// The copies keep the read-only bit of their sources.
void ClearReadOnly(const char* name) {
  PathBuffer path;
  if (FormatPath(path, "%s\\%s", DriverDir, name))
    ClearAttributes(path, FILE_ATTRIBUTE_READONLY);
}

}  // namespace

int DeployPrinterDriver() {
  for (const DriverFile& file : kDriverFiles)
    if (!CopyDriverFile(file))
      return 0;
  if (!RegisterDriver())
    return 0;
  // The two libraries only: the data file keeps its attributes.
  ClearReadOnly(kDriverLibrary);
  ClearReadOnly(kConfigLibrary);
  return 1;
}
