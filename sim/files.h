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
// - MoveFileA never replaces an existing name (ERROR_ALREADY_EXISTS) and renames read-only and
//   loaded files, as Windows renames a loaded library; a file held open without delete sharing
//   it cannot move (ERROR_SHARING_VIOLATION), since it opens its source for deletion.
// - DeleteFileA fails on a missing file, with ERROR_ACCESS_DENIED on a read-only or a loaded
//   file or a directory, and with ERROR_SHARING_VIOLATION on a file held open.
// - MoveFileExA(path, NULL, MOVEFILE_DELAY_UNTIL_REBOOT | ...) only records the deletion, as
//   Windows does: it appends "\??\<path>" and an empty new name to the REG_MULTI_SZ
//   "PendingFileRenameOperations" of HKLM\System\CurrentControlSet\Control\Session Manager,
//   without looking at the file (so it needs an administrator).
// - CreateFileA opens an existing file for reading only (GENERIC_READ, OPEN_EXISTING): the
//   agent reads headers, never writes through a handle. ReadFile and SetFilePointer (from the
//   start) work on it; the handle is in the ledger until CloseHandle. While it is open, the file
//   cannot be moved or deleted without FILE_SHARE_DELETE in its sharing, nor overwritten without
//   FILE_SHARE_WRITE (ERROR_SHARING_VIOLATION), as on Windows.
// - FindFirstFileA matches "*" and "?" in the last component, directories included ("." and ".."
//   too, outside a root), and FindNextFileA hands out the other matches as they were when the
//   search began (ERROR_NO_MORE_FILES after the last); search handles are in the ledger until
//   FindClose.
// - A path of MAX_PATH characters or more fails with ERROR_FILENAME_EXCED_RANGE (206).
// - WOW64: for a 32-bit process on 64-bit Windows (settings().wow64) whose redirection is on,
//   "<windows directory>\System32\..." is "<windows directory>\SysWOW64\...", except the exempt
//   trees System32\spool, catroot, catroot2, driverstore, drivers\etc and logfiles.
//
// sim::Reset() leaves drive C with C:\Windows\System32 and C:\Windows\SysWOW64 (the spooler adds
// its driver directories).
#pragma once

#include "security.h"
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
// A file's or folder's owner and DACL (see security.h); nothing happens for a missing one.
void SetSecurity(const std::string& path, const sim::security::Descriptor& security);
sim::security::Descriptor Security(const std::string& path);
// Makes the folder and its missing parents, and gives it, every folder above it below the root
// and everything below it security::AdministratorsOnly(), as an administrator locks a folder
// outside Program Files down.
void RestrictToAdministrators(const std::string& path);
// Another program's hold on a file. A loaded program or library can be read and renamed, but
// neither overwritten nor deleted. A file held open without delete sharing, as a driver holds
// its data file, can be neither overwritten, nor renamed, nor deleted.
enum class Use { None, Loaded, HeldOpen };
void SetInUse(const std::string& path, Use use = Use::Loaded);

// The names in a directory, in the order Windows lists them (case-insensitive).
std::vector<std::string> List(const std::string& directory);
// Windows restarts: the deletions due are carried out, their registry value goes, and no program
// holds a file any more.
void Restart();
// Full paths of the deletions scheduled until the next restart, in the order they were asked for,
// as the registry value lists them.
std::vector<std::string> PendingDeletions();
// Every directory and file with its attributes and contents, as text: for asserting that two
// machines ended alike (the deletions due at the next restart are in the registry's dump).
std::string Dump();

}  // namespace sim::files
