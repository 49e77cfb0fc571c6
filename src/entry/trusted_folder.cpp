// The driver files and the proxy are copied to where the spooler loads them as LocalSystem, and the
// add-in is loaded into this elevated process: whoever can change them, or the folder they come
// from, runs code with those rights. A folder at the root of a volume ("C:\Tembrin") inherits the
// root's "Authenticated Users: Modify"; one below Program Files, made by an installer running as an
// administrator, passes. The check reads each folder and file once, before the first change.
#include "entry/trusted_folder.h"

#include "common/entry_point.h"
#include "common/names.h"
#include "common/path_buffer.h"
#include "common/path_syntax.h"
#include "common/unicode_names.h"
#include "common/well_known_sids.h"
#include "entry/state.h"

#include <windows.h>

#include <aclapi.h>

#include <cstring>

namespace {

using GetNamedSecurityInfoFn = DWORD(WINAPI*)(LPCSTR, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID*,
                                              PSID*, PACL*, PACL*, PSECURITY_DESCRIPTOR*);
using OpenProcessTokenFn = BOOL(WINAPI*)(HANDLE, DWORD, PHANDLE);
using GetTokenInformationFn = BOOL(WINAPI*)(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID, DWORD, PDWORD);

// What changes a file, or who may change it. A generic right appears only in an entry that nothing
// has mapped yet, and grants as much as it says.
constexpr DWORD kChangesFile = FILE_WRITE_DATA | FILE_APPEND_DATA | DELETE | WRITE_DAC |
                               WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
// On a folder the first two add a file and a subfolder; deleting a child removes any of them.
constexpr DWORD kChangesFolder = kChangesFile | FILE_DELETE_CHILD;
// Above it, what lets a folder on the way be renamed, so that another can take its name.
constexpr DWORD kRenamesFolder = DELETE | FILE_DELETE_CHILD | WRITE_DAC | WRITE_OWNER | GENERIC_ALL;

constexpr const char* kSources32[] = {kDriverLibrary, kConfigLibrary, kDataFile, kProxyProcess};
constexpr const char* kSources64[] = {kDriverLibrary64, kConfigLibrary64, kDataFile64,
                                      kProxyProcess64};

struct Checker {
  GetNamedSecurityInfoFn getSecurity;
  PSID account;  // the account that runs the agent; NULL when its token cannot say
};

bool SameSid(const void* sid, const BYTE* known) {
  const BYTE* bytes = static_cast<const BYTE*>(sid);
  return bytes[1] == known[1] && memcmp(bytes, known, 8u + 4u * known[1]) == 0;
}

bool IsTrusted(const Checker& checker, const void* sid) {
  return SameSid(sid, kSystemSid) || SameSid(sid, kAdministratorsSid) ||
         SameSid(sid, kTrustedInstallerSid) ||
         (checker.account && SameSid(sid, static_cast<const BYTE*>(checker.account)));
}

// Whether an entry grants anyone else one of `rights`. A deny entry only takes away, and an
// inherit-only one is for what is created below; any other kind of entry that grants (a callback
// or an object entry) counts as someone else's.
bool GrantsOthers(const Checker& checker, const ACL* dacl, DWORD rights) {
  const BYTE* entry = reinterpret_cast<const BYTE*>(dacl + 1);
  for (WORD i = 0; i < dacl->AceCount; ++i) {
    const auto* ace = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(entry);
    entry += ace->Header.AceSize;
    if ((ace->Header.AceFlags & INHERIT_ONLY_ACE) || !(ace->Mask & rights) ||
        ace->Header.AceType == ACCESS_DENIED_ACE_TYPE)
      continue;
    if (ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE || !IsTrusted(checker, &ace->SidStart))
      return true;
  }
  return false;
}

// A missing file is code nobody placed, and the folder that passed before it lets nobody else
// place one; a missing folder could be made by whoever may add one to its parent. No owner or a
// NULL DACL (a volume that keeps no security, FAT) lets everyone do everything.
bool OnlyTrustedChange(const Checker& checker, const char* path, DWORD rights, bool isFile) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD error = checker.getSecurity(path, SE_FILE_OBJECT,
                                          OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                          &owner, nullptr, &dacl, nullptr, &descriptor);
  if (error != ERROR_SUCCESS)
    return isFile && error == ERROR_FILE_NOT_FOUND;
  const bool trusted =
      owner && dacl && IsTrusted(checker, owner) && !GrantsOthers(checker, dacl, rights);
  LocalFree(descriptor);
  return trusted;
}

// The folder, then each folder above it up to the volume's root: none may be renamed by anyone
// else, nor have its owner or DACL changed. `path` has no trailing backslash but on the root.
bool FolderChainIsTrusted(const Checker& checker, PathBuffer& path) {
  if (!OnlyTrustedChange(checker, path, kChangesFolder, false))
    return false;
  while (path[3]) {
    char* last = const_cast<char*>(LastBackslash(path));
    last[last == path + 2 ? 1 : 0] = '\0';
    if (!OnlyTrustedChange(checker, path, kRenamesFolder, false))
      return false;
  }
  return true;
}

// A path that does not fit is one the run will not use either: it refuses the same path.
bool BelowIsTrusted(const Checker& checker, const char* format, const char* name, DWORD rights,
                    bool isFile) {
  PathBuffer path;
  return !FormatPath(path, format, InstallDir, name) ||
         OnlyTrustedChange(checker, path, rights, isFile);
}

bool SourcesAreTrusted(const Checker& checker) {
  if (!BelowIsTrusted(checker, "%s%s", "plugins", kRenamesFolder, false) ||
      !BelowIsTrusted(checker, "%s%s", "plugins\\creator", kChangesFolder, false))
    return false;
  for (const char* name : Is64BitWindows ? kSources64 : kSources32)
    if (!BelowIsTrusted(checker, "%splugins\\creator\\%s", name, kChangesFile, true))
      return false;
  return true;
}

bool IsTrustedWith(const Checker& checker, bool forInstall) {
  PathBuffer folder;
  if (!CopyPath(folder, InstallDir))
    return false;
  if (folder[3])
    folder[strlen(folder) - 1] = '\0';
  return FolderChainIsTrusted(checker, folder) && (!forInstall || SourcesAreTrusted(checker)) &&
         BelowIsTrusted(checker, "%s%s", "qlc_wordaddin.dll", kChangesFile, true);
}

// A share's own permissions cannot be read from here, and the same SIDs name the server's own
// accounts there; a removable disk or a CD can be swapped by whoever holds it. Only a local fixed
// disk is taken.
bool OnLocalFixedDisk() {
  if (InstallDir[0] == '\\')
    return false;
  const char root[] = {InstallDir[0], ':', '\\', '\0'};
  return GetDriveTypeA(root) == DRIVE_FIXED;
}

// A folder that only the account that runs the agent (an administrator, or SYSTEM) and the
// system's own accounts can change gives nobody a right they do not have already.
union Account {
  TOKEN_USER user;
  BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
};

PSID ReadAccount(HMODULE advapi, Account& account) {
  const auto openToken = EntryPoint<OpenProcessTokenFn>(advapi, "OpenProcessToken");
  const auto getInformation = EntryPoint<GetTokenInformationFn>(advapi, "GetTokenInformation");
  HANDLE token = nullptr;
  if (!openToken || !getInformation || !openToken(GetCurrentProcess(), TOKEN_QUERY, &token))
    return nullptr;
  DWORD size = 0;
  const bool read = getInformation(token, TokenUser, &account, sizeof account, &size) != FALSE;
  CloseHandle(token);
  return read ? account.user.User.Sid : nullptr;
}

bool InstallDirIsTrusted(bool forInstall) {
  // The 95/98/Me family has no security at all: every program there has every right already.
  if (IsWin9xFamily())
    return true;
  // advapi32 is one of the exe's imports: no load is needed to look its calls up.
  HMODULE advapi = GetModuleHandleA("advapi32.dll");
  if (!advapi || !OnLocalFixedDisk())
    return false;
  Account account;
  const Checker checker{EntryPoint<GetNamedSecurityInfoFn>(advapi, "GetNamedSecurityInfoA"),
                        ReadAccount(advapi, account)};
  return checker.getSecurity && IsTrustedWith(checker, forInstall);
}

}  // namespace

void KeepInstallDirIfTrusted(bool forInstall) {
  if (HasInstallDir() && !InstallDirIsTrusted(forInstall))
    memset(InstallDir, 0, sizeof InstallDir);
}
