; The player's installer: a per-user install into the user's own programs
; folder (no administrator rights: the configuration and the log live beside
; the executable and must stay writable by the player), a Start-menu entry,
; an optional first-run configuration, and an uninstaller.
;
; Built by tools/release.sh with
;   makensis -DVERSION=3.2 -DVERSION_QUAD=3.2.0.0 -DEXE=<marvik_ac.exe>
;            -DOUTFILE=<setup.exe> [-DSIGN_COMMAND=<command taking %1>] marvik_ac.nsi
;
; Silent install:   setup.exe /S [/SERVER=a.b.c.d] [/PORT=n] [/PLAYER=name]
;                   [/ENCRYPTION=0|1] [/AUTOSTART=0|1] [/NORUN] [/D=folder]
; Silent uninstall: uninstall.exe /S [/PURGE]
; A server address (switch or page) writes marvik_ac.cfg anew; without one an
; existing file is kept as it is. /PURGE also removes the configuration and
; the log, which are kept otherwise.

Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel user
ManifestDPIAware true

!ifndef VERSION | VERSION_QUAD | EXE | OUTFILE
  !error "VERSION, VERSION_QUAD, EXE and OUTFILE must be defined"
!endif

!define PRODUCT "Marvik AC"
!define COMPANY "Marvik AC"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Marvik AC"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define RUN_VALUE "Marvik_AntiCheat"
; The client's hidden message-only window and its "Stop AntiCheat" command.
!define CLIENT_WND_CLASS "Marvik_AC_WndClass"
!define CLIENT_STOP_COMMAND 2002
!define DEFAULT_PORT 28960

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Marvik AC"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${VERSION}"

VIProductVersion "${VERSION_QUAD}"
VIFileVersion "${VERSION_QUAD}"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "CompanyName" "${COMPANY}"
VIAddVersionKey "FileDescription" "${PRODUCT} anti-cheat client setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "${COMPANY}"

!ifdef SIGN_COMMAND
  !uninstfinalize '${SIGN_COMMAND}' = 0
!endif

!include "MUI2.nsh"
!include "nsDialogs.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"
!include "WinMessages.nsh"

!define MUI_ICON "..\res\marvik_ac.ico"
!define MUI_UNICON "..\res\marvik_ac.ico"
!define MUI_ABORTWARNING

Var Server
Var Port
Var Player
Var Encryption
Var AutoStart
Var NoRun
Var Purge
Var ServerField
Var PortField
Var PlayerField

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
Page custom ConfigPageShow ConfigPageLeave
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; Stops a running client the way its own menu does, and waits for its
; process to end (it takes up to 10 s to wind its session down), so that its
; files can be replaced or removed.
!macro StopClient
  System::Call 'user32::FindWindowExW(p -3, p 0, w "${CLIENT_WND_CLASS}", p 0) p.r0'
  ${If} $0 P<> 0
    DetailPrint "Stopping the running ${PRODUCT} client"
    System::Call 'user32::GetWindowThreadProcessId(p r0, *i .r1)'
    System::Call 'kernel32::OpenProcess(i 0x00100000, i 0, i r1) p.r2'
    System::Call 'user32::SendMessageW(p r0, i ${WM_COMMAND}, p ${CLIENT_STOP_COMMAND}, p 0)'
    ${If} $2 P<> 0
      System::Call 'kernel32::WaitForSingleObject(p r2, i 15000)'
      System::Call 'kernel32::CloseHandle(p r2)'
    ${EndIf}
  ${EndIf}
!macroend

Function .onInit
  StrCpy $Port "${DEFAULT_PORT}"
  StrCpy $Encryption "0"
  StrCpy $AutoStart "1"
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/SERVER=" $Server
  ${GetOptions} $R0 "/PORT=" $R1
  ${IfNot} ${Errors}
    StrCpy $Port $R1
  ${EndIf}
  ClearErrors
  ${GetOptions} $R0 "/PLAYER=" $Player
  ClearErrors
  ${GetOptions} $R0 "/ENCRYPTION=" $R1
  ${IfNot} ${Errors}
    StrCpy $Encryption $R1
  ${EndIf}
  ClearErrors
  ${GetOptions} $R0 "/AUTOSTART=" $R1
  ${IfNot} ${Errors}
    StrCpy $AutoStart $R1
  ${EndIf}
  ClearErrors
  ${GetOptions} $R0 "/NORUN" $R1
  ${IfNot} ${Errors}
    StrCpy $NoRun "1"
  ${EndIf}
FunctionEnd

; The first-run configuration: shown only while the install folder has no
; marvik_ac.cfg; an empty server address leaves the file to the player.
Function ConfigPageShow
  ${If} ${FileExists} "$INSTDIR\marvik_ac.cfg"
    Abort
  ${EndIf}
  !insertmacro MUI_HEADER_TEXT "Game server" "Where the anti-cheat client reports to (you can leave this for later)."
  nsDialogs::Create 1018
  Pop $R0
  ${NSD_CreateLabel} 0 0 100% 24u "Your game server's anti-cheat address and port, and your player name. Without an address, place marvik_ac.cfg beside marvik_ac.exe later."
  Pop $R0
  ${NSD_CreateLabel} 0 32u 30% 12u "Server address (IPv4):"
  Pop $R0
  ${NSD_CreateText} 32% 30u 60% 12u $Server
  Pop $ServerField
  ${NSD_CreateLabel} 0 50u 30% 12u "Server port:"
  Pop $R0
  ${NSD_CreateNumber} 32% 48u 20% 12u $Port
  Pop $PortField
  ${NSD_CreateLabel} 0 68u 30% 12u "Player name:"
  Pop $R0
  ${NSD_CreateText} 32% 66u 60% 12u $Player
  Pop $PlayerField
  nsDialogs::Show
FunctionEnd

Function ConfigPageLeave
  ${NSD_GetText} $ServerField $Server
  ${NSD_GetText} $PortField $Port
  ${NSD_GetText} $PlayerField $Player
  ; The client resolves no host names: it needs a dotted IPv4 address, read
  ; by the same rule as here.
  ${If} $Server != ""
    System::Call 'ws2_32::InetPtonW(i 2, w "$Server", *i .r1) i.r0'
    ${If} $0 != 1
      MessageBox MB_ICONEXCLAMATION|MB_OK "The server address must be an IPv4 address such as 203.0.113.7."
      Abort
    ${EndIf}
  ${EndIf}
FunctionEnd

Section "Install"
  SetShellVarContext current
  !insertmacro StopClient
  SetOutPath "$INSTDIR"
  File "/oname=marvik_ac.exe" "${EXE}"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; The client reads its one value per line up to the first blank, so a
  ; name of several words keeps its first.
  ${If} $Server != ""
    FileOpen $R0 "$INSTDIR\marvik_ac.cfg" w
    FileWrite $R0 "# anti-cheat client settings$\r$\n"
    FileWrite $R0 "server_ip=$Server$\r$\n"
    FileWrite $R0 "server_port=$Port$\r$\n"
    FileWrite $R0 "player_name=$Player$\r$\n"
    FileWrite $R0 "auto_start=$AutoStart$\r$\n"
    FileWrite $R0 "encryption=$Encryption$\r$\n"
    FileClose $R0
  ${EndIf}

  CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\marvik_ac.exe" "" "$INSTDIR\marvik_ac.exe" 0

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${COMPANY}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\marvik_ac.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1

  ; Started once configured; with auto_start=1 it then registers itself to
  ; start with Windows.
  ${If} $NoRun != "1"
  ${AndIf} ${FileExists} "$INSTDIR\marvik_ac.cfg"
    Exec '"$INSTDIR\marvik_ac.exe"'
  ${EndIf}
SectionEnd

Function un.onInit
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/PURGE" $R1
  ${IfNot} ${Errors}
    StrCpy $Purge "1"
  ${EndIf}
FunctionEnd

Section "Uninstall"
  SetShellVarContext current
  !insertmacro StopClient
  Delete "$INSTDIR\marvik_ac.exe"
  Delete "$INSTDIR\uninstall.exe"
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  DeleteRegValue HKCU "${RUN_KEY}" "${RUN_VALUE}"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  ${If} $Purge != "1"
    MessageBox MB_YESNO|MB_DEFBUTTON2 "Also remove your settings (marvik_ac.cfg) and the log (marvik_ac.log)?" /SD IDNO IDNO keep
    StrCpy $Purge "1"
    keep:
  ${EndIf}
  ${If} $Purge == "1"
    Delete "$INSTDIR\marvik_ac.cfg"
    Delete "$INSTDIR\marvik_ac.log"
  ${EndIf}
  ; Removed only when nothing of the player's is left in it.
  RMDir "$INSTDIR"
SectionEnd
