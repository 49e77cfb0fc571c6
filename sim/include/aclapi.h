// Simulated Win32 security structures (winnt.h, accctrl.h), with Windows' layouts. The calls,
// GetNamedSecurityInfoA, OpenProcessToken and GetTokenInformation, are deliberately not
// declared: the 95/98/Me family lacks them, and the agent looks them up at run time.
#pragma once

#include <windows.h>

typedef DWORD ACCESS_MASK;
typedef DWORD SECURITY_INFORMATION;
typedef PVOID PSECURITY_DESCRIPTOR;

typedef struct _ACL {
  BYTE AclRevision;
  BYTE Sbz1;
  WORD AclSize;
  WORD AceCount;
  WORD Sbz2;
} ACL, *PACL;

typedef struct _ACE_HEADER {
  BYTE AceType;
  BYTE AceFlags;
  WORD AceSize;
} ACE_HEADER;

typedef struct _ACCESS_ALLOWED_ACE {
  ACE_HEADER Header;
  ACCESS_MASK Mask;
  DWORD SidStart;
} ACCESS_ALLOWED_ACE;

typedef struct _SID_AND_ATTRIBUTES {
  PSID Sid;
  DWORD Attributes;
} SID_AND_ATTRIBUTES;

typedef struct _TOKEN_USER {
  SID_AND_ATTRIBUTES User;
} TOKEN_USER;

typedef enum _TOKEN_INFORMATION_CLASS { TokenUser = 1 } TOKEN_INFORMATION_CLASS;
typedef enum _SE_OBJECT_TYPE { SE_UNKNOWN_OBJECT_TYPE = 0, SE_FILE_OBJECT } SE_OBJECT_TYPE;

static_assert(sizeof(ACL) == 8 && sizeof(ACCESS_ALLOWED_ACE) == 12, "Windows' ACL layout");

#define SECURITY_MAX_SID_SIZE 68
#define TOKEN_QUERY 0x0008
#define OWNER_SECURITY_INFORMATION 0x00000001L
#define DACL_SECURITY_INFORMATION 0x00000004L
#define ACCESS_ALLOWED_ACE_TYPE 0x0
#define ACCESS_DENIED_ACE_TYPE 0x1
#define INHERIT_ONLY_ACE 0x08
#define FILE_WRITE_DATA 0x0002
#define FILE_APPEND_DATA 0x0004
#define FILE_DELETE_CHILD 0x0040
#define GENERIC_WRITE 0x40000000L
#define GENERIC_ALL 0x10000000L
