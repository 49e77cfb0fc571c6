// The exe's entry point, in place of the C runtime's start-up code. The agent reads its command
// from GetCommandLineA, has no static constructors and uses no stdio, so the runtime's start-up
// (argument parsing, stdio, signal handling: several kilobytes) buys nothing. Built into the
// Windows exe only.
#include <windows.h>

extern "C" void WINAPI AgentStartup() {
  // Whatever happens, the exit code is 0.
  ExitProcess(static_cast<UINT>(WinMain(GetModuleHandleA(nullptr), nullptr, GetCommandLineA(),
                                        SW_SHOWDEFAULT)));
}
