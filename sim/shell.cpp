// Simulated shell32: the application-data folder as an item list, and change notices.
#include "internal.h"

#include <shlobj.h>

#include <algorithm>
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

namespace {

// SHGetPathFromIDList of either character width: `folder` is the application-data folder as the
// caller receives it. A failure leaves an empty text.
template <class Char>
BOOL PathFromIdList(const char* function, PCIDLIST_ABSOLUTE list, Char* path,
                    const std::basic_string<Char>& folder) {
  if (Enter(function, {}).fired) {
    if (path)
      path[0] = 0;
    return FALSE;
  }
  if (!itemLists().count(const_cast<ITEMIDLIST*>(list))) {
    Misuse(std::string(function) + " with an item list the shell did not hand out");
    return FALSE;
  }
  // 95, 98 and Me keep names in the code page: their shell has no Unicode path.
  if (sizeof(Char) == sizeof(WCHAR) && sim::settings().win9xFamily) {
    path[0] = 0;
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
  }
  if (folder.size() >= MAX_PATH) {
    path[0] = 0;
    return FALSE;
  }
  std::copy(folder.begin(), folder.end(), path);
  path[folder.size()] = 0;
  return TRUE;
}

}  // namespace

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
  return PathFromIdList("SHGetPathFromIDListA", list, path, ToAnsi(sim::settings().appDataFolder));
}

// The folder's name as the shell keeps it, in UTF-16: no code page comes between.
BOOL WINAPI SHGetPathFromIDListW(PCIDLIST_ABSOLUTE list, LPWSTR path) {
  return PathFromIdList("SHGetPathFromIDListW", list, path, ToUtf16(sim::settings().appDataFolder));
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
