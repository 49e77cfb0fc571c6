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
; Both exit with 0 when the printer followed, 3010 when it did and a restart is due, and 2 when
; it did not: printer-setup.exe itself always exits with 0, so they look for themselves. A failed
; installation leaves the application's files and the uninstall entry, so that it can be run
; again or removed; a failed uninstallation leaves the product installed, to be run again.

Unicode true
!include LogicLib.nsh
!include x64.nsh

!ifndef APP_FILES
  !error "Define APP_FILES: the folder that holds the application's files"
!endif
!ifndef OUTFILE
  !define OUTFILE "tembrin-setup.exe"
!endif
!ifndef VERSION
  !define VERSION "2.0.0.424"
!endif

!define PRODUCT_KEY "Software\Tessix Software\Tessix Tembrin"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Tessix Tembrin"
!define PRINTER "Tessix Tembrin Printer"
!define DRIVER "Tessix Tembrin Printer Driver"
!define PRINT_ENVIRONMENTS "SYSTEM\CurrentControlSet\Control\Print\Environments"
!define SESSION_MANAGER "SYSTEM\CurrentControlSet\Control\Session Manager"

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

; The application's files, below APP_FILES as below the installation folder. The installer places
; them and the uninstaller removes them from this one list, so that the uninstaller takes away
; what the installer placed, and nothing else that lies in the folder.
!macro ApplicationFiles Do
  !insertmacro ${Do} "printer-setup.exe"
  !insertmacro ${Do} "plugins\creator\qelvpr_drv.dll"
  !insertmacro ${Do} "plugins\creator\qelvpr_ui.dll"
  !insertmacro ${Do} "plugins\creator\qelvpr_pnt.txt"
  !insertmacro ${Do} "plugins\creator\QXN_ProxyProcess.exe"
  !insertmacro ${Do} "plugins\creator\qelvpr_drv64.dll"
  !insertmacro ${Do} "plugins\creator\qelvpr_ui64.dll"
  !insertmacro ${Do} "plugins\creator\qelvpr_pnt64.txt"
  !insertmacro ${Do} "plugins\creator\QXN_ProxyProcess64.exe"
!macroend
!macro PlaceFile Path
  File "/oname=$INSTDIR\${Path}" "${APP_FILES}\${Path}"
!macroend
!macro RemoveFile Path
  Delete "$INSTDIR\${Path}"
!macroend

!macro SharedFunctions UN
; InstallPath, where the agent looks for the installation folder, and the uninstall entry. On
; 64-bit Windows the agent reads InstallPath from the 64-bit registry view, and this 32-bit
; installer would write into the 32-bit one.
Function ${UN}WriteRegistration
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
  WriteRegStr HKLM "${PRODUCT_KEY}" "InstallPath" "$INSTDIR"
  SetRegView default
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Tessix Tembrin"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Tessix Software"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  ; _?= runs the uninstaller in place. Without it, the uninstaller copies itself to the temporary
  ; folder, starts the copy and returns at once: a deployment system that waits for it and then
  ; starts the next installer would run the two side by side, and the copy would be deleted only
  ; at the next restart.
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe" _?=$INSTDIR'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" \
    '"$INSTDIR\uninstall.exe" /S _?=$INSTDIR'
FunctionEnd

; The size in bytes of the renames and deletions that wait for the next restart, in $0; 0 for
; none. Runs only add to them, so a size that grew across the agent's run means a restart is due.
Function ${UN}RestartTimeEntriesSize
  StrCpy $0 0
  StrCpy $3 "PendingFileRenameOperations"
  StrCpy $4 "${SESSION_MANAGER}"
  ; HKEY_LOCAL_MACHINE, KEY_QUERY_VALUE; the key is the same in both registry views.
  System::Call 'advapi32::RegOpenKeyExW(p 0x80000002, w r4, i 0, i 1, *p .r1) i .r2'
  ${If} $2 = 0
    System::Call 'advapi32::RegQueryValueExW(p r1, w r3, p 0, p 0, p 0, *i .r0) i .r2'
    ${If} $2 <> 0
      StrCpy $0 0
    ${EndIf}
    System::Call 'advapi32::RegCloseKey(p r1)'
  ${EndIf}
FunctionEnd

; Runs the agent with the command in $0. A driver file that a program had loaded is deleted at the
; next restart: then the exit code becomes 3010, which deployment systems read as a restart due.
Function ${UN}RunAgent
  StrCpy $R1 $0
  Call ${UN}RestartTimeEntriesSize
  StrCpy $R0 $0
  ExecWait '"$INSTDIR\printer-setup.exe" $R1'
  Call ${UN}RestartTimeEntriesSize
  ${If} $0 > $R0
    SetRebootFlag true
    SetErrorLevel 3010
  ${EndIf}
FunctionEnd

; Sets the exit code to 2, and tells an interactive user, when the printer did not follow.
Function ${UN}Fail
  SetErrorLevel 2
  MessageBox MB_ICONEXCLAMATION "$0" /SD IDOK
FunctionEnd
!macroend
!insertmacro SharedFunctions ""
!insertmacro SharedFunctions "un."

Section "Install"
  ; 1. The application's files, the agent among them. The agent copies the driver files from
  ;    plugins\creator below the installation folder, so they must be there before it runs. An
  ;    uninstaller that ran here a moment ago may have left uninstall.done for the clean-up that
  ;    deletes it once it has exited (see the uninstaller's last step): without it, the clean-up
  ;    leaves uninstall.exe for this installer to replace.
  Delete "$INSTDIR\uninstall.done"
  CreateDirectory "$INSTDIR\plugins\creator"
  SetOutPath "$INSTDIR"
  !insertmacro ApplicationFiles PlaceFile
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; 2. InstallPath and the uninstall entry.
  Call WriteRegistration

  ; 3. The agent, last.
  StrCpy $0 "/Install"
  Call RunAgent

  ; 4. The outcome: the record "Version" stands only for a whole printer. The agent writes it in
  ;    the 32-bit registry view, this installer's own.
  ClearErrors
  ReadRegStr $1 HKLM "${PRODUCT_KEY}" "Version"
  ${If} ${Errors}
    StrCpy $0 "The ${PRINTER} could not be set up."
    Call Fail
  ${EndIf}
SectionEnd

Section "Uninstall"
  ; 1. The agent first, while its files and InstallPath are still in place. Besides the printer
  ;    it removes the application's registry keys, the uninstall entry among them.
  StrCpy $0 "/Uninstall"
  Call un.RunAgent

  ; 2. The outcome: the driver stays registered while a printer of it remains, also when the
  ;    spooler does not run (its registry still holds both, where OpenPrinter would fail for
  ;    either reason). The product then stays installed, so that this can run again.
  ${If} ${RunningX64}
    StrCpy $1 "Windows x64"
  ${Else}
    StrCpy $1 "Windows NT x86"
  ${EndIf}
  ClearErrors
  EnumRegValue $2 HKLM "${PRINT_ENVIRONMENTS}\$1\Drivers\Version-3\${DRIVER}" 0
  ${IfNot} ${Errors}
    Call un.WriteRegistration
    StrCpy $0 "The ${PRINTER} could not be removed. Run this again once the print spooler runs."
    Call un.Fail
    Abort
  ${EndIf}

  ; 3. The files. The agent has moved the driver files out of the spooler's way; the copies here
  ;    are the installer's.
  !insertmacro ApplicationFiles RemoveFile
  RMDir "$INSTDIR\plugins\creator"
  RMDir "$INSTDIR\plugins"

  ; 4. What the agent leaves: on 64-bit Windows it cleans the 32-bit registry view, so the
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

  ; 5. The uninstaller itself. Run in place (_?=), it cannot delete itself while it runs, and a
  ;    deletion at the next restart would read as a restart pending. So a hidden cmd.exe outlives
  ;    it, for a minute at most: once a second, while uninstall.done is there, it tries to delete
  ;    uninstall.exe, which works once this process has exited, and then deletes uninstall.done
  ;    and the folder if empty. A reinstall that starts at once deletes uninstall.done first, and
  ;    writes its own uninstall.exe last: the clean-up then leaves it. It writes nothing to the
  ;    registry, and runs from the temporary folder, since a current directory keeps its folder.
  ;    (Wine's cmd.exe takes no "@(" and reads "||" otherwise than Windows: plain "if" it reads.)
  FileOpen $9 "$INSTDIR\uninstall.done" w
  FileClose $9
  SetOutPath "$TEMP"
  ExecShell "open" "$SYSDIR\cmd.exe" '/d /q /c for /l %i in (1,1,60) do \
    (if not exist "$INSTDIR\uninstall.done" (exit) else (del /q "$INSTDIR\uninstall.exe" 2>nul & \
    if exist "$INSTDIR\uninstall.exe" (ping -n 2 127.0.0.1 >nul) else \
    (del /q "$INSTDIR\uninstall.done" & rd "$INSTDIR" 2>nul & exit)))' SW_HIDE
SectionEnd
