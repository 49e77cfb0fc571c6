// Replacing files: the driver files, the proxy process and the system libraries.
#pragma once

#include <windows.h>

// Clears the given attribute bits of a file (not of a directory), every other bit staying as it
// is; a missing file is left alone.
void ClearAttributes(const char* path, DWORD attributes);

// CopyFileA over an existing destination, which first loses its read-only, hidden and system
// bits.
bool CopyOver(const char* source, const char* destination);
