#include "common/file_replacement.h"

bool ClearAttributes(const char* path, DWORD attributes) {
  const DWORD old = GetFileAttributesA(path);
  if (old == INVALID_FILE_ATTRIBUTES)
    return false;
  if (!(old & FILE_ATTRIBUTE_DIRECTORY) && (old & attributes))
    SetFileAttributesA(path, (old & ~attributes) | FILE_ATTRIBUTE_NORMAL);
  return true;
}

// CopyFileA refuses to replace a read-only, a hidden or a system file (ERROR_ACCESS_DENIED), and
// the copy of a driver file that came from read-only media, or from an MSI, is read-only.
bool CopyOver(const char* source, const char* destination, bool* existed) {
  const bool there = ClearAttributes(
      destination, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  if (existed)
    *existed = there;
  return CopyFileA(source, destination, FALSE) != 0;
}

// A directory of that name cannot be opened this way, a file that another program writes
// without sharing cannot either: neither could be copied.
bool CanBeRead(const char* path) {
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return false;
  CloseHandle(file);
  return true;
}
