/* The baseline for scripts/bench: a GUI exe that does nothing, built the way the agent is. */
#include <windows.h>

void WINAPI EmptyStartup(void) { ExitProcess(0); }
