#include "common/library_loading.h"

#include "common/entry_point.h"
#include "common/path_syntax.h"

int LibrarySearchRestricted = 0;

namespace {

// kernel32 is part of every process: GetModuleHandleA finds it without a search.
SearchSwitches FindSearchSwitches() {
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  if (!kernel)
    return {nullptr, nullptr};
  return {EntryPoint<SearchSwitches::SetDefaultFn>(kernel, "SetDefaultDllDirectories"),
          EntryPoint<SearchSwitches::SetDllDirectoryFn>(kernel, "SetDllDirectoryA")};
}

bool SetDefaultDirectories(const SearchSwitches& switches, DWORD directories) {
  return switches.setDefault && switches.setDefault(directories);
}

// "" takes the current directory out of the search; a folder is searched before the system
// directory, and, where the search is restricted, wherever LOAD_LIBRARY_SEARCH_USER_DIRS says.
bool UseDllDirectory(const SearchSwitches& switches, const char* folder) {
  return switches.setDllDirectory && switches.setDllDirectory(folder);
}

// The folder of a path, with its trailing backslash; false when the path names no folder.
bool FolderOf(const char* path, PathBuffer& folder) {
  const char* lastSlash = LastBackslash(path);
  if (!lastSlash || !CopyPath(folder, path))
    return false;
  folder[lastSlash - path + 1] = '\0';
  return true;
}

// While a COM server registers, the libraries it loads by name may sit beside it. The switches
// are looked up once, before anything is widened, so that narrowing needs no lookup that could
// fail and leave the search wide.
void SearchServerFolder(const char* path, SearchSwitches& switches) {
  switches = FindSearchSwitches();
  PathBuffer folder;
  if (!FolderOf(path, folder))
    return;
  if (LibrarySearchRestricted &&
      !SetDefaultDirectories(switches,
                             LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_USER_DIRS))
    return;
  UseDllDirectory(switches, folder);
}

void StopSearchingServerFolder(const SearchSwitches& switches) {
  UseDllDirectory(switches, "");
  if (LibrarySearchRestricted)
    SetDefaultDirectories(switches, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

}  // namespace

void RestrictLibrarySearch() {
  const SearchSwitches switches = FindSearchSwitches();
  if (SetDefaultDirectories(switches, LOAD_LIBRARY_SEARCH_SYSTEM32)) {
    LibrarySearchRestricted = 1;
    return;
  }
  UseDllDirectory(switches, "");
}

// Without the restriction the program's own folder comes first in every search, so the library
// is named by its full path.
HMODULE LoadSystemLibrary(const char* name) {
  if (LibrarySearchRestricted)
    return LoadLibraryA(name);
  PathBuffer systemDir;
  PathBuffer path;
  const UINT length = GetSystemDirectoryA(systemDir, MAX_PATH);
  if (length == 0 || length >= MAX_PATH || !FormatPath(path, "%s\\%s", systemDir, name))
    return nullptr;
  return LoadLibraryA(path);
}

// LOAD_LIBRARY_SEARCH_DEFAULT_DIRS would bring the application's folder back: the server's own
// folder and the system directory are named one by one. Without the restriction, the altered
// search puts the server's folder where the program's would be. The folder is searched from
// before the load on, so that the server's DllMain finds its libraries as well.
HMODULE LoadServerLibrary(const char* path, SearchSwitches& switches) {
  // A relative or rooted path would be taken from the current directory or drive, which is no
  // place to load code from.
  if (!IsFullPath(path))
    return nullptr;
  const DWORD search = LibrarySearchRestricted
                           ? LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32
                           : LOAD_WITH_ALTERED_SEARCH_PATH;
  SearchServerFolder(path, switches);
  HMODULE library = LoadLibraryExA(path, nullptr, search);
  if (!library)
    StopSearchingServerFolder(switches);
  return library;
}

void FreeServerLibrary(HMODULE library, const SearchSwitches& switches) {
  FreeLibrary(library);
  StopSearchingServerFolder(switches);
}
