// Simulated advapi32 registry: two hives, case-insensitive names, raw typed values, access and
// argument checks, and the 32-bit view that 64-bit Windows 7 and later give a 32-bit process of
// HKLM\Software and of the COM keys below both hives' Software\Classes.
#include "internal.h"
#include "registry.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <set>

namespace {

using sim::detail::Lower;
using sim::detail::SameText;

struct Value {
  std::string name;
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

struct Key {
  std::string name;
  // Windows enumerates subkeys in case-insensitive alphabetical order and values in the order
  // they were created.
  std::map<std::string, std::unique_ptr<Key>> subkeys;
  std::vector<Value> values;
  bool notOpenable = false;
  bool readOnly = false;
};

struct Handle {
  bool machine = true;            // HKLM or HKCU
  std::vector<std::string> path;  // the stored path (after redirection)
  REGSAM access = 0;
};

struct Registry {
  Key machine;
  Key user;
  std::map<uintptr_t, Handle> handles;
  std::set<uintptr_t> closed;  // handles are never reused, so a closed one stays recognisable
  uintptr_t nextHandle = 0x100;
};

Registry& registryState() {
  static Registry instance;
  return instance;
}

constexpr REGSAM kWriteRights =
    KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | DELETE | WRITE_DAC | WRITE_OWNER;

std::vector<std::string> Split(const std::string& path) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    const size_t end = path.find('\\', start);
    const std::string part = path.substr(start, end == std::string::npos ? end : end - start);
    if (!part.empty())
      parts.push_back(part);
    if (end == std::string::npos)
      break;
    start = end + 1;
  }
  return parts;
}

// The COM keys of Software\Classes that stay apart for a 32-bit process, in HKLM and in HKCU;
// the rest of Classes is shared between the views since Windows 7 ("Registry Keys Affected by
// WOW64"). They are stored below Classes\Wow6432Node. Wine 8 redirects them in HKLM only and
// shares HKCU's (tests/e2e/test_registry_views.py); this models Windows.
constexpr const char* kRedirectedClasses[] = {"CLSID", "DirectShow", "Interface", "Media Type",
                                              "MediaFoundation"};

bool IsRedirectedClass(const std::string& name) {
  return std::any_of(std::begin(kRedirectedClasses), std::end(kRedirectedClasses),
                     [&](const char* redirected) { return SameText(name, redirected); });
}

// Where a 32-bit process's path is stored on 64-bit Windows: HKLM\Software\X lies in
// HKLM\Software\Wow6432Node\X, except for Classes, whose redirected COM keys lie in
// Software\Classes\Wow6432Node of either hive and whose other keys are shared, and Policies,
// which both views share.
void Redirect(bool machine, std::vector<std::string>& path, bool view64) {
  if (!sim::settings().wow64 || view64 || path.empty() || !SameText(path[0], "Software"))
    return;
  const bool classes = path.size() > 1 && SameText(path[1], "Classes");
  const bool shared =
      path.size() > 1 && (SameText(path[1], "Wow6432Node") || SameText(path[1], "Policies"));
  if (classes && path.size() > 2 && IsRedirectedClass(path[2]))
    path.insert(path.begin() + 2, "Wow6432Node");
  else if (machine && !classes && !shared)
    path.insert(path.begin() + 1, "Wow6432Node");
}

Key* Find(Key& root, const std::vector<std::string>& path) {
  Key* key = &root;
  for (const std::string& part : path) {
    auto it = key->subkeys.find(Lower(part));
    if (it == key->subkeys.end())
      return nullptr;
    key = it->second.get();
  }
  return key;
}

Key* Create(Key& root, const std::vector<std::string>& path) {
  Key* key = &root;
  for (const std::string& part : path) {
    auto& slot = key->subkeys[Lower(part)];
    if (!slot) {
      slot = std::make_unique<Key>();
      slot->name = part;
    }
    key = slot.get();
  }
  return key;
}

Key& Hive(bool machine) {
  return machine ? registryState().machine : registryState().user;
}

bool IsPredefined(HKEY key) {
  return key == HKEY_LOCAL_MACHINE || key == HKEY_CURRENT_USER;
}

// The handle's hive and stored path; nullptr when the handle is not open. A handle used after
// its close is the caller's fault, even where Windows only answers ERROR_INVALID_HANDLE.
const Handle* Resolve(const char* function, HKEY key, Handle& scratch) {
  if (IsPredefined(key)) {
    scratch = Handle{key == HKEY_LOCAL_MACHINE, {}, KEY_ALL_ACCESS};
    return &scratch;
  }
  const auto id = reinterpret_cast<uintptr_t>(key);
  auto it = registryState().handles.find(id);
  if (it != registryState().handles.end())
    return &it->second;
  if (registryState().closed.count(id))
    sim::detail::Misuse(std::string(function) + " on a key that was already closed");
  return nullptr;
}

LSTATUS Denied() {
  SetLastError(ERROR_ACCESS_DENIED);
  return ERROR_ACCESS_DENIED;
}

bool WriteRefused(bool machine, const Key* key, REGSAM access) {
  if (!(access & kWriteRights))
    return false;
  return (machine && !sim::settings().administrator) || (key && key->readOnly);
}

HKEY NewHandle(bool machine, std::vector<std::string> path, REGSAM access) {
  const uintptr_t id = registryState().nextHandle++;
  registryState().handles[id] = Handle{machine, std::move(path), access};
  sim::detail::Acquire("open registry key");
  return reinterpret_cast<HKEY>(id);
}

// The key behind an open handle, with the handle's right checked.
LSTATUS KeyOf(const char* function, HKEY handle, REGSAM right, Key*& key, const Handle*& info) {
  static Handle scratch;
  info = Resolve(function, handle, scratch);
  if (!info)
    return ERROR_INVALID_HANDLE;
  key = Find(Hive(info->machine), info->path);
  if (!key)
    return ERROR_KEY_DELETED;
  if ((info->access & right) != right)
    return ERROR_ACCESS_DENIED;
  return ERROR_SUCCESS;
}

std::vector<std::string> TestPath(HKEY root, const std::string& path, sim::reg::View view) {
  std::vector<std::string> parts = Split(path);
  Redirect(root == HKEY_LOCAL_MACHINE, parts, view == sim::reg::View::Native);
  return parts;
}

Key* TestKey(HKEY root, const std::string& path, sim::reg::View view) {
  return Find(Hive(root == HKEY_LOCAL_MACHINE), TestPath(root, path, view));
}

Value* FindValue(Key& key, const std::string& wanted) {
  for (Value& value : key.values)
    if (SameText(value.name, wanted))
      return &value;
  return nullptr;
}

const Value* TestValue(HKEY root, const std::string& path, const std::string& name,
                       sim::reg::View view) {
  Key* key = TestKey(root, path, view);
  return key ? FindValue(*key, name) : nullptr;
}

// String data is kept as Unicode text and converted at each ANSI call, as Windows converts the
// UTF-16 it keeps; other types are kept as the bytes they were given.
bool IsStringType(DWORD type) {
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

std::vector<BYTE> FromCaller(DWORD type, const BYTE* data, size_t size) {
  if (!IsStringType(type))
    return std::vector<BYTE>(data, data + size);
  const std::string text = sim::detail::FromAnsi(reinterpret_cast<const char*>(data), size);
  return std::vector<BYTE>(text.begin(), text.end());
}

std::vector<BYTE> ForCaller(const Value& value) {
  if (!IsStringType(value.type))
    return value.data;
  const std::string text = sim::detail::ToAnsi(std::string(value.data.begin(), value.data.end()));
  return std::vector<BYTE>(text.begin(), text.end());
}

// A string value's text in UTF-16, as the Unicode calls hand it out.
std::vector<BYTE> ForWideCaller(const Value& value) {
  if (!IsStringType(value.type))
    return value.data;
  const std::u16string text =
      sim::detail::ToUtf16(std::string(value.data.begin(), value.data.end()));
  return std::vector<BYTE>(reinterpret_cast<const BYTE*>(text.data()),
                           reinterpret_cast<const BYTE*>(text.data() + text.size()));
}

// RegQueryValueEx, of either character width, after its logging: `encode` gives the value's
// data as the caller receives it.
LSTATUS QueryValue(const char* function, HKEY handle, const std::string& name, LPDWORD reserved,
                   LPDWORD type, LPBYTE data, LPDWORD size,
                   std::vector<BYTE> (*encode)(const Value&)) {
  if (reserved)
    return ERROR_INVALID_PARAMETER;
  Key* key;
  const Handle* info;
  if (LSTATUS status = KeyOf(function, handle, KEY_QUERY_VALUE, key, info))
    return status;
  const Value* value = FindValue(*key, name);
  if (!value)
    return ERROR_FILE_NOT_FOUND;
  if (type)
    *type = value->type;
  const std::vector<BYTE> bytes = encode(*value);
  const DWORD needed = static_cast<DWORD>(bytes.size());
  if (!data) {
    if (size)
      *size = needed;
    return ERROR_SUCCESS;
  }
  if (!size)
    return ERROR_INVALID_PARAMETER;
  if (*size < needed) {
    // The buffer's contents are undefined after ERROR_MORE_DATA; make that visible.
    std::memset(data, 0xCD, *size);
    *size = needed;
    return ERROR_MORE_DATA;
  }
  if (needed)
    std::memcpy(data, bytes.data(), needed);
  *size = needed;
  return ERROR_SUCCESS;
}

void Store(Key& key, const std::string& name, DWORD type, std::vector<BYTE> data) {
  if (Value* existing = FindValue(key, name)) {
    existing->type = type;
    existing->data = std::move(data);
  } else {
    key.values.push_back(Value{name, type, std::move(data)});
  }
}

void DumpKey(const Key& key, const std::string& path, std::string& out) {
  out += "[" + path + "]\n";
  for (const Value& value : key.values) {
    out += "  \"" + value.name + "\" type " + std::to_string(value.type) + " =";
    for (BYTE b : value.data)
      out += " " + std::to_string(b);
    out += "\n";
  }
  for (const auto& [lower, child] : key.subkeys)
    DumpKey(*child, path.empty() ? child->name : path + "\\" + child->name, out);
}

}  // namespace

namespace sim::detail {
void EndProcessRegistry() {
  registryState().handles.clear();
}

void ResetRegistry() {
  registryState() = Registry{};
}

std::optional<std::vector<BYTE>> StoredData(HKEY root, const std::string& path,
                                            const std::string& name) {
  Key* key = Find(Hive(root == HKEY_LOCAL_MACHINE), Split(path));
  const Value* value = key ? FindValue(*key, name) : nullptr;
  if (!value)
    return std::nullopt;
  return value->data;
}

void StoreData(HKEY root, const std::string& path, const std::string& name, DWORD type,
               std::vector<BYTE> data) {
  Store(*Create(Hive(root == HKEY_LOCAL_MACHINE), Split(path)), name, type, std::move(data));
}

void RemoveStoredData(HKEY root, const std::string& path, const std::string& name) {
  const std::vector<std::string> parts = Split(path);
  Key* key = Find(Hive(root == HKEY_LOCAL_MACHINE), parts);
  if (!key)
    return;
  key->values.erase(std::remove_if(key->values.begin(), key->values.end(),
                                   [&](const Value& value) { return SameText(value.name, name); }),
                    key->values.end());
  // The keys that only held the value go with it, deepest first.
  for (std::vector<std::string> below = parts; !below.empty(); below.pop_back()) {
    Key* parent = Find(Hive(root == HKEY_LOCAL_MACHINE),
                       std::vector<std::string>(below.begin(), below.end() - 1));
    auto child = parent->subkeys.find(Lower(below.back()));
    if (!child->second->values.empty() || !child->second->subkeys.empty())
      return;
    parent->subkeys.erase(child);
  }
}
}  // namespace sim::detail

namespace sim::reg {

void CreateKey(HKEY root, const std::string& path, View view) {
  Create(Hive(root == HKEY_LOCAL_MACHINE), TestPath(root, path, view));
}

void SetValue(HKEY root, const std::string& path, const std::string& name, DWORD type,
              const std::vector<BYTE>& data, View view) {
  Store(*Create(Hive(root == HKEY_LOCAL_MACHINE), TestPath(root, path, view)), name, type,
        FromCaller(type, data.data(), data.size()));
}

void SetString(HKEY root, const std::string& path, const std::string& name, const std::string& text,
               View view) {
  std::vector<BYTE> data(text.begin(), text.end());
  data.push_back(0);
  Store(*Create(Hive(root == HKEY_LOCAL_MACHINE), TestPath(root, path, view)), name, REG_SZ, data);
}

void SetDword(HKEY root, const std::string& path, const std::string& name, DWORD data, View view) {
  std::vector<BYTE> bytes(4);
  std::memcpy(bytes.data(), &data, 4);
  SetValue(root, path, name, REG_DWORD, bytes, view);
}

bool KeyExists(HKEY root, const std::string& path, View view) {
  return TestKey(root, path, view) != nullptr;
}

std::optional<Value> GetValue(HKEY root, const std::string& path, const std::string& name,
                              View view) {
  const ::Value* value = TestValue(root, path, name, view);
  if (!value)
    return std::nullopt;
  return Value{value->type, ForCaller(*value)};
}

std::optional<std::string> GetString(HKEY root, const std::string& path, const std::string& name,
                                     View view) {
  const ::Value* value = TestValue(root, path, name, view);
  if (!value || (value->type != REG_SZ && value->type != REG_EXPAND_SZ))
    return std::nullopt;
  const auto end = std::find(value->data.begin(), value->data.end(), 0);
  return std::string(value->data.begin(), end);
}

std::vector<std::string> Subkeys(HKEY root, const std::string& path, View view) {
  std::vector<std::string> names;
  if (Key* key = TestKey(root, path, view))
    for (const auto& [lower, child] : key->subkeys)
      names.push_back(child->name);
  return names;
}

std::vector<std::string> ValueNames(HKEY root, const std::string& path, View view) {
  std::vector<std::string> names;
  if (Key* key = TestKey(root, path, view))
    for (const ::Value& value : key->values)
      names.push_back(value.name);
  return names;
}

void SetNotOpenable(HKEY root, const std::string& path, View view) {
  Create(Hive(root == HKEY_LOCAL_MACHINE), TestPath(root, path, view))->notOpenable = true;
}

void SetReadOnly(HKEY root, const std::string& path, View view) {
  Create(Hive(root == HKEY_LOCAL_MACHINE), TestPath(root, path, view))->readOnly = true;
}

std::string Dump(HKEY root) {
  std::string out;
  DumpKey(Hive(root == HKEY_LOCAL_MACHINE), "", out);
  return out;
}

}  // namespace sim::reg

using namespace sim::detail;

namespace {

constexpr LSTATUS kBadPathname = 161;  // ERROR_BAD_PATHNAME
constexpr LSTATUS kNoAccess = 998;     // ERROR_NOACCESS: the kernel could not read the buffer
constexpr DWORD kOpenLink = 0x8;       // REG_OPTION_OPEN_LINK
// RegCreateKeyExA's documented options besides 0: volatile, create link, backup and restore.
constexpr DWORD kCreateOptions = 0x1 | 0x2 | 0x4;

// The hive and stored path that a subkey of an open key names. Only a path from the hive's root
// crosses the redirected keys: a key opened below an open key stays in that key's view.
LSTATUS PathBelow(const char* function, HKEY parent, LPCSTR subKey, bool view64, bool& machine,
                  std::vector<std::string>& path) {
  Handle scratch;
  const Handle* base = Resolve(function, parent, scratch);
  if (!base)
    return ERROR_INVALID_HANDLE;
  if (subKey && subKey[0] == '\\')
    return kBadPathname;
  machine = base->machine;
  path = base->path;
  for (const std::string& part : Split(FromAnsi(subKey)))
    path.push_back(part);
  if (base->path.empty())
    Redirect(machine, path, view64);
  return ERROR_SUCCESS;
}

LSTATUS OpenOrCreate(const char* function, HKEY parent, LPCSTR subKey, REGSAM access, PHKEY result,
                     bool create, LPDWORD disposition) {
  bool machine = false;
  std::vector<std::string> path;
  if (LSTATUS status =
          PathBelow(function, parent, subKey, (access & KEY_WOW64_64KEY) != 0, machine, path))
    return status;
  if (!result)
    return ERROR_INVALID_PARAMETER;
  Key* key = Find(Hive(machine), path);
  if (!key && !create)
    return ERROR_FILE_NOT_FOUND;
  if (!key) {
    // Creating a key needs write access to HKLM, whatever the caller asks for the new handle.
    if (machine && !sim::settings().administrator)
      return Denied();
    key = Create(Hive(machine), path);
    if (disposition)
      *disposition = REG_CREATED_NEW_KEY;
  } else if (disposition) {
    *disposition = REG_OPENED_EXISTING_KEY;
  }
  if (key->notOpenable || WriteRefused(machine, key, access))
    return Denied();
  *result =
      NewHandle(machine, path, access & ~static_cast<REGSAM>(KEY_WOW64_64KEY | KEY_WOW64_32KEY));
  return ERROR_SUCCESS;
}

}  // namespace

extern "C" {

// Windows refuses a non-zero reserved word and options it does not document. Volatile keys,
// links and backup semantics exist in Windows but not here, so asking for them is a misuse.
LSTATUS WINAPI RegCreateKeyExA(HKEY parent, LPCSTR subKey, DWORD reserved, LPSTR, DWORD options,
                               REGSAM access, const SECURITY_ATTRIBUTES*, PHKEY result,
                               LPDWORD disposition) {
  const Hit hit =
      Enter("RegCreateKeyExA", {KeyName(parent), Str(subKey), Num(options), Hex(access)});
  if (hit.fired)
    return static_cast<LSTATUS>(hit.result);
  if (reserved || (options & ~kCreateOptions))
    return ERROR_INVALID_PARAMETER;
  if (options)
    Misuse("RegCreateKeyExA with options the simulation does not model");
  return OpenOrCreate("RegCreateKeyExA", parent, subKey, access, result, true, disposition);
}

// ulOptions is 0 or REG_OPTION_OPEN_LINK, which opens a link itself instead of its target;
// NtOpenKeyEx answers anything else with STATUS_INVALID_PARAMETER_4.
LSTATUS WINAPI RegOpenKeyExA(HKEY parent, LPCSTR subKey, DWORD options, REGSAM access,
                             PHKEY result) {
  const Hit hit = Enter("RegOpenKeyExA", {KeyName(parent), Str(subKey), Num(options), Hex(access)});
  if (hit.fired)
    return static_cast<LSTATUS>(hit.result);
  if (options & ~kOpenLink)
    return ERROR_INVALID_PARAMETER;
  if (options)
    Misuse("RegOpenKeyExA with REG_OPTION_OPEN_LINK, which the simulation does not model");
  return OpenOrCreate("RegOpenKeyExA", parent, subKey, access, result, false, nullptr);
}

LSTATUS WINAPI RegSetValueExA(HKEY handle, LPCSTR name, DWORD reserved, DWORD type,
                              const BYTE* data, DWORD size) {
  const Hit hit = Enter("RegSetValueExA", {KeyName(handle), Str(name), Num(type),
                                           Str(reinterpret_cast<const char*>(data)), Num(size)});
  if (hit.fired)
    return static_cast<LSTATUS>(hit.result);
  if (reserved)
    return ERROR_INVALID_PARAMETER;
  Key* key;
  const Handle* info;
  if (LSTATUS status = KeyOf("RegSetValueExA", handle, KEY_SET_VALUE, key, info))
    return status;
  if (WriteRefused(info->machine, key, KEY_SET_VALUE))
    return Denied();
  if (!data && size)
    return kNoAccess;
  Store(*key, FromAnsi(name), type, FromCaller(type, data, data ? size : 0));
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegQueryValueExA(HKEY handle, LPCSTR name, LPDWORD reserved, LPDWORD type,
                                LPBYTE data, LPDWORD size) {
  const Hit hit = Enter("RegQueryValueExA", {KeyName(handle), Str(name), data ? "buffer" : "NULL",
                                             size ? Num(*size) : "NULL"});
  if (hit.fired)
    return static_cast<LSTATUS>(hit.result);
  return QueryValue("RegQueryValueExA", handle, FromAnsi(name), reserved, type, data, size,
                    ForCaller);
}

// The stored text as it is, in UTF-16: no code page comes between.
LSTATUS WINAPI RegQueryValueExW(HKEY handle, LPCWSTR name, LPDWORD reserved, LPDWORD type,
                                LPBYTE data, LPDWORD size) {
  const Hit hit = Enter("RegQueryValueExW", {KeyName(handle), Str(name), data ? "buffer" : "NULL",
                                             size ? Num(*size) : "NULL"});
  if (hit.fired)
    return static_cast<LSTATUS>(hit.result);
  if (!name)
    return ERROR_INVALID_PARAMETER;
  if (sim::settings().win9xFamily)
    return ERROR_CALL_NOT_IMPLEMENTED;  // 95, 98 and Me have no Unicode registry
  std::string narrow;
  for (const WCHAR* c = name; *c; ++c)
    narrow += static_cast<char>(*c < 0x80 ? *c : '?');  // the agent asks for ASCII names only
  return QueryValue("RegQueryValueExW", handle, narrow, reserved, type, data, size, ForWideCaller);
}

LSTATUS WINAPI RegQueryInfoKeyA(HKEY handle, LPSTR, LPDWORD, LPDWORD, LPDWORD subKeys,
                                LPDWORD maxSubKeyLength, LPDWORD, LPDWORD values,
                                LPDWORD maxValueNameLength, LPDWORD maxValueLength, LPDWORD,
                                PFILETIME lastWrite) {
  const Hit hit = Enter("RegQueryInfoKeyA", {KeyName(handle)});
  if (hit.fired)
    return static_cast<LSTATUS>(hit.result);
  Key* key;
  const Handle* info;
  if (LSTATUS status = KeyOf("RegQueryInfoKeyA", handle, KEY_QUERY_VALUE, key, info))
    return status;
  DWORD longestKey = 0, longestName = 0, longestData = 0;
  for (const auto& [lower, child] : key->subkeys)
    longestKey = std::max(longestKey, static_cast<DWORD>(child->name.size()));
  for (const Value& value : key->values) {
    longestName = std::max(longestName, static_cast<DWORD>(value.name.size()));
    longestData = std::max(longestData, static_cast<DWORD>(value.data.size()));
  }
  if (subKeys)
    *subKeys = static_cast<DWORD>(key->subkeys.size());
  if (maxSubKeyLength)
    *maxSubKeyLength = longestKey;
  if (values)
    *values = static_cast<DWORD>(key->values.size());
  if (maxValueNameLength)
    *maxValueNameLength = longestName;
  if (maxValueLength)
    *maxValueLength = longestData;
  if (lastWrite)
    *lastWrite = FILETIME{0, 0};
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegEnumKeyExA(HKEY handle, DWORD index, LPSTR name, LPDWORD length, LPDWORD, LPSTR,
                             LPDWORD, PFILETIME lastWrite) {
  const Hit hit =
      Enter("RegEnumKeyExA", {KeyName(handle), Num(index), length ? Num(*length) : "NULL"});
  if (hit.fired)
    return static_cast<LSTATUS>(hit.result);
  Key* key;
  const Handle* info;
  if (LSTATUS status = KeyOf("RegEnumKeyExA", handle, KEY_ENUMERATE_SUB_KEYS, key, info))
    return status;
  if (!name || !length)
    return ERROR_INVALID_PARAMETER;
  if (index >= key->subkeys.size())
    return ERROR_NO_MORE_ITEMS;
  auto it = key->subkeys.begin();
  std::advance(it, index);
  const std::string found = ToAnsi(it->second->name);
  if (found.size() >= *length)
    return ERROR_MORE_DATA;
  std::memcpy(name, found.c_str(), found.size() + 1);
  *length = static_cast<DWORD>(found.size());
  if (lastWrite)
    *lastWrite = FILETIME{0, 0};
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegEnumValueA(HKEY handle, DWORD index, LPSTR name, LPDWORD length, LPDWORD,
                             LPDWORD type, LPBYTE data, LPDWORD size) {
  const Hit hit =
      Enter("RegEnumValueA", {KeyName(handle), Num(index), length ? Num(*length) : "NULL"});
  if (hit.fired)
    return static_cast<LSTATUS>(hit.result);
  Key* key;
  const Handle* info;
  if (LSTATUS status = KeyOf("RegEnumValueA", handle, KEY_QUERY_VALUE, key, info))
    return status;
  if (!name || !length)
    return ERROR_INVALID_PARAMETER;
  if (index >= key->values.size())
    return ERROR_NO_MORE_ITEMS;
  const Value& value = key->values[index];
  const std::string found = ToAnsi(value.name);
  if (found.size() >= *length)
    return ERROR_MORE_DATA;
  std::memcpy(name, found.c_str(), found.size() + 1);
  *length = static_cast<DWORD>(found.size());
  if (type)
    *type = value.type;
  if (data || size) {
    const std::vector<BYTE> bytes = ForCaller(value);
    const DWORD needed = static_cast<DWORD>(bytes.size());
    if (data && size && *size >= needed && needed)
      std::memcpy(data, bytes.data(), needed);
    if (size)
      *size = needed;
  }
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegDeleteValueA(HKEY handle, LPCSTR name) {
  const Hit hit = Enter("RegDeleteValueA", {KeyName(handle), Str(name)});
  if (hit.fired)
    return static_cast<LSTATUS>(hit.result);
  Key* key;
  const Handle* info;
  if (LSTATUS status = KeyOf("RegDeleteValueA", handle, KEY_SET_VALUE, key, info))
    return status;
  if (WriteRefused(info->machine, key, KEY_SET_VALUE))
    return Denied();
  const std::string wanted = FromAnsi(name);
  auto it = std::find_if(key->values.begin(), key->values.end(),
                         [&](const Value& value) { return SameText(value.name, wanted); });
  if (it == key->values.end())
    return ERROR_FILE_NOT_FOUND;
  key->values.erase(it);
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegDeleteKeyA(HKEY parent, LPCSTR subKey) {
  const Hit hit = Enter("RegDeleteKeyA", {KeyName(parent), Str(subKey)});
  if (hit.fired)
    return static_cast<LSTATUS>(hit.result);
  bool machine = false;
  std::vector<std::string> path;
  if (LSTATUS status = PathBelow("RegDeleteKeyA", parent, subKey, false, machine, path))
    return status;
  if (!subKey || !subKey[0])
    return ERROR_INVALID_PARAMETER;
  Key* key = Find(Hive(machine), path);
  if (!key)
    return ERROR_FILE_NOT_FOUND;
  if (key->notOpenable || WriteRefused(machine, key, DELETE))
    return Denied();
  // NT refuses a key that still has subkeys; the 95/98/Me family removes the whole tree.
  if (!key->subkeys.empty() && !sim::settings().win9xFamily)
    return Denied();
  std::vector<std::string> parentPath(path.begin(), path.end() - 1);
  Find(Hive(machine), parentPath)->subkeys.erase(Lower(path.back()));
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegCloseKey(HKEY handle) {
  const Hit hit = Enter("RegCloseKey", {KeyName(handle)});
  if (hit.fired)
    return static_cast<LSTATUS>(hit.result);
  if (IsPredefined(handle))
    return ERROR_SUCCESS;
  const auto id = reinterpret_cast<uintptr_t>(handle);
  if (!registryState().handles.erase(id)) {
    Misuse("RegCloseKey of a key that is not open");
    return ERROR_INVALID_HANDLE;
  }
  registryState().closed.insert(id);
  Release("open registry key");
  return ERROR_SUCCESS;
}

}  // extern "C"
