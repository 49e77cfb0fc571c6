// Seeding and inspecting the simulated file system.
//
// Drives hold directories and files; names are case-insensitive and keep the case they were
// created with. A path starting with "\" lies on sim::settings().currentDrive, and a relative
// path is taken from that drive's root (the simulated current directory). Paths given here are
// native paths: unlike the kernel32 calls of the agent, they are never redirected by WOW64.
//
// What the kernel32 calls model, as Windows behaves:
// - CopyFileA overwrites unless told not to (ERROR_FILE_EXISTS) and copies the attributes, the
//   read-only bit included; it fails on a missing source (ERROR_FILE_NOT_FOUND), a missing
//   directory (ERROR_PATH_NOT_FOUND), a read-only, hidden or system destination
//   (ERROR_ACCESS_DENIED) and an in-use destination (ERROR_SHARING_VIOLATION).
// - MoveFileA never replaces an existing name (ERROR_ALREADY_EXISTS) and renames in-use and
//   read-only files, as Windows renames a loaded library.
// - DeleteFileA fails on a missing file, and with ERROR_ACCESS_DENIED on a read-only, an in-use
//   file or a directory.
// - MoveFileExA(path, NULL, MOVEFILE_DELAY_UNTIL_REBOOT | ...) only records the deletion (it
//   needs an administrator, as it writes to HKLM, and does not look at the file).
// - FindFirstFileA matches "*" and "?" in the last component, directories included ("." and ".."
//   too, outside a root); its search handles are in the ledger until FindClose.
// - A path of MAX_PATH characters or more fails with ERROR_FILENAME_EXCED_RANGE (206).
// - WOW64: for a 32-bit process on 64-bit Windows (settings().wow64) whose redirection is on,
//   "<windows directory>\System32\..." is "<windows directory>\SysWOW64\...", except the exempt
//   trees System32\spool, catroot, catroot2, driverstore, drivers\etc and logfiles.
//
// sim::Reset() leaves drive C with C:\Windows\System32 and C:\Windows\SysWOW64 (the spooler adds
// its driver directories).
#pragma once

#include "sim.h"

#include <optional>
#include <string>
#include <vector>

namespace sim::files {

// Creates the file (replacing one of that name) and any missing parent directories and drive.
void AddFile(const std::string& path, const std::string& contents = "",
             DWORD attributes = FILE_ATTRIBUTE_ARCHIVE);
// Creates the directory and any missing parents; an existing one is left as it is.
void AddDirectory(const std::string& path);
// Removes a file, or a directory with everything below it.
void Remove(const std::string& path);

bool Exists(const std::string& path);  // a file or a directory
bool IsDirectory(const std::string& path);
// The file's contents; nullopt for a directory or a missing file.
std::optional<std::string> Contents(const std::string& path);
// What GetFileAttributesA reports: FILE_ATTRIBUTE_NORMAL for a file without attributes,
// INVALID_FILE_ATTRIBUTES for a missing one.
DWORD Attributes(const std::string& path);
// An in-use file is held open by another program, as a loaded driver library is: it can be read
// and renamed, but neither overwritten nor deleted.
void SetInUse(const std::string& path, bool inUse = true);

// The names in a directory, in the order Windows lists them (case-insensitive).
std::vector<std::string> List(const std::string& directory);
// Full paths of the deletions scheduled until the next restart, in the order they were asked for.
std::vector<std::string> PendingDeletions();
// Every directory and file with its attributes and contents, and the paths to be deleted at the
// next restart, as text: for asserting that two machines ended alike.
std::string Dump();

}  // namespace sim::files
