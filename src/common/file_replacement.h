// Replacing files: the driver files, the proxy process and the system libraries.
#pragma once

#include <windows.h>

// Clears the given attribute bits of a file (not of a directory), every other bit staying as it
// is. false when there is no file or directory of that name.
bool ClearAttributes(const char* path, DWORD attributes);

// CopyFileA over an existing destination, which first loses its read-only, hidden and system
// bits. `existed`, when given, says whether a file of that name was there before.
bool CopyOver(const char* source, const char* destination, bool* existed = nullptr);

// Whether the file is there and this process may read it: opened for reading and closed again.
bool CanBeRead(const char* path);
