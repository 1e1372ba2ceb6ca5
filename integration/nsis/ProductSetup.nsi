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
; The product's version, shown with the uninstaller's entry. A later build of the same PRODUCT
; run over an installed one is its upgrade: Pelmora updates the engine for the product it already
; holds (the count stays), the setup replaces the product's files and its uninstaller.
!ifndef VERSION
  !define VERSION "1.0.0"
!endif

!if ! /FileExists "${PACKAGE_DIR}\FileList.ini"
  !warning "no FileList.ini in ${PACKAGE_DIR}: the setup will stop with Pelmora's code 4"
!endif

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"

!include LogicLib.nsh
!include TextFunc.nsh

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

; TakeBackFolderDeletions: an uninstall run in place (_?=) left its own file and the product's
; folder to be deleted at the next restart. A setup run again before that restart takes those
; deletions back, or the restart would delete the new Uninstall.exe (and the product could never
; be uninstalled, nor give back its reference to the engine). NT family: the pairs of
; PendingFileRenameOperations that delete "$INSTDIR\Uninstall.exe" or "$INSTDIR" (with or without
; its final backslash), every other pair kept in its order. 95, 98 and ME: the lines
; "NUL=<short name>" of WININIT.INI that name them (the folder with or without its final
; backslash), every other line kept.
Function TakeBackFolderDeletions
  ; $0 key, $1 type, $2 size, $3 buffer, $4 read, $5 write, $6 source, $7 target, $8 end, $9 result.
  ; The list is read and written in UTF-16, as stored, and the pairs kept are copied byte for
  ; byte: names of other programs that the ANSI code page cannot hold stay intact.
  System::Call 'advapi32::RegOpenKeyExA(i 0x80000002, t "SYSTEM\CurrentControlSet\Control\Session Manager", i 0, i 0x20003, *i .r0) i .r9'
  ${If} $9 == 0
    System::Call 'advapi32::RegQueryValueExW(i r0, w "PendingFileRenameOperations", i 0, *i .r1, i 0, *i .r2) i .r9'
    ${If} $9 == 0
    ${AndIf} $1 == 7
    ${AndIf} $2 > 0
      IntOp $R0 $2 + 4
      System::Alloc $R0
      Pop $3
      System::Call 'advapi32::RegQueryValueExW(i r0, w "PendingFileRenameOperations", i 0, *i .r1, i r3, *i r2r2) i .r9'
      ; Zeros after the data: every string read below ends inside the buffer.
      IntOp $8 $3 + $2
      System::Call '*$8(&i4 0)'
      StrCpy $4 $3
      StrCpy $5 $3
      StrCpy $R1 0
      ${DoWhile} $4 < $8
        System::Call 'kernel32::lstrlenW(i r4) i .R0'
        ${If} $R0 == 0
          ${Break}
        ${EndIf}
        System::Call '*$4(&w${NSIS_MAX_STRLEN} .r6)'
        IntOp $R2 $R0 + 1
        IntOp $R2 $R2 * 2
        IntOp $R2 $4 + $R2
        System::Call 'kernel32::lstrlenW(i R2) i .R0'
        System::Call '*$R2(&w${NSIS_MAX_STRLEN} .r7)'
        IntOp $R3 $R0 + 1
        IntOp $R3 $R3 * 2
        IntOp $R3 $R2 + $R3
        StrCpy $R4 0
        ${If} $7 == ""
          ${If} $6 == "\??\$INSTDIR\Uninstall.exe"
          ${OrIf} $6 == "\??\$INSTDIR"
          ${OrIf} $6 == "\??\$INSTDIR\"
            StrCpy $R4 1
          ${EndIf}
        ${EndIf}
        ${If} $R4 == 1
          DetailPrint "Deletion of $6 at the restart taken back"
          StrCpy $R1 1
        ${Else}
          IntOp $R0 $R3 - $4
          System::Call 'kernel32::RtlMoveMemory(i r5, i r4, i R0)'
          IntOp $5 $5 + $R0
        ${EndIf}
        StrCpy $4 $R3
      ${Loop}
      ${If} $R1 == 1
        System::Call '*$5(&i2 0)'
        IntOp $R0 $5 - $3
        ${If} $R0 == 0
          System::Call 'advapi32::RegDeleteValueA(i r0, t "PendingFileRenameOperations") i .r9'
        ${Else}
          IntOp $R0 $R0 + 2
          System::Call 'advapi32::RegSetValueExW(i r0, w "PendingFileRenameOperations", i 0, i 7, i r3, i R0) i .r9'
        ${EndIf}
      ${EndIf}
      System::Free $3
    ${EndIf}
    System::Call 'advapi32::RegCloseKey(i r0)'
  ${EndIf}

  ; WININIT.INI names the files by their short names; the old Uninstall.exe is still there.
  IfFileExists "$WINDIR\WININIT.INI" 0 done
  GetFullPathName /SHORT $6 "$INSTDIR\Uninstall.exe"
  GetFullPathName /SHORT $7 "$INSTDIR"
  ClearErrors
  FileOpen $0 "$WINDIR\WININIT.INI" r
  IfErrors done
  FileOpen $1 "$WINDIR\WININIT.NEW" w
  ${If} ${Errors}
    FileClose $0
    Goto done
  ${EndIf}
  StrCpy $R1 0
  ${DoUntil} ${Errors}
    FileRead $0 $2
    ${If} ${Errors}
      ${Break}
    ${EndIf}
    ${TrimNewLines} $2 $3
    StrCpy $R4 0
    ${If} $6 != ""
    ${AndIf} $3 == "NUL=$6"
      StrCpy $R4 1
    ${EndIf}
    ${If} $7 != ""
      ${If} $3 == "NUL=$7"
      ${OrIf} $3 == "NUL=$7\"
        StrCpy $R4 1
      ${EndIf}
    ${EndIf}
    ${If} $R4 == 1
      DetailPrint "Deletion of $3 at the restart taken back"
      StrCpy $R1 1
    ${Else}
      FileWrite $1 $2
    ${EndIf}
  ${Loop}
  FileClose $0
  FileClose $1
  ${If} $R1 == 1
    Delete "$WINDIR\WININIT.INI"
    Rename "$WINDIR\WININIT.NEW" "$WINDIR\WININIT.INI"
  ${Else}
    Delete "$WINDIR\WININIT.NEW"
  ${EndIf}
done:
FunctionEnd

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
  Call TakeBackFolderDeletions
  CopyFiles /SILENT "$PLUGINSDIR\package\Pelmora.exe" "$INSTDIR"
  CopyFiles /SILENT "$PLUGINSDIR\package\FileList.ini" "$INSTDIR"
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  ; Registered as setup tools do, for administrators and deployment tools. An uninstaller that
  ; NSIS starts normally copies itself to the temporary folder, starts the copy and returns at
  ; once with 0; with "_?=<folder>" (last, without quotes, even with blanks) it runs in place and
  ; its exit code is the uninstall's own: 0, 3010 for a restart, or Pelmora's code.
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
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
  ; at the next restart (the folder only if it is empty then). That restart is not needed for
  ; anything, so the reboot flag stays as Pelmora left it. A setup run again before it takes
  ; these deletions back (TakeBackFolderDeletions).
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
