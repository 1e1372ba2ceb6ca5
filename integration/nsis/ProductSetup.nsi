; A product setup that installs the shared scan engine through Pelmora: a sample to copy.
;
; Build it from the unpacked release archive with one call (Debian's makensis takes options
; with "-" only, the Windows one with "/" too):
;
;   makensis integration/nsis/ProductSetup.nsi
;   makensis -DPRODUCT=Quillpen -DPACKAGE_DIR=C:\Build\EnginePackage integration/nsis/ProductSetup.nsi
;
; makensis works in this script's folder, so relative paths below are taken from here.
;
; At install it unpacks Pelmora.exe and the engine package into a temporary folder, runs
; Pelmora there (the package folder must be Pelmora's current directory: elsewhere it finds no
; FileList.ini and answers 4) and maps Pelmora's exit code:
;   0      done
;   2      done, the engine is replaced at the next restart: the reboot flag is set; a silent
;          setup (/S) then ends with 3010, which deployment tools read as "restart required"
;   other  the setup stops with a message naming the code, its meaning and the log; a silent
;          setup ends with Pelmora's code as its own exit code
; Pelmora.exe and FileList.ini stay in the product's folder: the uninstaller runs
; "Pelmora.exe /REMOVE /PROD:<product>" from there and maps the codes the same way.

; ANSI, not Unicode: a Unicode NSIS setup does not start on Windows 95, 98 or ME, where Pelmora
; and the engine run too.
Unicode false

; The product: its name is also the name Pelmora records the product under (letters, digits,
; no blanks, no "/", ":" or "\"), and it names the default install folder, so two products
; built from this script never share a folder.
!ifndef PRODUCT
  !define PRODUCT "Morvelin"
!endif
; The folder holding FileList.ini and every engine file it names; all of it is carried.
!ifndef PACKAGE_DIR
  !define PACKAGE_DIR "..\..\package"
!endif
; The program.
!ifndef PELMORA_EXE
  !define PELMORA_EXE "..\..\Pelmora.exe"
!endif
!ifndef OUTFILE
  !define OUTFILE "${PRODUCT}Setup.exe"
!endif

!if ! /FileExists "${PACKAGE_DIR}\FileList.ini"
  !warning "no FileList.ini in ${PACKAGE_DIR}: the setup will stop with Pelmora's code 4"
!endif

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"

!include LogicLib.nsh

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\Quillmark\${PRODUCT}"
RequestExecutionLevel admin
ShowInstDetails show
ShowUninstDetails show

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; PelmoraResult: maps Pelmora's exit code in $0; returns on 0 and 2, stops the setup otherwise.
; The installer and the uninstaller each need their own copy (NSIS's "un." functions).
!macro PELMORA_RESULT UN
Function ${UN}PelmoraResult
  ${If} $0 == 0
    Return
  ${ElseIf} $0 == 2
    DetailPrint "Pelmora: done, a restart completes it"
    SetRebootFlag true
    Return
  ${EndIf}

  ${Switch} $0
    ${Case} ""
      StrCpy $1 "Pelmora.exe could not be started"
      StrCpy $0 1
      ${Break}
    ${Case} 3
      StrCpy $1 "the engine directory is invalid"
      ${Break}
    ${Case} 4
      StrCpy $1 "no FileList.ini in the package folder (Pelmora's current directory)"
      ${Break}
    ${Case} 5
      StrCpy $1 "invalid arguments"
      ${Break}
    ${Case} 6
      StrCpy $1 "too little free space on the engine's drive"
      ${Break}
    ${Case} 8
      StrCpy $1 "an old engine release (r80) is installed: the product was registered, no file was copied"
      ${Break}
    ${Default}
      StrCpy $1 "Windows error $0"
  ${EndSwitch}

  ; Leave the temporary package folder before stopping: a folder that is still the current
  ; directory cannot be removed, and would be left behind.
  SetOutPath "$TEMP"
  DetailPrint "Pelmora stopped with code $0: $1"
  MessageBox MB_OK|MB_ICONSTOP "The scan engine could not be set up.$\r$\n$\r$\nPelmora stopped with code $0: $1.$\r$\n$\r$\nIts log is $TEMP\MorSetup.log" /SD IDOK
  ; The exit code of a silent setup: Pelmora's own (it outlives Abort).
  SetErrorLevel $0
  Abort
FunctionEnd
!macroend
!insertmacro PELMORA_RESULT ""
!insertmacro PELMORA_RESULT "un."

Section "${PRODUCT}"
  ; The engine package and the program, in a temporary folder that the setup removes at exit.
  InitPluginsDir
  SetOutPath "$PLUGINSDIR\package"
  File /r "${PACKAGE_DIR}\*.*"
  File "${PELMORA_EXE}"

  ; ExecWait starts the program in the output folder: the package is its current directory.
  ; Quote the program's path: it may hold blanks. (Wine quotes a path with blanks itself when it
  ; starts a process, so a missing quote goes unnoticed there but not on Windows.)
  ; Add /PATH:<dir> to choose the engine directory, /1 or /2 for one engine only.
  DetailPrint "Pelmora: installing the scan engine for ${PRODUCT}"
  StrCpy $0 ""
  ClearErrors
  ExecWait '"$PLUGINSDIR\package\Pelmora.exe" /PROD:${PRODUCT}' $0
  Call PelmoraResult

  ; What the uninstaller needs: the program and the manifest, in the product's folder (copied
  ; from the temporary folder, so the setup carries them once).
  SetOutPath "$INSTDIR"
  CopyFiles /SILENT "$PLUGINSDIR\package\Pelmora.exe" "$INSTDIR"
  CopyFiles /SILENT "$PLUGINSDIR\package\FileList.ini" "$INSTDIR"
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  ; Registered as setup tools do, for administrators and deployment tools. An uninstaller that
  ; NSIS starts normally copies itself to the temporary folder, starts the copy and returns at
  ; once with 0; with "_?=<folder>" (last, without quotes, even with blanks) it runs in place and
  ; its exit code is the uninstall's own: 0, 3010 for a restart, or Pelmora's code.
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S _?=$INSTDIR'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Function .onInstSuccess
  ${If} ${RebootFlag}
    ${If} ${Silent}
      SetErrorLevel 3010
    ${Else}
      MessageBox MB_YESNO|MB_ICONQUESTION "The scan engine is replaced at the next restart. Restart now?" IDNO +2
      Reboot
    ${EndIf}
  ${EndIf}
FunctionEnd

Section "Uninstall"
  ; Pelmora's current directory: the product's folder with FileList.ini.
  SetOutPath "$INSTDIR"
  DetailPrint "Pelmora: removing ${PRODUCT} from the scan engine"
  StrCpy $0 ""
  ClearErrors
  ExecWait '"$INSTDIR\Pelmora.exe" /REMOVE /PROD:${PRODUCT}' $0
  ; On a failure the product stays installed and registered, so the uninstall can be run again.
  Call un.PelmoraResult

  SetOutPath "$TEMP"
  Delete "$INSTDIR\Pelmora.exe"
  Delete "$INSTDIR\FileList.ini"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ; Run in place (_?=), the uninstaller cannot delete the file it runs from: it and the folder go
  ; at the next restart. That restart is not needed for anything, so the reboot flag stays as
  ; Pelmora left it.
  ${If} $EXEDIR == $INSTDIR
    StrCpy $2 0
    ${If} ${RebootFlag}
      StrCpy $2 1
    ${EndIf}
    Delete /REBOOTOK "$INSTDIR\Uninstall.exe"
    RMDir /REBOOTOK "$INSTDIR"
    ${If} $2 == 0
      SetRebootFlag false
    ${EndIf}
  ${Else}
    Delete "$INSTDIR\Uninstall.exe"
    RMDir "$INSTDIR"
  ${EndIf}
SectionEnd

Function un.onUninstSuccess
  ${If} ${RebootFlag}
    ${If} ${Silent}
      SetErrorLevel 3010
    ${Else}
      MessageBox MB_YESNO|MB_ICONQUESTION "The scan engine is removed at the next restart. Restart now?" IDNO +2
      Reboot
    ${EndIf}
  ${EndIf}
FunctionEnd
