// Driver files and the print proxy process in the driver directory: moved out of the way before
// they are replaced or removed, and the proxy placed next to the driver.
#include "common/file_replacement.h"
#include "common/names.h"
#include "entry/state.h"
#include "spooler/spooler.h"

#include <windows.h>

#include <cstring>

namespace {

// Both paths of a row use the same format, so file and temporary file share a directory.
struct Retirement {
  const char* format;
  const char* fileName;
  const char* temporaryName;  // "qnTmpN.tmp"
};

// In the order they are retired: the driver files in DriverDir itself (on 64-bit Windows only),
// then the installed version-3 files and the proxy process.
constexpr Retirement kRetirements[kRetiredFileCount] = {
    {"%s\\%s", kDataFile, "qnTmp1.tmp"},         {"%s\\%s", kConfigLibrary, "qnTmp2.tmp"},
    {"%s\\%s", kDriverLibrary, "qnTmp3.tmp"},    {"%s\\3\\%s", kDataFile, "qnTmp1.tmp"},
    {"%s\\3\\%s", kConfigLibrary, "qnTmp2.tmp"}, {"%s\\3\\%s", kDriverLibrary, "qnTmp3.tmp"},
    {"%s\\3\\%s", kProxyProcess, "qnTmp4.tmp"},
};
constexpr int kFirstVersionDirRow = 3;
constexpr int kProxyRow = 6;

// A temporary name stays taken until the restart while its file is loaded: a reinstall and a
// second uninstall before then need another. Then "qnTmpN-1.tmp" to "qnTmpN-9.tmp" serve.
constexpr int kTemporaryVariants = 10;
// What MoveAside gives instead of a variant.
constexpr int kNotMoved = -1;   // nothing there to move
constexpr int kUnmovable = -2;  // there, but it cannot be moved

bool IsRowOfThisWindows(int row) {
  return row >= kFirstVersionDirRow || Is64BitWindows;
}

bool FormFilePath(const Retirement& row, PathBuffer& path) {
  return FormatPath(path, row.format, DriverDir, row.fileName);
}

// The plain temporary name for variant 0, a numbered one ("qnTmp3-2.tmp") otherwise.
bool FormTemporaryPath(const Retirement& row, int variant, PathBuffer& path) {
  PathBuffer name;
  if (!CopyPath(name, row.temporaryName))
    return false;
  char* extension = strrchr(name, '.');
  if (variant > 0 && variant < kTemporaryVariants && extension) {
    char numbered[] = "-0.tmp";
    numbered[1] = static_cast<char>('0' + variant);
    *extension = '\0';
    AppendPath(name, numbered);
  }
  return FormatPath(path, row.format, DriverDir, name);
}

// Whether the call that just failed found the file. Windows records a deletion at the next
// restart without looking at the file, and a machine with one waiting reads as "restart pending"
// to Windows Installer and to every deployment tool: a name that holds nothing (nothing to move,
// nothing left to delete) must not leave one.
bool FailedOnAFileThatIsThere() {
  const DWORD error = GetLastError();
  return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

// A read-only file would not be deleted, now or at the restart.
void DeleteAtRestart(const char* path) {
  ClearAttributes(path, FILE_ATTRIBUTE_READONLY);
  MoveFileExA(path, nullptr, MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT);
}

// A library the spooler or a printing program has loaded cannot be deleted, but it can be
// renamed: the move frees its name at once, and its temporary file goes at the next restart.
void DeleteTemporary(const Retirement& row, int variant) {
  PathBuffer temporary;
  if (!FormTemporaryPath(row, variant, temporary))
    return;
  ClearAttributes(temporary, FILE_ATTRIBUTE_READONLY);
  if (!DeleteFileA(temporary) && FailedOnAFileThatIsThere())
    DeleteAtRestart(temporary);
}

// Moves the file to the first temporary name that is free: the variant it took; kNotMoved when
// there is nothing to move; kUnmovable when it is there but cannot be moved (held open without
// delete sharing, or every name still taken). The temporary names are shorter than the file's,
// so they fit wherever its path does.
int MoveAside(const Retirement& row, const char* file) {
  for (int variant = 0; variant < kTemporaryVariants; ++variant) {
    PathBuffer temporary;
    if (!FormTemporaryPath(row, variant, temporary))
      return kNotMoved;
    if (MoveFileA(file, temporary))
      return variant;
    const DWORD error = GetLastError();
    if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS)
      return FailedOnAFileThatIsThere() ? kUnmovable : kNotMoved;
  }
  return kUnmovable;
}

// Temporary files that an earlier run left (one killed before it deleted them, or one whose
// files were loaded until the restart that has come since) go first. One that cannot be deleted
// yet is left to the restart its own run asked for, or to the next run.
void DeleteLeftovers(const char* format) {
  PathBuffer pattern;
  if (!FormatPath(pattern, format, DriverDir, "qnTmp*.tmp"))
    return;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(pattern, &found);
  if (search == INVALID_HANDLE_VALUE)
    return;
  do {
    PathBuffer leftover;
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
        FormatPath(leftover, format, DriverDir, found.cFileName) &&
        ClearAttributes(leftover, FILE_ATTRIBUTE_READONLY))
      DeleteFileA(leftover);
  } while (FindNextFileA(search, &found));
  FindClose(search);
}

void DeleteLeftoversOfThisWindows() {
  if (Is64BitWindows)
    DeleteLeftovers("%s\\%s");
  DeleteLeftovers("%s\\3\\%s");
}

// At the uninstall: moved aside and deleted, now or at the next restart; a file that cannot be
// moved at all goes at the next restart under its own name. A row whose paths do not fit is
// skipped whole, since a cut-off path names some other file.
void RetireRow(const Retirement& row) {
  PathBuffer file;
  if (!FormFilePath(row, file))
    return;
  const int variant = MoveAside(row, file);
  if (variant >= 0)
    DeleteTemporary(row, variant);
  else if (variant == kUnmovable)
    DeleteAtRestart(file);
}

// The driver library that DeployPrinterDriver placed in DriverDir itself; its copy in "3" stays.
void DeleteDriverLibrary() {
  PathBuffer path;
  if (FormatPath(path, "%s\\%s", DriverDir, kDriverLibrary))
    DeleteFileA(path);
}

bool FormProxySource(PathBuffer& source) {
  const char* sourceName = Is64BitWindows ? kProxyProcess64 : kProxyProcess;
  return FormatPath(source, "%splugins\\creator\\%s", InstallDir, sourceName);
}

bool FormProxyDestination(PathBuffer& destination) {
  return FormatPath(destination, "%s\\3\\%s", DriverDir, kProxyProcess);
}

}  // namespace

void RetireFile(const char* format, const char* fileName, const char* temporaryName) {
  RetireRow(Retirement{format, fileName, temporaryName});
}

void MoveDriverFilesAside(RetiredFiles& retired) {
  DeleteLeftoversOfThisWindows();
  for (int row = 0; row < kRetiredFileCount; ++row) {
    PathBuffer file;
    const int variant = IsRowOfThisWindows(row) && FormFilePath(kRetirements[row], file)
                            ? MoveAside(kRetirements[row], file)
                            : kNotMoved;
    retired.variant[row] = variant < 0 ? kNotMoved : variant;
  }
}

void DeleteRetiredFiles(const RetiredFiles& retired) {
  for (int row = 0; row < kRetiredFileCount; ++row)
    if (retired.variant[row] != kNotMoved)
      DeleteTemporary(kRetirements[row], retired.variant[row]);
}

// A file goes back only where no new file has taken its name since: the old driver's files and
// proxy belong together, and MoveFileA never replaces. A loaded library is renamed back as it was
// renamed aside. What cannot go back is deleted.
bool PutBackRetiredFiles(const RetiredFiles& retired) {
  bool everyFile = true;
  for (int row = 0; row < kRetiredFileCount; ++row) {
    const int variant = retired.variant[row];
    PathBuffer file;
    PathBuffer temporary;
    if (variant == kNotMoved)
      continue;
    if (FormFilePath(kRetirements[row], file) &&
        FormTemporaryPath(kRetirements[row], variant, temporary) && MoveFileA(temporary, file))
      continue;
    everyFile = false;
    DeleteTemporary(kRetirements[row], variant);
  }
  return everyFile;
}

void RetireDriverFiles() {
  DeleteLeftoversOfThisWindows();
  for (int row = 0; row < kRetiredFileCount; ++row)
    if (IsRowOfThisWindows(row))
      RetireRow(kRetirements[row]);
}

bool ProxyCanBeCopied() {
  PathBuffer source;
  PathBuffer destination;
  return FormProxySource(source) && FormProxyDestination(destination) && CanBeRead(source);
}

// A proxy that cannot be placed takes the driver library in DriverDir with it. A path that does
// not fit counts as a copy that failed.
int DeployProxyProcess() {
  PathBuffer source;
  PathBuffer destination;
  const bool formed = FormProxySource(source) && FormProxyDestination(destination);
  if (formed && CopyOver(source, destination))
    return 1;
  DeleteDriverLibrary();
  return 0;
}

int RemoveProxyProcess() {
  RetireRow(kRetirements[kProxyRow]);
  return 1;
}
