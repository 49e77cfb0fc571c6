// Where the agent's libraries come from. It runs elevated, often from a folder its user can write
// to (a download folder, an installer's temporary folder); a library planted there or in the
// current directory would run with administrator rights. So the search is restricted before
// anything loads, Windows' own libraries come from the system directory only, and the add-in is
// loaded from its own folder.
#pragma once

#include "common/path_buffer.h"

#include <windows.h>

// 1 once SetDefaultDllDirectories has confined the search to the system directory (Windows 8
// and later, Vista and 7 with their loader update); then LoadLibraryExA takes the
// LOAD_LIBRARY_SEARCH_* flags. 0 before, and on systems without it.
extern int LibrarySearchRestricted;

// The process's first act. Where SetDefaultDllDirectories is missing, SetDllDirectoryA("")
// at least takes the current directory out of the search (XP SP1 and later).
void RestrictLibrarySearch();

// LoadLibraryA of one of Windows' own libraries ("winspool.drv", "kernel32.dll"), from the
// system directory whatever the search allows. NULL when it cannot be loaded from there.
HMODULE LoadSystemLibrary(const char* name);

// Loads a COM server by its full path, as regsvr32 does: the libraries it imports are looked
// for in its own folder first and never in the agent's (without the restriction, the classic
// search's system and Windows directories follow). Until FreeServerLibrary, libraries that it
// loads by name are looked for in its folder too. NULL for a path that is not full (a relative
// or rooted one would be taken from the current directory or drive). `switches` carries the
// kernel's search switches from the one call to the other.
struct SearchSwitches {
  using SetDefaultFn = BOOL(WINAPI*)(DWORD);
  using SetDllDirectoryFn = BOOL(WINAPI*)(LPCSTR);
  SetDefaultFn setDefault;            // SetDefaultDllDirectories, NULL where missing
  SetDllDirectoryFn setDllDirectory;  // SetDllDirectoryA, NULL where missing
};
HMODULE LoadServerLibrary(const char* path, SearchSwitches& switches);
void FreeServerLibrary(HMODULE library, const SearchSwitches& switches);
