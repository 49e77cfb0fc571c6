; Tessix Tembrin: an NSIS installer and uninstaller that put the virtual printer in place with
; printer-setup.exe and take it away again. Copy it and replace the file list with your own.
;
; Build (NSIS 3; on Debian: apt-get install nsis):
;   makensis -DAPP_FILES=<folder> -DOUTFILE=<setup.exe> tembrin.nsi
; where <folder> holds the application as it is to be installed: printer-setup.exe at its top
; and the driver files in its plugins\creator folder.
;
; Run silently (a deployment system does this):  setup.exe /S   and later the uninstall entry's
; QuietUninstallString:  "<folder>\uninstall.exe" /S _?=<folder>
; The installer's exit code is 0 when the printer exists afterwards and 2 when it does not:
; printer-setup.exe itself always exits with 0, so the installer asks the spooler instead.

Unicode true
!include LogicLib.nsh
!include x64.nsh

!ifndef APP_FILES
  !error "Define APP_FILES: the folder that holds the application's files"
!endif
!ifndef OUTFILE
  !define OUTFILE "tembrin-setup.exe"
!endif

!define PRODUCT_KEY "Software\Tessix Software\Tessix Tembrin"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Tessix Tembrin"
!define PRINTER "Tessix Tembrin Printer"

Name "Tessix Tembrin"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\Tessix Tembrin"
; A reinstall over an installed copy (a repair, an upgrade) goes to that copy's folder, also when
; a deployment system runs it silently without /D.
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
; The agent does nothing without administrator rights; the installer asks for them once.
RequestExecutionLevel admin
ShowInstDetails nevershow
ShowUninstDetails nevershow

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Install"
  ; 1. The application's files, the agent among them. The agent copies the driver files from
  ;    plugins\creator below the installation folder, so they must be there before it runs.
  SetOutPath "$INSTDIR"
  File /r "${APP_FILES}\*.*"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; 2. InstallPath, where the agent looks for the installation folder. On 64-bit Windows it reads
  ;    the 64-bit registry view, and this 32-bit installer would write into the 32-bit one.
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
  WriteRegStr HKLM "${PRODUCT_KEY}" "InstallPath" "$INSTDIR"
  SetRegView default

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Tessix Tembrin"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  ; _?= runs the uninstaller in place. Without it, the uninstaller copies itself to the temporary
  ; folder, starts the copy and returns at once: a deployment system that waits for it and then
  ; starts the next installer would run the two side by side.
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" \
    '"$INSTDIR\uninstall.exe" /S _?=$INSTDIR'

  ; 3. The agent, last. It is silent and its exit code means nothing.
  ExecWait '"$INSTDIR\printer-setup.exe" /Install'

  ; 4. The outcome, from the spooler: the printer exists when the install went through.
  Call CheckPrinter
SectionEnd

; Sets the installer's exit code to 2, and tells an interactive user, when the spooler does not
; know the printer.
Function CheckPrinter
  System::Call 'winspool.drv::OpenPrinterW(w "${PRINTER}", *p .r1, p 0) i .r0'
  ${If} $0 == 0
    SetErrorLevel 2
    MessageBox MB_ICONEXCLAMATION "The ${PRINTER} could not be set up." /SD IDOK
  ${Else}
    System::Call 'winspool.drv::ClosePrinter(p r1)'
  ${EndIf}
FunctionEnd

Section "Uninstall"
  ; 1. The agent first, while its files and InstallPath are still in place. Besides the printer
  ;    it removes the application's registry keys, the uninstall entry among them.
  ExecWait '"$INSTDIR\printer-setup.exe" /Uninstall'

  ; 2. The files. The agent has moved the driver files out of the spooler's way; the copies here
  ;    are the installer's.
  RMDir /r "$INSTDIR\plugins"
  Delete "$INSTDIR\printer-setup.exe"
  ; Run in place (_?=), the uninstaller cannot delete itself while it runs, so it goes at the
  ; next restart, and its folder then too when empty. Windows lets it rename itself first: a
  ; reinstall into this folder before the restart then keeps its own uninstall.exe.
  Delete "$INSTDIR\uninstall.old"
  Rename "$INSTDIR\uninstall.exe" "$INSTDIR\uninstall.old"
  Delete /REBOOTOK "$INSTDIR\uninstall.old"
  Delete /REBOOTOK "$INSTDIR\uninstall.exe"
  RMDir /REBOOTOK "$INSTDIR"

  ; 3. What the agent leaves: on 64-bit Windows it cleans the 32-bit registry view, so the
  ;    InstallPath written into the 64-bit view is the uninstaller's to remove. The uninstall
  ;    entry is removed here as well in case the agent could not run.
  ${If} ${RunningX64}
    SetRegView 64
    DeleteRegKey HKLM "${PRODUCT_KEY}"
    DeleteRegKey /ifempty HKLM "Software\Tessix Software"
    SetRegView default
  ${EndIf}
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  DeleteRegKey /ifempty HKLM "Software\Tessix Software"
SectionEnd
