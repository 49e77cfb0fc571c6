// Names that more than one part of the agent uses.
#pragma once

constexpr char kPrinterName[] = "Tessix Tembrin Printer";
constexpr char kDriverName[] = "Tessix Tembrin Printer Driver";
constexpr char kPortName[] = "TESSIX_TEMBRIN:";

constexpr char kDriverLibrary[] = "qelvpr_drv.dll";
constexpr char kConfigLibrary[] = "qelvpr_ui.dll";
constexpr char kDataFile[] = "qelvpr_pnt.txt";

// Read and written as "Software\...", removed as "SOFTWARE\..."; the registry does not mind.
constexpr char kProductKey[] = "Software\\Tessix Software\\Tessix Tembrin";
constexpr char kEmpty[] = "";

// The install asks Windows to start the completion program at the next logon; the uninstall
// takes that back.
constexpr char kRunOnceKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
constexpr char kRunOnceValue[] = "TembrinInstallComplete";
constexpr char kCompletionProgram[] = "TembrinInstallComplete.exe";
