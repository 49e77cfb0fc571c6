#include "registry/registry.h"

#include "common/entry_point.h"
#include "common/library_loading.h"
#include "entry/state.h"

#include <cstring>

namespace {

bool IsStringType(DWORD type) {
  return type == REG_SZ || type == REG_EXPAND_SZ;
}

// Reads the value's text into `out`; false when there is none that fits with its terminator.
// RegQueryValueExA hands back the stored bytes as they are: the text may lack its terminator,
// and a value that grew since the size query gives ERROR_MORE_DATA with undefined contents.
bool QueryText(HKEY key, const char* name, DWORD size, PathBuffer& out) {
  if (size > MAX_PATH)
    return false;
  DWORD read = size;
  if (RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(out), &read) !=
      ERROR_SUCCESS)
    return false;
  if (read > size)
    return false;
  if (memchr(out, '\0', read))
    return true;
  if (read == MAX_PATH)
    return false;  // no room left for the terminator
  out[read] = '\0';
  return true;
}

// The readers' registry view: on 64-bit Windows the 64-bit one, where the application's own
// 64-bit installer writes.
REGSAM ReaderView() {
  return Is64BitWindows ? KEY_WOW64_64KEY : 0;
}

// The key a reader opens, on 64-bit Windows in the 64-bit view; with `create`, a missing key is
// created where that is allowed. NULL when there is none.
HKEY OpenForReading(HKEY root, const char* subkey, bool create) {
  const REGSAM access = KEY_QUERY_VALUE | ReaderView();
  HKEY key = nullptr;
  if (create)
    RegCreateKeyExA(root, subkey, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr, &key,
                    nullptr);
  else if (RegOpenKeyExA(root, subkey, 0, access, &key) != ERROR_SUCCESS)
    key = nullptr;
  return key;
}

int ReadString(HKEY root, const char* subkey, const char* name, PathBuffer& out, bool create) {
  HKEY key = OpenForReading(root, subkey, create);
  const int found = key && ReadKeyString(key, name, out);
  if (!found)
    out[0] = '\0';
  if (key)
    RegCloseKey(key);
  return found;
}

}  // namespace

int ReadKeyString(HKEY key, const char* name, PathBuffer& out) {
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
    return 0;
  return IsStringType(type) && QueryText(key, name, size, out) ? 1 : 0;
}

int ReadRegWideString(HKEY root, const char* subkey, const WCHAR* name, WidePathBuffer& out) {
  HKEY key = OpenForReading(root, subkey, false);
  if (!key)
    return 0;
  DWORD type = 0;
  DWORD size = sizeof out;
  const LSTATUS status =
      RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(out), &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS || !IsStringType(type))
    return 0;
  // As stored: the text may lack its terminator.
  const DWORD units = size / static_cast<DWORD>(sizeof(WCHAR));
  if (units > 0 && out[units - 1] == 0)
    return 1;
  if (units == MAX_PATH)
    return 0;
  out[units] = 0;
  return 1;
}

void DeleteFoundValue(HKEY root, const char* subkey, const char* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, subkey, 0, KEY_SET_VALUE | ReaderView(), &key) != ERROR_SUCCESS)
    return;
  RegDeleteValueA(key, name);
  RegCloseKey(key);
}

int FindRegDword(HKEY root, const char* subkey, const char* name, DWORD& out) {
  HKEY key = OpenForReading(root, subkey, false);
  if (!key)
    return 0;
  DWORD type = 0;
  DWORD size = sizeof out;
  const LSTATUS status =
      RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&out), &size);
  RegCloseKey(key);
  return status == ERROR_SUCCESS && type == REG_DWORD && size == sizeof out ? 1 : 0;
}

int FindRegString(HKEY root, const char* subkey, const char* name, PathBuffer& out) {
  return ReadString(root, subkey, name, out, false);
}

int WriteRegString(HKEY root, const char* subkey, const char* name, const char* data, DWORD type) {
  // Only strings are written: the size below counts text bytes and a terminator.
  if (!IsStringType(type))
    return 0;
  HKEY key = nullptr;
  RegCreateKeyExA(root, subkey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, &key,
                  nullptr);
  if (!key)
    return 0;
  RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(data),
                 static_cast<DWORD>(strlen(data) + 1));
  RegCloseKey(key);
  return 1;
}

int ReadRegString(HKEY root, const char* subkey, const char* name, const char* fallback,
                  PathBuffer& out) {
  if (!ReadString(root, subkey, name, out, true) || out[0] == '\0')
    CopyPath(out, fallback);
  return 1;
}

int ReadRegStringNoRedirect(HKEY root, const char* subkey, const char* name, const char* fallback,
                            PathBuffer& out) {
  using DisableFn = BOOL(WINAPI*)(PVOID*);
  using RevertFn = BOOL(WINAPI*)(PVOID);
  HMODULE kernel = LoadSystemLibrary("kernel32.dll");
  if (!kernel)
    return 0;
  const auto disable = EntryPoint<DisableFn>(kernel, "Wow64DisableWow64FsRedirection");
  const auto revert = EntryPoint<RevertFn>(kernel, "Wow64RevertWow64FsRedirection");
  PVOID saved = nullptr;
  if (!disable || !revert || !disable(&saved)) {
    FreeLibrary(kernel);
    return 0;
  }
  const int result = ReadRegString(root, subkey, name, fallback, out);
  revert(saved);
  FreeLibrary(kernel);
  return result;
}
