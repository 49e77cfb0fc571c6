// Arbitrary command lines: the tail is a suffix of the line that starts after the program name
// and its blanks, and the whole agent runs on it without leaving anything behind.
#include "common/names.h"
#include "entry/command_line.h"
#include "fuzz_support.h"
#include "registry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FreshMachine();
  const std::string line(reinterpret_cast<const char*>(data), size);
  const char* text = line.c_str();  // stops at the first NUL, as Windows' command line does
  const char* tail = CommandTail(text);
  const size_t length = strlen(text);
  Require(tail >= text && tail <= text + length, "tail outside the command line");
  const auto first = static_cast<unsigned char>(*tail);
  Require(first == 0 || first > ' ', "tail starts with a blank or control character");
  if (text[0] != '"')
    for (const char* p = text; p < tail; ++p)
      Require(static_cast<unsigned char>(*p) != 0, "skipped past the end");

  sim::settings().commandLine = text;
  // Without an installation path an install that ran would change nothing.
  sim::reg::SetString(HKEY_LOCAL_MACHINE, kProductKey, "InstallPath", "C:\\T\\");
  const std::string before = sim::Dump();
  WinMain(nullptr, nullptr, nullptr, 0);
  RequireEmptyLedger();
  const bool command = strcmp(tail, "/Install") == 0 || strcmp(tail, "/Uninstall") == 0;
  if (!command)
    Require(sim::Dump() == before, "a tail that is no command changed the machine");
  return 0;
}
