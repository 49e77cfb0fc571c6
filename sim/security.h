// Security of the simulated machine: owners and DACLs of files and folders, volumes, and the
// token of the process that runs the agent.
//
// What the calls model, as Windows behaves:
// - Every file and folder has an owner and a DACL of well-known SIDs, kept as text
//   ("S-1-5-32-544"). A volume's root has Windows' defaults: Administrators and SYSTEM full
//   control, Users read and execute, and Authenticated Users "Modify" for everything created
//   below it plus "Create folders" on the root itself. sim::Reset() leaves C:\Program Files with
//   Windows' own entries (owner TrustedInstaller, protected). A file or folder that is created
//   inherits from its folder as Windows' inheritance rules give it (object and container
//   inheritance, no-propagate, inherit-only; CREATOR OWNER becomes the owner, generic rights are
//   mapped on the entry that applies) and is owned by Administrators, as an elevated installer's
//   files are; one that is renamed keeps its own.
// - GetNamedSecurityInfoA (SE_FILE_OBJECT, owner and DACL) hands out a self-relative security
//   descriptor from LocalAlloc, which the ledger holds until LocalFree; a missing file gives
//   ERROR_FILE_NOT_FOUND, a missing folder on its way ERROR_PATH_NOT_FOUND. On a volume that keeps
//   no security (FAT) it reports no owner and a NULL DACL.
// - GetDriveTypeA of "X:\" is the volume's type (DRIVE_FIXED unless a test says otherwise),
//   DRIVE_NO_ROOT_DIR for a drive that does not exist.
// - OpenProcessToken and GetTokenInformation(TokenUser) give settings().account; the token
//   handle is in the ledger until CloseHandle.
// They are advapi32's exports, looked up with GetProcAddress; the 95/98/Me family has none.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace sim::security {

constexpr char kSystem[] = "S-1-5-18";
constexpr char kAdministrators[] = "S-1-5-32-544";
constexpr char kUsers[] = "S-1-5-32-545";
constexpr char kAuthenticatedUsers[] = "S-1-5-11";
constexpr char kEveryone[] = "S-1-1-0";
constexpr char kCreatorOwner[] = "S-1-3-0";
constexpr char kTrustedInstaller[] =
    "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
constexpr char kAllApplicationPackages[] = "S-1-15-2-1";
// Accounts of the machine: the administrator who runs the agent by default, and another user.
constexpr char kTester[] = "S-1-5-21-1004336348-1177238915-682003330-1001";
constexpr char kOtherUser[] = "S-1-5-21-1004336348-1177238915-682003330-1002";

// ACE flags and rights as Windows spells them.
constexpr unsigned char kObjectInherit = 0x01, kContainerInherit = 0x02, kNoPropagate = 0x04,
                        kInheritOnly = 0x08, kInherited = 0x10;
constexpr unsigned kFullControl = 0x1F01FF, kModify = 0x1301BF, kReadExecute = 0x1200A9,
                   kCreateFolders = 0x4, kGenericAll = 0x10000000;

struct Ace {
  std::string sid;
  unsigned mask = 0;
  unsigned char flags = 0;
  bool allow = true;
};

struct Descriptor {
  std::string owner;                     // "" for none
  std::optional<std::vector<Ace>> dacl;  // nullopt: a NULL DACL, everyone may do everything
};

// Owner Administrators; SYSTEM and Administrators full control and Users read and execute, for
// the folder and everything below it, and nothing inherited from above: what an installer that
// locks a folder outside Program Files down gives it.
Descriptor AdministratorsOnly();

// "O:owner D:(A;flags;mask;;;sid)..." with masks and flags in hex, for messages.
std::string Text(const Descriptor& descriptor);

// The volume at `drive`: its GetDriveTypeA type, and whether it keeps security (NTFS) or not
// (FAT, exFAT).
void SetVolume(char drive, unsigned type, bool keepsSecurity = true);

}  // namespace sim::security
