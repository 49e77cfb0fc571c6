// System integration: Windows libraries the driver needs, and the add-in's COM self-registration.
#pragma once

// Makes sure "psapi.dll" and "framedyn.dll" are present in the Windows system directory, copying
// a missing one from the driver directory. 1 when both are there afterwards, 0 otherwise (also
// when the Windows directory is unknown or a path would not fit).
int ProvisionSystemLibraries();

// Loads the COM server at `libraryPath` and runs its DllRegisterServer (any non-zero
// `doRegister`) or DllUnregisterServer inside an OLE initialisation of its own. 1 when the entry
// point ran and did not report a failure, 0 otherwise.
int CallComRegistration(const char* libraryPath, int doRegister);

// The word-processor add-in "qlc_wordaddin.dll" in `directory`, which ends in a backslash. 0 as
// well when the library's path would not fit MAX_PATH.
int RegisterWordAddin(const char* directory);
int UnregisterWordAddin(const char* directory);
