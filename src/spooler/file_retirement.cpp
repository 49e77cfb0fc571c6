// Driver files and the print proxy process in the driver directory: moved out of the way before
// they are replaced or removed, and the proxy placed next to the driver.
#include "common/file_replacement.h"
#include "common/names.h"
#include "entry/state.h"
#include "spooler/spooler.h"

#include <windows.h>

namespace {

constexpr char kProxyProcess[] = "QXN_ProxyProcess.exe";
constexpr char kProxyProcess64[] = "QXN_ProxyProcess64.exe";

// Both paths of a row use the same format, so file and temporary file share a directory.
struct Retirement {
  const char* format;
  const char* fileName;
  const char* temporaryName;
};

// The driver files in DriverDir itself, retired on 64-bit Windows only.
constexpr Retirement kDriverDirFiles[] = {
    {"%s\\%s", kDataFile, "qnTmp1.tmp"},
    {"%s\\%s", kConfigLibrary, "qnTmp2.tmp"},
    {"%s\\%s", kDriverLibrary, "qnTmp3.tmp"},
};

// The installed version-3 files and the proxy process, always retired.
constexpr Retirement kVersionDirFiles[] = {
    {"%s\\3\\%s", kDataFile, "qnTmp1.tmp"},
    {"%s\\3\\%s", kConfigLibrary, "qnTmp2.tmp"},
    {"%s\\3\\%s", kDriverLibrary, "qnTmp3.tmp"},
    {"%s\\3\\%s", kProxyProcess, "qnTmp4.tmp"},
};

constexpr const Retirement& kProxyRetirement = kVersionDirFiles[3];

void Retire(const Retirement& row) {
  RetireFile(row.format, row.fileName, row.temporaryName);
}

// The driver library that DeployPrinterDriver placed in DriverDir itself; its copy in "3" stays.
void DeleteDriverLibrary() {
  PathBuffer path;
  if (FormatPath(path, "%s\\%s", DriverDir, kDriverLibrary))
    DeleteFileA(path);
}

// Whether the deletion that just failed found the file. Windows records a deletion at the next
// restart without looking at the file, and a machine with one waiting reads as "restart pending"
// to Windows Installer and to every deployment tool: a temporary name that the move never made
// (nothing to move, or a file held open that could not be moved) must not leave one.
bool FailedOnAFileThatIsThere() {
  const DWORD error = GetLastError();
  return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

}  // namespace

// A library the spooler or a printing program has loaded cannot be deleted, but it can be
// renamed: the move frees its name at once. The temporary file is then deleted, or at the next
// restart when it is there and that fails, whether or not the move worked: a temporary file left
// by an earlier run goes the same way. A row whose paths do not fit is skipped whole, since a
// cut-off path names some other file.
void RetireFile(const char* format, const char* fileName, const char* temporaryName) {
  PathBuffer file;
  PathBuffer temporary;
  if (!FormatPath(file, format, DriverDir, fileName) ||
      !FormatPath(temporary, format, DriverDir, temporaryName))
    return;
  MoveFileA(file, temporary);
  // A read-only file is not deleted: it would wait for the restart, and keep its name taken.
  ClearAttributes(temporary, FILE_ATTRIBUTE_READONLY);
  if (!DeleteFileA(temporary) && FailedOnAFileThatIsThere())
    MoveFileExA(temporary, nullptr, MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT);
}

void RetireDriverFiles() {
  if (Is64BitWindows)
    for (const Retirement& row : kDriverDirFiles)
      Retire(row);
  for (const Retirement& row : kVersionDirFiles)
    Retire(row);
}

// A proxy that cannot be placed takes the driver library in DriverDir with it. A path that does
// not fit counts as a copy that failed.
int DeployProxyProcess() {
  PathBuffer source;
  PathBuffer destination;
  const char* sourceName = Is64BitWindows ? kProxyProcess64 : kProxyProcess;
  const bool formed = FormatPath(source, "%splugins\\creator\\%s", InstallDir, sourceName) &&
                      FormatPath(destination, "%s\\3\\%s", DriverDir, kProxyProcess);
  if (formed && CopyOver(source, destination))
    return 1;
  DeleteDriverLibrary();
  return 0;
}

int RemoveProxyProcess() {
  Retire(kProxyRetirement);
  return 1;
}
