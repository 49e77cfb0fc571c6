#include "entry/command_line.h"

namespace {

unsigned char At(const char* p) {
  return static_cast<unsigned char>(*p);
}

const char* SkipProgramName(const char* p) {
  if (*p == '"') {
    ++p;
    while (*p && *p != '"')
      ++p;
    return *p ? p + 1 : p;
  }
  // Bytes of 0x80 and above belong to the name (ANSI code pages put letters there).
  while (At(p) > ' ')
    ++p;
  return p;
}

}  // namespace

const char* CommandTail(const char* commandLine) {
  const char* p = SkipProgramName(commandLine);
  while (At(p) >= 1 && At(p) <= ' ')
    ++p;
  return p;
}
