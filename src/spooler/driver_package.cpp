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
    {kDriverLibrary64, kDriverLibrary, kDriverLibrary},
    {kConfigLibrary64, kConfigLibrary, kConfigLibrary},
    {kDataFile64, kDataFile, kDataFile},
};

// The spooler reads pDependentFiles as a list of strings ending in an empty one: two NULs.
constexpr char kNoDependentFiles[] = "\0";

constexpr int kDriverFileCount = sizeof kDriverFiles / sizeof kDriverFiles[0];

// InstallDir ends in a backslash, so the folder follows it directly. false when the path does not
// fit: nothing is read or copied under a cut-off name.
bool FormSourcePath(const DriverFile& file, PathBuffer& source) {
  const char* sourceName = Is64BitWindows ? file.source64 : file.source32;
  return FormatPath(source, "%splugins\\creator\\%s", InstallDir, sourceName);
}

bool FormDestinationPath(const char* name, PathBuffer& destination) {
  return FormatPath(destination, "%s\\%s", DriverDir, name);
}

// `placed` says whether the copy took a name that no file had before.
bool CopyDriverFile(const DriverFile& file, bool& placed) {
  PathBuffer source;
  PathBuffer destination;
  placed = false;
  if (!FormSourcePath(file, source) || !FormDestinationPath(file.name, destination))
    return false;
  bool existed = true;
  const bool copied = CopyOver(source, destination, &existed);
  placed = copied && !existed;
  return copied;
}

// A driver that could not be registered leaves none of the copies this run placed: the next run
// would find no use for them. Files it copied over keep the new contents, as before.
void RemovePlacedCopies(const bool (&placed)[kDriverFileCount]) {
  for (int i = 0; i < kDriverFileCount; ++i) {
    PathBuffer destination;
    if (placed[i] && FormDestinationPath(kDriverFiles[i].name, destination)) {
      ClearAttributes(destination, FILE_ATTRIBUTE_READONLY);
      DeleteFileA(destination);
    }
  }
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
  if (FormDestinationPath(name, path))
    ClearAttributes(path, FILE_ATTRIBUTE_READONLY);
}

}  // namespace

bool DriverFilesCanBeCopied() {
  for (const DriverFile& file : kDriverFiles) {
    PathBuffer source;
    PathBuffer destination;
    if (!FormSourcePath(file, source) || !FormDestinationPath(file.name, destination) ||
        !CanBeRead(source))
      return false;
  }
  return true;
}

// The spooler may refuse a driver that the agent had no way to judge beforehand: a signature
// policy, Windows protected print mode switched on since the start of the run.
int DeployPrinterDriver() {
  bool placed[kDriverFileCount] = {};
  for (int i = 0; i < kDriverFileCount; ++i)
    if (!CopyDriverFile(kDriverFiles[i], placed[i])) {
      RemovePlacedCopies(placed);
      return 0;
    }
  if (!RegisterDriver()) {
    RemovePlacedCopies(placed);
    return 0;
  }
  // The two libraries only: the data file keeps its attributes.
  ClearReadOnly(kDriverLibrary);
  ClearReadOnly(kConfigLibrary);
  return 1;
}
