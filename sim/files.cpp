// Simulated kernel32 file system: drives, directories and files with attributes, other programs'
// holds on files, deletions pending until restart, search handles, and the WOW64 redirection of
// System32.
#include "files.h"
#include "internal.h"
#include "kernel.h"
#include "security.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <set>

namespace {

using sim::detail::Failed;
using sim::detail::Lower;
using sim::detail::SameText;

constexpr DWORD kFilenameExcedRange = 206;  // ERROR_FILENAME_EXCED_RANGE
// The attributes that keep CopyFileA from replacing a file: it creates the destination as
// CreateFile with CREATE_ALWAYS does, which refuses an existing hidden or system file.
constexpr DWORD kGuardingAttributes =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
// The attributes that SetFileAttributesA can change.
constexpr DWORD kSettableAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                      FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE | 0x100 |
                                      0x1000 | 0x2000;

struct Node {
  std::string path;  // full path as created, "C:" for a drive's root
  bool directory = false;
  std::string contents;
  DWORD attributes = 0;  // without FILE_ATTRIBUTE_DIRECTORY
  sim::files::Use use = sim::files::Use::None;
  sim::security::Descriptor security;
};

struct OpenFile {
  std::string path;  // full path, lower-case
  size_t position = 0;
  DWORD share = 0;  // what the handle lets others do with the file meanwhile
};

// A search's matches, found at FindFirstFileA, and the next to hand out.
struct Search {
  std::vector<WIN32_FIND_DATAA> matches;
  size_t next = 1;
};

struct FileSystem {
  std::map<std::string, Node> nodes;  // by lower-case full path
  std::map<uintptr_t, Search> searches;
  uintptr_t nextSearch = 0x7000;
  std::map<uintptr_t, OpenFile> files;
  uintptr_t nextFile = 0xF000;
};

FileSystem& fs() {
  static FileSystem instance;
  return instance;
}

std::vector<std::string> Components(const std::string& path) {
  std::vector<std::string> parts;
  std::string part;
  for (const char c : path + "\\") {
    if (c != '\\') {
      part += c;
      continue;
    }
    if (part == "..") {
      if (!parts.empty())  // ".." of a root is the root
        parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    part.clear();
  }
  return parts;
}

std::string Join(const std::vector<std::string>& parts) {
  std::string path;
  for (const std::string& part : parts)
    path += (path.empty() ? "" : "\\") + part;
  return path;
}

// A full path "X:\a\b" as components {"X:", "a", "b"}; Windows collapses repeated separators.
std::vector<std::string> Absolute(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  char drive = sim::settings().currentDrive;
  if (path.size() >= 2 && path[1] == ':') {
    drive = path[0];
    path = path.substr(2);
  }
  std::vector<std::string> parts = Components(path);
  parts.insert(parts.begin(),
               std::string(1, static_cast<char>(toupper(static_cast<unsigned char>(drive)))) + ":");
  return parts;
}

bool Exempt(const std::vector<std::string>& below) {
  if (below.empty())
    return false;
  for (const char* tree : {"spool", "catroot", "catroot2", "driverstore", "logfiles"})
    if (SameText(below[0], tree))
      return true;
  return below.size() >= 2 && SameText(below[0], "drivers") && SameText(below[1], "etc");
}

// A 32-bit process on 64-bit Windows sees SysWOW64 where it names System32, unless it switched
// the redirection off or the path lies in one of the trees that Windows exempts.
void Redirect(std::vector<std::string>& parts) {
  if (!sim::settings().wow64 || sim::kernel::RedirectionDisabled())
    return;
  const std::vector<std::string> windows = Absolute(sim::settings().windowsDirectory);
  if (parts.size() <= windows.size())
    return;
  for (size_t i = 0; i < windows.size(); ++i)
    if (!SameText(parts[i], windows[i]))
      return;
  std::string& system = parts[windows.size()];
  if (!SameText(system, "System32"))
    return;
  if (Exempt(std::vector<std::string>(parts.begin() + static_cast<long>(windows.size()) + 1,
                                      parts.end())))
    return;
  system = "SysWOW64";
}

Node* Find(const std::string& path) {
  auto it = fs().nodes.find(Lower(path));
  return it == fs().nodes.end() ? nullptr : &it->second;
}

std::string Parent(const std::string& path) {
  const size_t slash = path.rfind('\\');
  return slash == std::string::npos ? "" : path.substr(0, slash);
}

std::string Name(const std::string& path) {
  return path.substr(path.rfind('\\') + 1);
}

bool IsRoot(const std::string& path) {
  return path.find('\\') == std::string::npos;
}

bool DirectoryExists(const std::string& path) {
  const Node* node = Find(path);
  return node && node->directory;
}

// What a new file or folder gets from the folder it is created in; a root its volume's defaults.
sim::security::Descriptor SecurityFor(const std::string& path, bool directory) {
  const Node* parent = IsRoot(path) ? nullptr : Find(Parent(path));
  return parent ? sim::detail::InheritedSecurity(parent->security, directory)
                : sim::detail::RootSecurity();
}

void MakeDirectories(const std::string& path) {
  std::string built;
  for (const std::string& part : Components(path)) {
    built += (built.empty() ? "" : "\\") + part;
    Node& node = fs().nodes[Lower(built)];
    if (node.path.empty()) {
      node.path = built;
      node.directory = true;
      node.security = SecurityFor(built, true);
    }
  }
}

// Nodes below a directory (not the directory itself).
std::vector<std::string> Below(const std::string& path) {
  std::vector<std::string> keys;
  const std::string prefix = Lower(path) + "\\";
  for (const auto& [key, node] : fs().nodes)
    if (key.compare(0, prefix.size(), prefix) == 0)
      keys.push_back(key);
  return keys;
}

std::vector<const Node*> Children(const std::string& path) {
  std::vector<const Node*> children;
  for (const std::string& key : Below(path))
    if (Parent(key) == Lower(path))
      children.push_back(&fs().nodes[key]);
  // NTFS lists names in upper-case order.
  std::sort(children.begin(), children.end(), [](const Node* a, const Node* b) {
    std::string x = Name(a->path), y = Name(b->path);
    for (char& c : x)
      c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    for (char& c : y)
      c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return x < y;
  });
  return children;
}

// The full path that the agent's argument names, with the error Windows gives for an
// unusable one (0 when it is usable).
DWORD Resolve(const char* path, std::string& full) {
  if (!path || !*path)
    return ERROR_PATH_NOT_FOUND;
  const std::string text = sim::detail::FromAnsi(path);
  if (sim::detail::Utf16Length(text) >= MAX_PATH)  // the ANSI calls convert into MAX_PATH WCHARs
    return kFilenameExcedRange;
  std::vector<std::string> parts = Absolute(text);
  Redirect(parts);
  full = Join(parts);
  return 0;
}

// The error for a path that names nothing: the file or the directory is missing.
DWORD Missing(const std::string& full) {
  return DirectoryExists(Parent(full)) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

// Resolves a path that must name an existing node.
DWORD Existing(const char* path, std::string& full, Node*& node) {
  if (const DWORD error = Resolve(path, full))
    return error;
  node = Find(full);
  return node ? 0 : Missing(full);
}

// Resolves a path whose directory must exist.
DWORD Creatable(const char* path, std::string& full) {
  if (const DWORD error = Resolve(path, full))
    return error;
  if (IsRoot(full))
    return ERROR_ACCESS_DENIED;
  return DirectoryExists(Parent(full)) ? 0 : ERROR_PATH_NOT_FOUND;
}

// Whether one of the agent's own open handles to the file withholds the sharing an operation
// needs: FILE_SHARE_DELETE to move or delete it, FILE_SHARE_WRITE to overwrite it.
bool HeldByTheAgentWithout(const std::string& full, DWORD sharing) {
  const std::string key = Lower(full);
  for (const auto& [id, file] : fs().files)
    if (file.path == key && !(file.share & sharing))
      return true;
  return false;
}

DWORD CopyInto(const Node& source, const std::string& destination, bool failIfExists) {
  if (source.directory)
    return ERROR_ACCESS_DENIED;
  Node* target = Find(destination);
  if (target == &source)
    return ERROR_SHARING_VIOLATION;
  if (target && failIfExists)
    return ERROR_FILE_EXISTS;
  if (target && (target->directory || (target->attributes & kGuardingAttributes)))
    return ERROR_ACCESS_DENIED;
  if (target && (target->use != sim::files::Use::None ||
                 HeldByTheAgentWithout(destination, FILE_SHARE_WRITE)))
    return ERROR_SHARING_VIOLATION;
  Node copy = source;
  copy.path = target ? target->path : destination;
  copy.security = SecurityFor(destination, false);
  copy.attributes |= FILE_ATTRIBUTE_ARCHIVE;
  copy.use = sim::files::Use::None;
  fs().nodes[Lower(destination)] = copy;
  return 0;
}

// Renames a node and everything below it.
void Rename(const std::string& from, const std::string& to) {
  std::vector<std::string> keys = Below(from);
  keys.push_back(Lower(from));
  for (const std::string& key : keys) {
    Node node = fs().nodes[key];
    fs().nodes.erase(key);
    node.path = to + node.path.substr(from.size());
    fs().nodes[Lower(node.path)] = node;
  }
}

bool Matches(const char* pattern, const char* name) {
  if (!*pattern)
    return !*name;
  if (*pattern == '*')
    return Matches(pattern + 1, name) || (*name && Matches(pattern, name + 1));
  if (!*name)
    return false;
  const bool same = *pattern == '?' || tolower(static_cast<unsigned char>(*pattern)) ==
                                           tolower(static_cast<unsigned char>(*name));
  return same && Matches(pattern + 1, name + 1);
}

void FillFindData(WIN32_FIND_DATAA* data, const std::string& name, const Node& node) {
  memset(data, 0, sizeof *data);
  data->dwFileAttributes = node.directory
                               ? FILE_ATTRIBUTE_DIRECTORY | node.attributes
                               : (node.attributes ? node.attributes : FILE_ATTRIBUTE_NORMAL);
  data->nFileSizeLow = static_cast<DWORD>(node.contents.size());
  strncpy(data->cFileName, sim::detail::ToAnsi(name).c_str(), MAX_PATH - 1);
}

// The entries of a directory that the pattern names, in the order Windows lists them.
std::vector<WIN32_FIND_DATAA> MatchingEntries(const std::string& directory,
                                              const std::string& pattern) {
  const std::string glob = pattern == "*.*" ? "*" : pattern;  // "*.*" means every name
  std::vector<WIN32_FIND_DATAA> matches;
  WIN32_FIND_DATAA data;
  if (!IsRoot(directory))
    for (const char* dots : {".", ".."})
      if (Matches(glob.c_str(), dots)) {
        FillFindData(&data, dots, *Find(directory));
        matches.push_back(data);
      }
  for (const Node* child : Children(directory))
    if (Matches(glob.c_str(), Name(child->path).c_str())) {
      FillFindData(&data, Name(child->path), *child);
      matches.push_back(data);
    }
  return matches;
}

constexpr char kSessionManager[] = "System\\CurrentControlSet\\Control\\Session Manager";
constexpr char kPendingRenames[] = "PendingFileRenameOperations";
constexpr char kNtPrefix[] = "\\??\\";  // the entries are NT paths

// The entries of PendingFileRenameOperations, in pairs: the file and its new name, "" for none.
std::vector<std::string> PendingRenames() {
  std::vector<std::string> entries;
  const auto data = sim::detail::StoredData(HKEY_LOCAL_MACHINE, kSessionManager, kPendingRenames);
  if (!data)
    return entries;
  std::string entry;
  for (const BYTE byte : *data)
    if (byte) {
      entry += static_cast<char>(byte);
    } else {
      entries.push_back(entry);
      entry.clear();
    }
  // The list ends in an empty string, which is no entry; a pair's empty new name is one.
  if (entries.size() % 2)
    entries.pop_back();
  return entries;
}

}  // namespace

namespace sim::detail {
const sim::security::Descriptor* SecurityOfPath(const char* path, std::string& full, DWORD& error) {
  Node* node = nullptr;
  error = Existing(path, full, node);
  return node ? &node->security : nullptr;
}

void EndProcessFiles() {
  fs().searches.clear();
  fs().files.clear();
}

bool CloseFileHandle(HANDLE handle) {
  if (!fs().files.erase(reinterpret_cast<uintptr_t>(handle)))
    return false;
  Release("file handle");
  return true;
}

void ResetFiles() {
  fs() = FileSystem{};
  sim::files::AddDirectory("C:\\Windows\\System32");
  sim::files::AddDirectory("C:\\Windows\\SysWOW64");
}
}  // namespace sim::detail

namespace sim::files {

void AddFile(const std::string& path, const std::string& contents, DWORD attributes) {
  const std::string full = Join(Absolute(path));
  MakeDirectories(Parent(full));
  Node node;
  node.path = full;
  node.contents = contents;
  node.attributes = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL);
  node.security = SecurityFor(full, false);
  fs().nodes[Lower(full)] = node;
}

void AddDirectory(const std::string& path) {
  MakeDirectories(Join(Absolute(path)));
}

void Remove(const std::string& path) {
  const std::string full = Join(Absolute(path));
  for (const std::string& key : Below(full))
    fs().nodes.erase(key);
  fs().nodes.erase(Lower(full));
}

bool Exists(const std::string& path) {
  return Find(Join(Absolute(path))) != nullptr;
}

bool IsDirectory(const std::string& path) {
  return DirectoryExists(Join(Absolute(path)));
}

std::optional<std::string> Contents(const std::string& path) {
  const Node* node = Find(Join(Absolute(path)));
  if (!node || node->directory)
    return std::nullopt;
  return node->contents;
}

DWORD Attributes(const std::string& path) {
  const Node* node = Find(Join(Absolute(path)));
  if (!node)
    return INVALID_FILE_ATTRIBUTES;
  if (node->directory)
    return FILE_ATTRIBUTE_DIRECTORY | node->attributes;
  return node->attributes ? node->attributes : FILE_ATTRIBUTE_NORMAL;
}

void SetSecurity(const std::string& path, const sim::security::Descriptor& security) {
  if (Node* node = Find(Join(Absolute(path))))
    node->security = security;
}

sim::security::Descriptor Security(const std::string& path) {
  const Node* node = Find(Join(Absolute(path)));
  return node ? node->security : sim::security::Descriptor{};
}

// The folders from the root down to `path`, and everything below it.
void RestrictToAdministrators(const std::string& path) {
  const std::string full = Join(Absolute(path));
  MakeDirectories(full);
  std::vector<std::string> keys = Below(full);
  for (std::string folder = full; !IsRoot(folder); folder = Parent(folder))
    keys.push_back(Lower(folder));
  for (const std::string& key : keys)
    fs().nodes[key].security = sim::security::AdministratorsOnly();
}

void SetInUse(const std::string& path, Use use) {
  if (Node* node = Find(Join(Absolute(path))))
    node->use = use;
}

std::vector<std::string> List(const std::string& directory) {
  std::vector<std::string> names;
  for (const Node* child : Children(Join(Absolute(directory))))
    names.push_back(Name(child->path));
  return names;
}

std::vector<std::string> PendingDeletions() {
  std::vector<std::string> paths;
  const std::vector<std::string> entries = PendingRenames();
  for (size_t i = 0; i + 1 < entries.size(); i += 2)
    if (entries[i + 1].empty())
      paths.push_back(entries[i].compare(0, 4, kNtPrefix) == 0 ? entries[i].substr(4) : entries[i]);
  return paths;
}

void Restart() {
  for (const std::string& path : PendingDeletions()) {
    const Node* node = Find(path);
    if (node && !node->directory)
      fs().nodes.erase(Lower(path));
  }
  detail::RemoveStoredData(HKEY_LOCAL_MACHINE, kSessionManager, kPendingRenames);
  for (auto& [key, node] : fs().nodes)
    node.use = Use::None;
}

std::string Dump() {
  std::string out;
  for (const auto& [key, node] : fs().nodes) {
    out += node.path + (node.directory ? "\\" : "") + " " + detail::Hex(node.attributes);
    out += node.use == Use::Loaded ? " loaded" : node.use == Use::HeldOpen ? " held open" : "";
    out += node.directory ? "\n" : " = " + node.contents + "\n";
  }
  return out;
}

}  // namespace sim::files

using namespace sim::detail;

extern "C" {

BOOL WINAPI CopyFileA(LPCSTR existing, LPCSTR target, BOOL failIfExists) {
  const Hit hit = Enter("CopyFileA", {Str(existing), Str(target), Num(failIfExists)});
  if (hit.fired)
    return static_cast<BOOL>(hit.result);
  std::string from, to;
  Node* source = nullptr;
  if (const DWORD error = Existing(existing, from, source))
    return Failed(error);
  if (const DWORD error = Creatable(target, to))
    return Failed(error);
  if (const DWORD error = CopyInto(*source, to, failIfExists != FALSE))
    return Failed(error);
  return TRUE;
}

BOOL WINAPI MoveFileA(LPCSTR existing, LPCSTR target) {
  const Hit hit = Enter("MoveFileA", {Str(existing), Str(target)});
  if (hit.fired)
    return static_cast<BOOL>(hit.result);
  std::string from, to;
  Node* source = nullptr;
  if (const DWORD error = Existing(existing, from, source))
    return Failed(error);
  if (IsRoot(from))
    return Failed(ERROR_ACCESS_DENIED);
  if (const DWORD error = Creatable(target, to))
    return Failed(error);
  if (Find(to) && Find(to) != source)  // MoveFileA never replaces a file
    return Failed(ERROR_ALREADY_EXISTS);
  if (Lower(to).compare(0, Lower(from).size() + 1, Lower(from) + "\\") == 0)
    return Failed(ERROR_SHARING_VIOLATION);  // into its own subtree
  if (source->use == sim::files::Use::HeldOpen || HeldByTheAgentWithout(from, FILE_SHARE_DELETE))
    return Failed(ERROR_SHARING_VIOLATION);
  // Another volume means copy and delete, which a loaded file or a directory does not allow.
  if (!SameText(to.substr(0, 2), from.substr(0, 2)) &&
      (source->directory || source->use != sim::files::Use::None))
    return Failed(source->directory ? 17 /* ERROR_NOT_SAME_DEVICE */ : ERROR_ACCESS_DENIED);
  Rename(from, to);
  return TRUE;
}

BOOL WINAPI DeleteFileA(LPCSTR path) {
  const Hit hit = Enter("DeleteFileA", {Str(path)});
  if (hit.fired)
    return static_cast<BOOL>(hit.result);
  std::string full;
  Node* node = nullptr;
  if (const DWORD error = Existing(path, full, node))
    return Failed(error);
  if (node->use == sim::files::Use::HeldOpen || HeldByTheAgentWithout(full, FILE_SHARE_DELETE))
    return Failed(ERROR_SHARING_VIOLATION);
  if (node->directory || (node->attributes & FILE_ATTRIBUTE_READONLY) ||
      node->use == sim::files::Use::Loaded)
    return Failed(ERROR_ACCESS_DENIED);
  fs().nodes.erase(Lower(full));
  return TRUE;
}

// Only the deletion at restart is modelled: the agent never moves a file with this call.
BOOL WINAPI MoveFileExA(LPCSTR existing, LPCSTR target, DWORD flags) {
  const Hit hit = Enter("MoveFileExA", {Str(existing), Str(target), Hex(flags)});
  if (hit.fired)
    return static_cast<BOOL>(hit.result);
  if (!(flags & MOVEFILE_DELAY_UNTIL_REBOOT) || target) {
    Misuse("MoveFileExA is simulated only for a deletion at restart");
    return Failed(ERROR_INVALID_PARAMETER);
  }
  std::string full;
  if (const DWORD error = Resolve(existing, full))
    return Failed(error);
  // Windows records the name under HKLM\...\Session Manager without looking at the file.
  if (!sim::settings().administrator)
    return Failed(ERROR_ACCESS_DENIED);
  std::vector<std::string> entries = PendingRenames();
  entries.push_back(kNtPrefix + full);
  entries.push_back("");  // no new name: a deletion
  std::vector<BYTE> data;
  for (const std::string& entry : entries) {
    data.insert(data.end(), entry.begin(), entry.end());
    data.push_back(0);
  }
  data.push_back(0);
  StoreData(HKEY_LOCAL_MACHINE, kSessionManager, kPendingRenames, REG_MULTI_SZ, data);
  return TRUE;
}

DWORD WINAPI GetFileAttributesA(LPCSTR path) {
  const Hit hit = Enter("GetFileAttributesA", {Str(path)});
  if (hit.fired)
    return static_cast<DWORD>(hit.result);
  std::string full;
  Node* node = nullptr;
  if (const DWORD error = Existing(path, full, node)) {
    SetLastError(error);
    return INVALID_FILE_ATTRIBUTES;
  }
  return sim::files::Attributes(full);
}

BOOL WINAPI SetFileAttributesA(LPCSTR path, DWORD attributes) {
  const Hit hit = Enter("SetFileAttributesA", {Str(path), Hex(attributes)});
  if (hit.fired)
    return static_cast<BOOL>(hit.result);
  std::string full;
  Node* node = nullptr;
  if (const DWORD error = Existing(path, full, node))
    return Failed(error);
  // FILE_ATTRIBUTE_NORMAL only means "none of the others"; it is never stored.
  node->attributes = attributes & kSettableAttributes;
  return TRUE;
}

HANDLE WINAPI FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA data) {
  const Hit hit = Enter("FindFirstFileA", {Str(pattern)});
  if (hit.fired)
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(hit.result));
  std::string full;
  if (const DWORD error = Resolve(pattern, full)) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  }
  const std::string text = FromAnsi(pattern);
  const std::string last = text.substr(text.find_last_of("\\/:") + 1);
  if (last.empty() || IsRoot(full)) {  // "C:\dir\" and "C:\" name no entry
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  if (!DirectoryExists(Parent(full))) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  std::vector<WIN32_FIND_DATAA> matches = MatchingEntries(Parent(full), Name(full));
  if (!data || matches.empty()) {
    SetLastError(data ? ERROR_FILE_NOT_FOUND : ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  *data = matches.front();
  const uintptr_t id = fs().nextSearch++;
  fs().searches[id] = Search{std::move(matches)};
  Acquire("find handle");
  return reinterpret_cast<HANDLE>(id);
}

// The entries as they were when the search began, as NTFS hands out a directory's snapshot.
BOOL WINAPI FindNextFileA(HANDLE search, LPWIN32_FIND_DATAA data) {
  const Hit hit = Enter("FindNextFileA", {Hex(reinterpret_cast<uintptr_t>(search))});
  if (hit.fired)
    return static_cast<BOOL>(hit.result);
  auto found = fs().searches.find(reinterpret_cast<uintptr_t>(search));
  if (found == fs().searches.end() || !data)
    return Failed(data ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER);
  Search& open = found->second;
  if (open.next >= open.matches.size())
    return Failed(ERROR_NO_MORE_FILES);
  *data = open.matches[open.next++];
  return TRUE;
}

BOOL WINAPI FindClose(HANDLE search) {
  const Hit hit = Enter("FindClose", {Hex(reinterpret_cast<uintptr_t>(search))});
  if (hit.fired)
    return static_cast<BOOL>(hit.result);
  if (!fs().searches.erase(reinterpret_cast<uintptr_t>(search))) {
    Misuse("FindClose of a handle that is not an open search");
    return Failed(ERROR_INVALID_HANDLE);
  }
  Release("find handle");
  return TRUE;
}

HANDLE WINAPI CreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                          DWORD disposition, DWORD flags, HANDLE templateFile) {
  const Hit hit = Enter("CreateFileA", {Str(path), Hex(access), Hex(share), Num(disposition)});
  if (hit.fired)
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(hit.result));
  if (access != GENERIC_READ || disposition != OPEN_EXISTING || security || templateFile ||
      (flags & ~static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL)))
    Misuse("CreateFileA is simulated only for reading an existing file");
  std::string full;
  Node* node = nullptr;
  if (const DWORD error = Existing(path, full, node)) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  }
  // A file held open for writing without read sharing could not be read; directories need a
  // flag the agent never passes.
  if (node->directory || !(share & FILE_SHARE_READ)) {
    SetLastError(node->directory ? ERROR_ACCESS_DENIED : ERROR_SHARING_VIOLATION);
    return INVALID_HANDLE_VALUE;
  }
  const uintptr_t id = fs().nextFile++;
  fs().files[id] = OpenFile{Lower(full), 0, share};
  Acquire("file handle");
  return reinterpret_cast<HANDLE>(id);
}

BOOL WINAPI ReadFile(HANDLE handle, LPVOID buffer, DWORD count, LPDWORD read, LPVOID overlapped) {
  const Hit hit = Enter("ReadFile", {Hex(reinterpret_cast<uintptr_t>(handle)), Num(count)});
  if (hit.fired)
    return static_cast<BOOL>(hit.result);
  auto file = fs().files.find(reinterpret_cast<uintptr_t>(handle));
  if (file == fs().files.end() || !buffer || overlapped)
    return Failed(file == fs().files.end() ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER);
  static const std::string kNothing;
  const Node* node = Find(file->second.path);
  const std::string& contents = node ? node->contents : kNothing;
  const size_t start = std::min(file->second.position, contents.size());
  const size_t taken = std::min<size_t>(count, contents.size() - start);
  memcpy(buffer, contents.data() + start, taken);
  file->second.position = start + taken;
  if (read)
    *read = static_cast<DWORD>(taken);
  return TRUE;
}

// From the start only, the one way the agent moves.
DWORD WINAPI SetFilePointer(HANDLE handle, LONG distance, PLONG high, DWORD method) {
  const Hit hit = Enter("SetFilePointer",
                        {Hex(reinterpret_cast<uintptr_t>(handle)), Num(distance), Num(method)});
  if (hit.fired)
    return static_cast<DWORD>(hit.result);
  auto file = fs().files.find(reinterpret_cast<uintptr_t>(handle));
  if (file == fs().files.end() || high || method != FILE_BEGIN) {
    SetLastError(file == fs().files.end() ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  if (distance < 0) {
    SetLastError(131);  // ERROR_NEGATIVE_SEEK
    return INVALID_SET_FILE_POINTER;
  }
  file->second.position = static_cast<size_t>(distance);
  return static_cast<DWORD>(distance);
}

UINT WINAPI GetWindowsDirectoryA(LPSTR buffer, UINT size) {
  const Hit hit = Enter("GetWindowsDirectoryA", {Num(size)});
  if (hit.fired)
    return static_cast<UINT>(hit.result);
  const std::string directory = ToAnsi(sim::settings().windowsDirectory);
  const UINT length = static_cast<UINT>(directory.size());
  if (!buffer || size <= length)  // too small: the size needed, terminator included
    return length + 1;
  memcpy(buffer, directory.c_str(), length + 1);
  return length;
}

}  // extern "C"
