// Simulated shell32: the application-data folder as an item list, and change notices.
#include "internal.h"

#include <shlobj.h>

#include <algorithm>
#include <cstring>
#include <set>

namespace {

std::set<ITEMIDLIST*>& itemLists() {
  static std::set<ITEMIDLIST*> lists;
  return lists;
}

}  // namespace

namespace sim::detail {
void EndProcessShell() {
  ResetShell();
}

void ResetShell() {
  for (ITEMIDLIST* list : itemLists())
    delete list;
  itemLists().clear();
}
}  // namespace sim::detail

using namespace sim::detail;

extern "C" {

HRESULT WINAPI SHGetSpecialFolderLocation(HWND, int csidl, PIDLIST_ABSOLUTE* result) {
  const Hit hit = Enter("SHGetSpecialFolderLocation", {Hex(static_cast<uint32_t>(csidl))});
  // On failure *result is left as it was: a caller that uses it anyway reads undefined data.
  if (hit.fired)
    return static_cast<HRESULT>(hit.result);
  if (csidl != CSIDL_APPDATA || sim::settings().appDataFolder.empty())
    return E_FAIL;
  auto* list = new ITEMIDLIST{};
  itemLists().insert(list);
  Acquire("shell item list");
  *result = list;
  return S_OK;
}

BOOL WINAPI SHGetPathFromIDListA(PCIDLIST_ABSOLUTE list, LPSTR path) {
  if (Enter("SHGetPathFromIDListA", {}).fired) {
    if (path)
      path[0] = '\0';
    return FALSE;
  }
  if (!itemLists().count(const_cast<ITEMIDLIST*>(list))) {
    Misuse("SHGetPathFromIDListA with an item list the shell did not hand out");
    return FALSE;
  }
  const std::string folder = ToAnsi(sim::settings().appDataFolder);
  if (folder.size() >= MAX_PATH) {
    path[0] = '\0';
    return FALSE;
  }
  std::memcpy(path, folder.c_str(), folder.size() + 1);
  return TRUE;
}

// The folder's name as the shell keeps it, in UTF-16: no code page comes between.
BOOL WINAPI SHGetPathFromIDListW(PCIDLIST_ABSOLUTE list, LPWSTR path) {
  if (Enter("SHGetPathFromIDListW", {}).fired) {
    if (path)
      path[0] = 0;
    return FALSE;
  }
  if (!itemLists().count(const_cast<ITEMIDLIST*>(list))) {
    Misuse("SHGetPathFromIDListW with an item list the shell did not hand out");
    return FALSE;
  }
  const std::u16string folder = ToUtf16(sim::settings().appDataFolder);
  if (folder.size() >= MAX_PATH) {
    path[0] = 0;
    return FALSE;
  }
  std::copy(folder.begin(), folder.end(), path);
  path[folder.size()] = 0;
  return TRUE;
}

void WINAPI SHChangeNotify(LONG event, UINT flags, LPCVOID item1, LPCVOID item2) {
  Enter("SHChangeNotify", {Hex(static_cast<uint32_t>(event)), Hex(flags), item1 ? "item" : "NULL",
                           item2 ? "item" : "NULL"});
}

void WINAPI CoTaskMemFree(LPVOID block) {
  Enter("CoTaskMemFree", {block ? "block" : "NULL"});
  if (!block)
    return;
  auto* list = static_cast<ITEMIDLIST*>(block);
  if (!itemLists().erase(list)) {
    Misuse("CoTaskMemFree of memory the shell did not hand out");
    return;
  }
  delete list;
  Release("shell item list");
}

}  // extern "C"
