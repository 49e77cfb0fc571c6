// Names that more than one part of the agent uses. Inline, so that the exe holds each text once,
// however many parts use it.
#pragma once

inline constexpr char kPrinterName[] = "Tessix Tembrin Printer";
inline constexpr char kDriverName[] = "Tessix Tembrin Printer Driver";
inline constexpr char kPortName[] = "TESSIX_TEMBRIN:";

inline constexpr char kDriverLibrary[] = "qelvpr_drv.dll";
inline constexpr char kConfigLibrary[] = "qelvpr_ui.dll";
inline constexpr char kDataFile[] = "qelvpr_pnt.txt";

// Read and written as "Software\...", removed as "SOFTWARE\..."; the registry does not mind.
inline constexpr char kProductKey[] = "Software\\Tessix Software\\Tessix Tembrin";
inline constexpr char kEmpty[] = "";

// The install asks Windows to start the completion program at the next logon; the uninstall
// takes that back.
inline constexpr char kRunOnceKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
inline constexpr char kRunOnceValue[] = "TembrinInstallComplete";
inline constexpr char kCompletionProgram[] = "TembrinInstallComplete.exe";
