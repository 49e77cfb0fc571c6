#include "common/file_replacement.h"

void ClearAttributes(const char* path, DWORD attributes) {
  const DWORD old = GetFileAttributesA(path);
  if (old == INVALID_FILE_ATTRIBUTES || (old & FILE_ATTRIBUTE_DIRECTORY) || !(old & attributes))
    return;
  SetFileAttributesA(path, (old & ~attributes) | FILE_ATTRIBUTE_NORMAL);
}

// CopyFileA refuses to replace a read-only, a hidden or a system file (ERROR_ACCESS_DENIED), and
// the copy of a driver file that came from read-only media, or from an MSI, is read-only.
bool CopyOver(const char* source, const char* destination) {
  ClearAttributes(destination,
                  FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  return CopyFileA(source, destination, FALSE) != 0;
}
