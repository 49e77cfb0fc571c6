// Names that more than one part of the agent uses: one copy in the exe, however many use them.
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
