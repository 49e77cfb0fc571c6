#include "common/unicode_names.h"

bool IsWin9xFamily() {
  return (GetVersion() & 0x80000000u) != 0;
}

// The conversion back has no best fit to hide behind: a look-alike comes back as itself ("L",
// not "Ł"), a default character as "?".
bool ReadsBackExactly(const char* ansi, const WCHAR* unicode) {
  WidePathBuffer back;
  if (MultiByteToWideChar(CP_ACP, 0, ansi, -1, back, MAX_PATH) <= 0)
    return false;
  size_t i = 0;
  while (back[i] && back[i] == unicode[i])
    ++i;
  return back[i] == unicode[i];
}
