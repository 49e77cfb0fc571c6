// Optional entry points are looked up at run time, never linked, so that the agent still starts
// on a Windows that lacks them.
#pragma once

#include <windows.h>

template <class Function>
Function EntryPoint(HMODULE module, const char* name) {
  // Through void(*)() because GCC rightly warns on casts between unrelated function types.
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}
