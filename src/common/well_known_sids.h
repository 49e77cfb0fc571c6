// Windows' well-known SIDs in their binary form (revision, count of sub-authorities, the
// authority in big-endian, the sub-authorities in little-endian), the same on every machine.
#pragma once

#include <windows.h>

// NT AUTHORITY\SYSTEM, S-1-5-18.
inline constexpr BYTE kSystemSid[] = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
// BUILTIN\Administrators, S-1-5-32-544.
inline constexpr BYTE kAdministratorsSid[] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0};
// NT SERVICE\TrustedInstaller, S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464.
inline constexpr BYTE kTrustedInstallerSid[] = {
    1,    6,    0,    0,    0,    0,    0,    5,    0x50, 0,    0,    0,    0xb5, 0x89, 0xfb, 0x38,
    0x19, 0x84, 0xc2, 0xcb, 0x5c, 0x6c, 0x23, 0x6d, 0x57, 0x00, 0x77, 0x6e, 0xc0, 0x02, 0x64, 0x87};
