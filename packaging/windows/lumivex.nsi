; The Lumivex installer: a per-user install that needs no administrator rights,
; a Start-menu shortcut and an entry in the installed-programs list with an
; uninstaller. An upgrade first runs the installed version's uninstaller.
; Neither touches files while the program runs (it holds a named mutex): run
; by a person they ask to close it, run silently (/S) they end with status 2.
; The uninstaller removes the installed files and keeps the user's settings
; (HKCU\Software\Quarnel\Lumivex Software) unless asked to remove them; its
; entry goes only once the files are gone.
;   makensis -DVERSION=1.0.0 -DSTAGE=<install tree> -DFILES=<files.nsh>
;            -DUNFILES=<unfiles.nsh> -DUNDIRS=<undirs.nsh> -DICON=<.ico> -DSIZE_KB=<n> -DOUTFILE=<setup.exe>
;            [-DSIGN=<sign.sh>] lumivex.nsi
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user
; Sharp text at every scale, on every monitor.
ManifestDPIAware true
ManifestDPIAwareness "PerMonitorV2,System"

!define PRODUCT "Lumivex Software"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Lumivex"
!define SETTINGS_KEY "Software\Quarnel\Lumivex Software"
; Held by lumivex.exe while it runs.
!define RUNNING_MUTEX "Quarnel.Lumivex.Running"
; Exit statuses of a silent run that changed nothing.
!define STATUS_RUNNING 2
!define STATUS_OLD_UNINSTALL_FAILED 3
!define STATUS_FILES_LEFT 4

Name "${PRODUCT}"
!ifdef SIGN
!finalize '"${SIGN}" "%1"'
!uninstfinalize '"${SIGN}" "%1"'
!endif
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Lumivex"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "CompanyName" "Quarnel"
VIAddVersionKey "FileDescription" "${PRODUCT} installer"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "Copyright (c) 2026 Quarnel"

!include "MUI2.nsh"
!include "LogicLib.nsh"
!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_WELCOMEPAGE_TEXT "This installs ${PRODUCT} ${VERSION} for you alone; it needs no administrator rights.$\r$\n$\r$\nWarning: Lumivex flashes the whole screen 2.5 to 5 times a second. Flashing light at these rates can trigger seizures in people with photosensitive epilepsy. Do not use it if you or anyone who can see the screen has epilepsy or has had a seizure, and stop at once if you feel unwell."
!define MUI_FINISHPAGE_RUN "$INSTDIR\lumivex.exe"
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_LICENSE "${STAGE}\LICENSE.txt"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!define MUI_UNCONFIRMPAGE_TEXT_TOP "This removes ${PRODUCT} from the folder below. Your settings are kept unless you choose to remove them on the next page, and so are files you added to the folder."
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; Sets $0 to 1 when the mutex NAME exists. One that exists but may not be
; opened (held by another user's copy) counts as well.
!macro MUTEX_HELD NAME
    System::Call 'kernel32::OpenMutexW(i 0x00100000, i 0, w "${NAME}") p.r1 ?e'
    Pop $3
    ${If} $1 != 0
        System::Call 'kernel32::CloseHandle(p r1)'
        StrCpy $0 1
    ${ElseIf} $3 = 5
        StrCpy $0 1
    ${EndIf}
!macroend

!macro RUNNING_CHECK UN
; Sets $0 to 1 while a copy of the program runs in this session or another.
Function ${UN}isRunning
    StrCpy $0 0
    !insertmacro MUTEX_HELD "Local\${RUNNING_MUTEX}"
    !insertmacro MUTEX_HELD "Global\${RUNNING_MUTEX}"
FunctionEnd

; Returns once the program has ended; a person may close it and retry or
; cancel, a silent run ends at once with STATUS_RUNNING, nothing changed.
Function ${UN}waitUntilClosed
    retry:
    Call ${UN}isRunning
    ${IfThen} $0 = 0 ${|} Return ${|}
    ${IfNot} ${Silent}
        MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
            "${PRODUCT} is running. Close it, then press Retry." IDRETRY retry
    ${EndIf}
    SetErrorLevel ${STATUS_RUNNING}
    Quit
FunctionEnd
!macroend
!insertmacro RUNNING_CHECK ""
!insertmacro RUNNING_CHECK "un."

Function .onInit
    Call waitUntilClosed
FunctionEnd

Function un.onInit
    Call un.waitUntilClosed
FunctionEnd

; An installed version goes first, through its own uninstaller run in place
; (_?=) so that this installer waits for it; it keeps the settings.
Function removePrevious
    ReadRegStr $0 HKCU "${UNINSTALL_KEY}" "InstallLocation"
    ${IfThen} $0 == "" ${|} Return ${|}
    ${IfNot} ${FileExists} "$0\uninstall.exe"
        Return
    ${EndIf}
    ClearErrors
    ExecWait '"$0\uninstall.exe" /S _?=$0' $1
    ${If} ${Errors}
    ${OrIf} $1 <> 0
        ${IfNot} ${Silent}
            MessageBox MB_OK|MB_ICONSTOP "The installed ${PRODUCT} in $0 could not be removed completely (status $1). Close every program that uses its files and run this installer again."
        ${EndIf}
        SetErrorLevel ${STATUS_OLD_UNINSTALL_FAILED}
        Quit
    ${EndIf}
    ; Run in place, it could not remove itself.
    Delete "$0\uninstall.exe"
    RMDir "$0"
FunctionEnd

Section "Lumivex"
    SectionIn RO
    ; It may have been started while the pages were shown.
    Call waitUntilClosed
    Call removePrevious
    !include "${FILES}"
    SetOutPath "$INSTDIR"
    WriteUninstaller "$INSTDIR\uninstall.exe"
    CreateShortCut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\lumivex.exe"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "Quarnel"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "URLInfoAbout" "https://www.quarnel.com/"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\lumivex.exe"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" ${SIZE_KB}
SectionEnd

Section "un.Lumivex" UnProgram
    SectionIn RO
    Delete "$SMPROGRAMS\${PRODUCT}.lnk"
    ; Only what the installer put there: a cursor or a skin the user added
    ; stays, and so does the folder holding it. Delete sets the error flag for
    ; a file that stays (in use, no right to remove it).
    ClearErrors
    !include "${UNFILES}"
    ${If} ${Errors}
        ; The entry stays, so the uninstaller can be run again.
        DetailPrint "Some files of ${PRODUCT} could not be removed."
        ${IfNot} ${Silent}
            MessageBox MB_OK|MB_ICONEXCLAMATION "Some files in $INSTDIR could not be removed. Close every program that uses them and run the uninstaller again."
        ${EndIf}
        SetErrorLevel ${STATUS_FILES_LEFT}
    ${Else}
        !include "${UNDIRS}"
        ; Run in place (_?=) by an upgrade, it cannot remove itself.
        Delete "$INSTDIR\uninstall.exe"
        RMDir "$INSTDIR"
        DeleteRegKey HKCU "${UNINSTALL_KEY}"
    ${EndIf}
SectionEnd

Section /o "un.Remove my settings" UnSettings
    DeleteRegKey HKCU "${SETTINGS_KEY}"
    DeleteRegKey /ifempty HKCU "Software\Quarnel"
SectionEnd

!insertmacro MUI_UNFUNCTION_DESCRIPTION_BEGIN
    !insertmacro MUI_DESCRIPTION_TEXT ${UnProgram} "The program and the files the installer put in its folder."
    !insertmacro MUI_DESCRIPTION_TEXT ${UnSettings} "The style and speed you chose. Kept unless you tick this."
!insertmacro MUI_UNFUNCTION_DESCRIPTION_END
