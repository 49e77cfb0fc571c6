// Simulated security: SIDs, the owners and DACLs of files and folders and how they are inherited,
// volumes, the agent's token, and the advapi32 and kernel32 calls that read them.
#include "security.h"

#include "files.h"
#include "internal.h"
#include "kernel.h"

#include <aclapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>

namespace {

namespace s = sim::security;
using s::Ace;
using s::Descriptor;
using sim::detail::Enter;
using sim::detail::Hex;
using sim::detail::Num;
using sim::detail::Str;

struct Volume {
  unsigned type = DRIVE_FIXED;
  bool keepsSecurity = true;
};

struct State {
  std::map<char, Volume> volumes;  // by upper-case drive letter
  std::set<void*> blocks;          // what GetNamedSecurityInfoA allocated
  std::set<uintptr_t> tokens;
  uintptr_t nextToken = 0xB000;
};

State& state() {
  static State instance;
  return instance;
}

constexpr char kDescriptorBlock[] = "security descriptor from LocalAlloc";
constexpr unsigned char kInheritFlags = s::kObjectInherit | s::kContainerInherit;
const HANDLE kCurrentProcess = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1));

// Generic rights as a file's specific ones: FILE_GENERIC_READ, _WRITE, _EXECUTE, FILE_ALL_ACCESS.
unsigned MapGeneric(unsigned mask) {
  unsigned mapped = mask & 0x0FFFFFFFu;
  if (mask & 0x80000000u)
    mapped |= 0x120089;
  if (mask & 0x40000000u)
    mapped |= 0x120116;
  if (mask & 0x20000000u)
    mapped |= 0x1200A0;
  if (mask & 0x10000000u)
    mapped |= s::kFullControl;
  return mapped;
}

// What a new file or folder gets from one entry of its folder's DACL: the entry that applies to
// it (CREATOR OWNER replaced, generic rights mapped) and, for a folder, the one it passes on as
// it was. The two are one entry when they agree.
void Inherit(const Ace& ace, bool directory, const std::string& owner, std::vector<Ace>& into) {
  const bool applies = (ace.flags & (directory ? s::kContainerInherit : s::kObjectInherit)) != 0;
  const bool passesOn = directory && !(ace.flags & s::kNoPropagate);
  const std::string sid = ace.sid == s::kCreatorOwner ? owner : ace.sid;
  const unsigned mask = MapGeneric(ace.mask);
  const unsigned char onward = s::kInherited | (ace.flags & kInheritFlags);
  if (applies && passesOn && sid == ace.sid && mask == ace.mask) {
    into.push_back({sid, mask, onward, ace.allow});
    return;
  }
  if (applies)
    into.push_back({sid, mask, s::kInherited, ace.allow});
  if (passesOn)
    into.push_back(
        {ace.sid, ace.mask, static_cast<unsigned char>(onward | s::kInheritOnly), ace.allow});
}

std::vector<BYTE> SidBytes(const std::string& text) {
  std::vector<unsigned long long> parts;
  for (size_t at = 2; at <= text.size();) {  // after "S-"
    const size_t end = std::min(text.find('-', at), text.size());
    parts.push_back(std::strtoull(text.substr(at, end - at).c_str(), nullptr, 10));
    at = end + 1;
  }
  std::vector<BYTE> sid = {static_cast<BYTE>(parts[0]), static_cast<BYTE>(parts.size() - 2)};
  for (int shift = 40; shift >= 0; shift -= 8)
    sid.push_back(static_cast<BYTE>(parts[1] >> shift));
  for (size_t i = 2; i < parts.size(); ++i)
    for (int shift = 0; shift < 32; shift += 8)
      sid.push_back(static_cast<BYTE>(parts[i] >> shift));
  return sid;
}

void Put16(std::vector<BYTE>& bytes, size_t at, size_t value) {
  bytes[at] = static_cast<BYTE>(value);
  bytes[at + 1] = static_cast<BYTE>(value >> 8);
}

void Put32(std::vector<BYTE>& bytes, size_t at, size_t value) {
  Put16(bytes, at, value & 0xFFFF);
  Put16(bytes, at + 2, value >> 16);
}

unsigned Get16(const BYTE* bytes) {
  return static_cast<unsigned>(bytes[0] | bytes[1] << 8);
}

unsigned Get32(const BYTE* bytes) {
  return Get16(bytes) | Get16(bytes + 2) << 16;
}

// Self-relative: the 20-byte header, the owner, the DACL. A NULL DACL is a present one at
// offset 0.
std::vector<BYTE> SelfRelative(const Descriptor& descriptor) {
  std::vector<BYTE> bytes(20, 0);
  bytes[0] = 1;
  Put16(bytes, 2, 0x8004);  // SE_SELF_RELATIVE | SE_DACL_PRESENT
  if (!descriptor.owner.empty()) {
    Put32(bytes, 4, bytes.size());
    const std::vector<BYTE> owner = SidBytes(descriptor.owner);
    bytes.insert(bytes.end(), owner.begin(), owner.end());
  }
  if (!descriptor.dacl)
    return bytes;
  const size_t acl = bytes.size();
  Put32(bytes, 16, acl);
  bytes.resize(acl + 8, 0);
  bytes[acl] = 2;
  Put16(bytes, acl + 4, descriptor.dacl->size());
  for (const Ace& ace : *descriptor.dacl) {
    const std::vector<BYTE> sid = SidBytes(ace.sid);
    const size_t at = bytes.size();
    bytes.resize(at + 8, 0);
    bytes[at] = ace.allow ? ACCESS_ALLOWED_ACE_TYPE : ACCESS_DENIED_ACE_TYPE;
    bytes[at + 1] = ace.flags;
    Put16(bytes, at + 2, 8 + sid.size());
    Put32(bytes, at + 4, ace.mask);
    bytes.insert(bytes.end(), sid.begin(), sid.end());
  }
  Put16(bytes, acl + 2, bytes.size() - acl);
  return bytes;
}

// The descriptor that a self-relative one holds; false for one the simulation cannot read.
bool Parse(const BYTE* bytes, Descriptor& descriptor) {
  if (bytes[0] != 1 || !(Get16(bytes + 2) & 0x8000))
    return false;
  const unsigned owner = Get32(bytes + 4), dacl = Get32(bytes + 16);
  descriptor.owner = owner ? sim::detail::SidText(bytes + owner) : "";
  if (!dacl)
    return true;
  descriptor.dacl.emplace();
  const BYTE* ace = bytes + dacl + 8;
  for (unsigned i = 0; i < Get16(bytes + dacl + 4); ++i) {
    if (ace[0] > ACCESS_DENIED_ACE_TYPE)
      return false;
    descriptor.dacl->push_back(
        {sim::detail::SidText(ace + 8), Get32(ace + 4), ace[1], ace[0] == 0});
    ace += Get16(ace + 2);
  }
  return true;
}

BOOL FailedWith(DWORD error) {
  SetLastError(error);
  return FALSE;
}

DWORD WINAPI SimGetNamedSecurityInfoA(LPCSTR path, SE_OBJECT_TYPE type, SECURITY_INFORMATION info,
                                      PSID* owner, PSID* group, PACL* dacl, PACL* sacl,
                                      PSECURITY_DESCRIPTOR* descriptor) {
  const sim::detail::Hit hit = Enter("GetNamedSecurityInfoA", {Str(path), Num(type), Hex(info)});
  if (hit.fired)
    return static_cast<DWORD>(hit.result);
  if (type != SE_FILE_OBJECT ||
      (info & ~(OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION)) || !descriptor || group ||
      sacl) {
    sim::detail::Misuse("GetNamedSecurityInfoA is simulated for a file's owner and DACL only");
    return ERROR_INVALID_PARAMETER;
  }
  std::string full;
  DWORD error = 0;
  const Descriptor* found = sim::detail::SecurityOfPath(path, full, error);
  if (!found)
    return error;
  const bool kept = state().volumes[static_cast<char>(toupper(full[0]))].keepsSecurity;
  const std::vector<BYTE> bytes = SelfRelative(kept ? *found : Descriptor{});
  BYTE* block = static_cast<BYTE*>(std::malloc(bytes.size()));
  memcpy(block, bytes.data(), bytes.size());
  state().blocks.insert(block);
  sim::detail::Acquire(kDescriptorBlock);
  *descriptor = block;
  const unsigned ownerAt = Get32(block + 4), daclAt = Get32(block + 16);
  if (owner)
    *owner = (info & OWNER_SECURITY_INFORMATION) && ownerAt ? block + ownerAt : nullptr;
  if (dacl)
    *dacl = (info & DACL_SECURITY_INFORMATION) && daclAt ? reinterpret_cast<PACL>(block + daclAt)
                                                         : nullptr;
  return ERROR_SUCCESS;
}

BOOL WINAPI SimOpenProcessToken(HANDLE process, DWORD access, PHANDLE token) {
  if (Enter("OpenProcessToken", {Hex(reinterpret_cast<uintptr_t>(process)), Hex(access)}).fired)
    return FALSE;
  if (process != kCurrentProcess || !token)
    return FailedWith(ERROR_INVALID_HANDLE);
  const uintptr_t id = state().nextToken++;
  state().tokens.insert(id);
  sim::detail::Acquire("token handle");
  *token = reinterpret_cast<HANDLE>(id);
  return TRUE;
}

BOOL WINAPI SimGetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind, LPVOID buffer,
                                   DWORD length, PDWORD returned) {
  if (Enter("GetTokenInformation",
            {Hex(reinterpret_cast<uintptr_t>(token)), Num(kind), Num(length)})
          .fired)
    return FALSE;
  if (!state().tokens.count(reinterpret_cast<uintptr_t>(token)) || kind != TokenUser || !returned) {
    sim::detail::Misuse("GetTokenInformation is simulated for an open token's TokenUser only");
    return FailedWith(ERROR_INVALID_PARAMETER);
  }
  const std::vector<BYTE> sid = SidBytes(sim::settings().account);
  *returned = static_cast<DWORD>(sizeof(TOKEN_USER) + sid.size());
  if (!buffer || length < *returned)
    return FailedWith(ERROR_INSUFFICIENT_BUFFER);
  BYTE* bytes = static_cast<BYTE*>(buffer);
  memcpy(bytes + sizeof(TOKEN_USER), sid.data(), sid.size());
  auto* user = static_cast<TOKEN_USER*>(buffer);
  user->User.Sid = bytes + sizeof(TOKEN_USER);
  user->User.Attributes = 0;
  return TRUE;
}

}  // namespace

namespace sim::security {

Descriptor AdministratorsOnly() {
  return {kAdministrators, std::vector<Ace>{{kSystem, kFullControl, kInheritFlags},
                                            {kAdministrators, kFullControl, kInheritFlags},
                                            {kUsers, kReadExecute, kInheritFlags}}};
}

std::string Text(const Descriptor& descriptor) {
  std::string text = "O:" + descriptor.owner + " D:";
  if (!descriptor.dacl)
    return text + "NULL";
  for (const Ace& ace : *descriptor.dacl) {
    char entry[160];
    std::snprintf(entry, sizeof entry, "(%s;0x%x;0x%x;%s)", ace.allow ? "A" : "D", ace.flags,
                  ace.mask, ace.sid.c_str());
    text += entry;
  }
  return text;
}

void SetVolume(char drive, unsigned type, bool keepsSecurity) {
  state().volumes[static_cast<char>(toupper(drive))] = Volume{type, keepsSecurity};
}

}  // namespace sim::security

namespace sim::detail {

// Windows 7 and later on the system drive, and on a volume they format.
Descriptor RootSecurity() {
  return {s::kSystem,
          std::vector<Ace>{{s::kAdministrators, s::kFullControl, kInheritFlags},
                           {s::kSystem, s::kFullControl, kInheritFlags},
                           {s::kUsers, s::kReadExecute, kInheritFlags},
                           {s::kAuthenticatedUsers, s::kModify,
                            static_cast<unsigned char>(kInheritFlags | s::kInheritOnly)},
                           {s::kAuthenticatedUsers, s::kCreateFolders, 0}}};
}

// Without an inheritable entry in its folder, a new file or folder gets the creator's default
// DACL: SYSTEM and the owner.
Descriptor InheritedSecurity(const Descriptor& parent, bool directory) {
  Descriptor child{s::kAdministrators, std::vector<Ace>{}};
  if (parent.dacl)
    for (const Ace& ace : *parent.dacl)
      if (ace.flags & kInheritFlags)
        Inherit(ace, directory, child.owner, *child.dacl);
  if (child.dacl->empty())
    child.dacl = {{s::kSystem, s::kFullControl, 0}, {child.owner, s::kFullControl, 0}};
  return child;
}

std::string SidText(const void* sid) {
  const BYTE* bytes = static_cast<const BYTE*>(sid);
  unsigned long long authority = 0;
  for (int i = 2; i < 8; ++i)
    authority = authority << 8 | bytes[i];
  std::string text = "S-" + std::to_string(bytes[0]) + "-" + std::to_string(authority);
  for (size_t i = 0; i < bytes[1]; ++i)
    text += "-" + std::to_string(Get32(bytes + 8 + 4 * i));
  return text;
}

std::string DescriptorText(const void* selfRelative) {
  Descriptor descriptor;
  if (!selfRelative)
    return "NULL";
  if (!Parse(static_cast<const BYTE*>(selfRelative), descriptor))
    return "unreadable";
  return s::Text(descriptor);
}

// The token of an administrator (or SYSTEM) holds the Administrators group; every account's
// holds Everyone, Authenticated Users and Users.
bool TokenHasSid(const std::string& sid) {
  return sid == settings().account || sid == s::kEveryone || sid == s::kAuthenticatedUsers ||
         sid == s::kUsers || (sid == s::kAdministrators && settings().administrator);
}

bool CloseTokenHandle(HANDLE handle) {
  if (!state().tokens.erase(reinterpret_cast<uintptr_t>(handle)))
    return false;
  Release("token handle");
  return true;
}

void EndProcessSecurity() {
  for (void* block : state().blocks)
    std::free(block);
  state().blocks.clear();
  state().tokens.clear();
}

// C:\Program Files as Windows sets it up: owned by TrustedInstaller, not inheriting from the
// root, Administrators and SYSTEM with "Modify" on the folder itself and full control below it.
void ResetSecurity() {
  EndProcessSecurity();
  state() = State{};
  const auto below = static_cast<unsigned char>(kInheritFlags | s::kInheritOnly);
  const unsigned readExecute = 0xA0000000u;  // GENERIC_READ | GENERIC_EXECUTE
  sim::files::AddDirectory("C:\\Program Files");
  sim::files::SetSecurity(
      "C:\\Program Files",
      {s::kTrustedInstaller,
       std::vector<Ace>{{s::kTrustedInstaller, s::kFullControl, 0},
                        {s::kTrustedInstaller, s::kGenericAll,
                         static_cast<unsigned char>(s::kContainerInherit | s::kInheritOnly)},
                        {s::kSystem, s::kModify, 0},
                        {s::kSystem, s::kGenericAll, below},
                        {s::kAdministrators, s::kModify, 0},
                        {s::kAdministrators, s::kGenericAll, below},
                        {s::kUsers, s::kReadExecute, 0},
                        {s::kUsers, readExecute, below},
                        {s::kCreatorOwner, s::kGenericAll, below},
                        {s::kAllApplicationPackages, s::kReadExecute, 0},
                        {s::kAllApplicationPackages, readExecute, below}}});
  sim::kernel::SetExport("advapi32.dll", "GetNamedSecurityInfoA",
                         AsFarProc(&SimGetNamedSecurityInfoA));
  sim::kernel::SetExport("advapi32.dll", "OpenProcessToken", AsFarProc(&SimOpenProcessToken));
  sim::kernel::SetExport("advapi32.dll", "GetTokenInformation", AsFarProc(&SimGetTokenInformation));
}

}  // namespace sim::detail

extern "C" {

HLOCAL WINAPI LocalFree(HLOCAL block) {
  Enter("LocalFree", {});
  if (!block)
    return nullptr;
  if (!state().blocks.erase(block)) {
    sim::detail::Misuse("LocalFree of a block that LocalAlloc did not hand out");
    return block;
  }
  std::free(block);
  sim::detail::Release(kDescriptorBlock);
  return nullptr;
}

UINT WINAPI GetDriveTypeA(LPCSTR root) {
  const sim::detail::Hit hit = Enter("GetDriveTypeA", {Str(root)});
  if (hit.fired)
    return static_cast<UINT>(hit.result);
  if (!root || strlen(root) != 3 || root[1] != ':' || root[2] != '\\' ||
      !sim::files::IsDirectory(root))
    return DRIVE_NO_ROOT_DIR;
  return state().volumes[static_cast<char>(toupper(root[0]))].type;
}

}  // extern "C"
