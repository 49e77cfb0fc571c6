// Removing a registry key with everything below it. NT's RegDeleteKeyA refuses a key that still
// has subkeys, so the tree is taken apart depth first; every removal names the key by its root
// and full path, while open handles serve only to enumerate, query and empty keys.
#include "common/unicode_names.h"
#include "registry/registry.h"

#include <cstdint>
#include <cstring>

namespace {

constexpr DWORD kSubkeyNameSize = 1000;  // far more than the 255 characters a key name may have
constexpr DWORD kValueNameSlot = 1000;
constexpr DWORD kValueNameCapacity = 500;  // what RegEnumValueA may fill in each slot

// The product is a 32-bit process: its allocations are counted in 32 bits, so a slot count
// whose byte size does not fit there is refused rather than wrapped into a small block.
constexpr DWORD kMostValueSlots = UINT32_MAX / kValueNameSlot;

void* Allocate(SIZE_T bytes) {
  return HeapAlloc(GetProcessHeap(), 0, bytes);
}

void Release(void* block) {
  HeapFree(GetProcessHeap(), 0, block);
}

// The number of subkeys and values of an open key; both 0 when the query fails.
void CountContents(HKEY key, DWORD& subkeys, DWORD& values) {
  if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                       nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
    subkeys = 0;
    values = 0;
  }
}

// Reads every name into its slot before anything is deleted: deleting shifts the enumeration
// indexes of the values behind. false when any name could not be read.
bool CollectValueNames(HKEY key, char* slots, int count) {
  for (int i = 0; i < count; ++i) {
    DWORD length = kValueNameCapacity;
    char* slot = slots + static_cast<size_t>(i) * kValueNameSlot;
    if (RegEnumValueA(key, static_cast<DWORD>(i), slot, &length, nullptr, nullptr, nullptr,
                      nullptr) != ERROR_SUCCESS)
      return false;
  }
  return true;
}

void DeleteCollectedValues(HKEY key, const char* slots, int count) {
  for (int i = 0; i < count; ++i)
    if (RegDeleteValueA(key, slots + static_cast<size_t>(i) * kValueNameSlot) != ERROR_SUCCESS)
      return;
}

enum class Pass { Next, Finished, Failed };

// Removes one child, already open, with its subtree and values.
Pass RemoveOpenChild(HKEY root, HKEY child, const char* path, const char* name) {
  DWORD subkeys = 0;
  DWORD values = 0;
  CountContents(child, subkeys, values);
  PathBuffer childPath;
  memset(childPath, 0, sizeof childPath);
  // A path that does not fit would name some other key: refused like a failed deletion.
  if (!FormatPath(childPath, "%s\\%s", path, name))
    return Pass::Failed;
  if (subkeys != 0 && !DeleteSubkeys(root, child, childPath))
    return Pass::Failed;
  DeleteAllValues(root, childPath, static_cast<int>(values));
  if (RegDeleteKeyA(root, childPath) != ERROR_SUCCESS)
    return Pass::Failed;
  return Pass::Next;
}

// One pass: the subkey at index 0, which is the next one left since each pass deletes the one
// it found. A subkey that cannot be opened ends only its pass: it stays at index 0.
Pass RemoveFirstSubkey(HKEY root, HKEY key, const char* path, char* name) {
  DWORD length = kSubkeyNameSize;
  FILETIME written;
  const LSTATUS found = RegEnumKeyExA(key, 0, name, &length, nullptr, nullptr, nullptr, &written);
  // The buffer is only valid after a successful enumeration. No more items: nothing is left to
  // remove, so the walk went through; any other failure stops it.
  if (found == ERROR_NO_MORE_ITEMS)
    return Pass::Finished;
  if (found != ERROR_SUCCESS)
    return Pass::Failed;
  HKEY child = nullptr;
  if (RegOpenKeyExA(key, name, 0, KEY_ALL_ACCESS, &child) != ERROR_SUCCESS)
    return Pass::Next;
  const Pass result = RemoveOpenChild(root, child, path, name);
  RegCloseKey(child);
  return result;
}

}  // namespace

void DeleteAllValues(HKEY root, const char* path, int count) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
    return;
  // Signed on purpose: a count that came from a DWORD of 2^31 or more is no count at all.
  if (count <= 0 || static_cast<DWORD>(count) > kMostValueSlots) {
    RegCloseKey(key);
    return;
  }
  auto* slots = static_cast<char*>(
      Allocate(static_cast<SIZE_T>(count) * static_cast<SIZE_T>(kValueNameSlot)));
  if (slots) {
    if (CollectValueNames(key, slots, count))
      DeleteCollectedValues(key, slots, count);
    Release(slots);
  }
  RegCloseKey(key);
}

int DeleteSubkeys(HKEY root, HKEY key, const char* path) {
  DWORD subkeys = 0;
  DWORD values = 0;
  CountContents(key, subkeys, values);
  auto* name = static_cast<char*>(Allocate(kSubkeyNameSize));
  if (!name)
    return 0;
  // As many passes as there were subkeys at the start, each at index 0.
  Pass pass = Pass::Next;
  for (DWORD i = 0; i < subkeys && pass == Pass::Next; ++i)
    pass = RemoveFirstSubkey(root, key, path, name);
  Release(name);
  return pass == Pass::Failed ? 0 : 1;
}

void DeleteKeyTree(HKEY root, const char* path) {
  // The 95/98/Me family's RegDeleteKeyA takes the subkeys along.
  if (IsWin9xFamily()) {
    RegDeleteKeyA(root, path);
    return;
  }
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
    return;
  DeleteSubkeys(root, key, path);
  DWORD values = 0;
  if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr,
                       nullptr, nullptr, nullptr) == ERROR_SUCCESS)
    DeleteAllValues(root, path, static_cast<int>(values));
  RegDeleteKeyA(root, path);
  RegCloseKey(key);
}
