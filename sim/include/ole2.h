// Simulated ole32: OLE initialisation around a COM server's self-registration.
#pragma once

#include <windows.h>

extern "C" {

HRESULT WINAPI OleInitialize(LPVOID pvReserved);
void WINAPI OleUninitialize(void);
void WINAPI CoTaskMemFree(LPVOID pv);

}  // extern "C"
