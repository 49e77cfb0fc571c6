// Names that more than one part of the agent uses. Inline, so that the exe holds each text once,
// however many parts use it.
#pragma once

inline constexpr char kPrinterName[] = "Tessix Tembrin Printer";
inline constexpr char kDriverName[] = "Tessix Tembrin Printer Driver";
inline constexpr char kPortName[] = "TESSIX_TEMBRIN:";

inline constexpr char kDriverLibrary[] = "qelvpr_drv.dll";
inline constexpr char kConfigLibrary[] = "qelvpr_ui.dll";
inline constexpr char kDataFile[] = "qelvpr_pnt.txt";
inline constexpr char kProxyProcess[] = "QXN_ProxyProcess.exe";

// The application ships the 64-bit driver files and proxy under these names.
inline constexpr char kDriverLibrary64[] = "qelvpr_drv64.dll";
inline constexpr char kConfigLibrary64[] = "qelvpr_ui64.dll";
inline constexpr char kDataFile64[] = "qelvpr_pnt64.txt";
inline constexpr char kProxyProcess64[] = "QXN_ProxyProcess64.exe";

// Read and written as "Software\...", removed as "SOFTWARE\..."; the registry does not mind.
inline constexpr char kProductKey[] = "Software\\Tessix Software\\Tessix Tembrin";
inline constexpr char kEmpty[] = "";

// The install asks Windows to start the completion program at the next logon; the uninstall
// takes that back.
inline constexpr char kRunOnceKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
inline constexpr char kRunOnceValue[] = "TembrinInstallComplete";
inline constexpr char kCompletionProgram[] = "TembrinInstallComplete.exe";
