#include "common/path_syntax.h"

#include <windows.h>

namespace {

bool IsDriveLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Paths are walked by character, never byte by byte: in a double-byte code page (932, 936, 949,
// 950) the second byte of a character can be 0x5C, which is no backslash ("ソ" is 0x83 0x5C in
// 932). A lead byte before the terminator is a character of its own. In UTF-8 and the single-byte
// code pages every byte of 0x5C is a backslash, and IsDBCSLeadByte is never true.
const char* NextCharacter(const char* p) {
  return IsDBCSLeadByte(static_cast<BYTE>(*p)) && p[1] ? p + 2 : p + 1;
}

// The end of a UNC path's component at `p` (its backslash or terminator); NULL when the
// component is empty.
const char* ComponentEnd(const char* p) {
  const char* start = p;
  while (*p && *p != '\\')
    p = NextCharacter(p);
  return p == start ? nullptr : p;
}

bool IsUncPath(const char* path) {
  if (path[0] != '\\' || path[1] != '\\')
    return false;
  const char* server = path + 2;
  const char* serverEnd = ComponentEnd(server);
  if (!serverEnd || *serverEnd != '\\')
    return false;
  const bool device = serverEnd == server + 1 && (*server == '.' || *server == '?');
  return !device && ComponentEnd(serverEnd + 1) != nullptr;
}

}  // namespace

bool IsFullPath(const char* path) {
  if (IsDriveLetter(path[0]) && path[1] == ':' && path[2] == '\\')
    return true;
  return IsUncPath(path);
}

const char* LastBackslash(const char* path) {
  const char* last = nullptr;
  for (const char* p = path; *p; p = NextCharacter(p))
    if (*p == '\\')
      last = p;
  return last;
}

bool EndsInBackslash(const char* path) {
  const char* last = LastBackslash(path);
  return last && last[1] == '\0';
}
