; The player's installer: a per-user install into the user's own programs
; folder (no administrator rights: the configuration and the log live beside
; the executable and must stay writable by the player), the client that fits
; the system (64-bit on 64-bit Windows, else 32-bit), a Start-menu entry, the
; settings page (on every run, filled with the current settings), and an
; uninstaller.
;
; Built by tools/release.sh with
;   makensis -DVERSION=3.2 -DVERSION_QUAD=3.2.0.0 -DEXE=<64-bit marvik_ac.exe>
;            -DEXE32=<32-bit marvik_ac.exe> -DOUTFILE=<setup.exe>
;            [-DSIGN_COMMAND=<command taking %1>] marvik_ac.nsi
;
; Silent install:   setup.exe /S [/SERVER=a.b.c.d] [/PORT=1-65535] [/PLAYER=name]
;                   [/ENCRYPTION=0|1] [/AUTOSTART=0|1] [/NORUN] [/D=folder]
; Silent uninstall: uninstall.exe /S [/PURGE]
; Settings not given keep their current values (marvik_ac.cfg), else the
; defaults. Any setting switch, or leaving the page with a server address,
; writes marvik_ac.cfg anew (UTF-8); with neither an existing file is kept as
; it is. A silent install with an invalid setting installs nothing and exits
; with 2. /PURGE also removes the configuration and the log, which are kept
; otherwise.

Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel user
ManifestDPIAware true

!ifndef VERSION | VERSION_QUAD | EXE | EXE32 | OUTFILE
  !error "VERSION, VERSION_QUAD, EXE, EXE32 and OUTFILE must be defined"
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
!include "WordFunc.nsh"
!include "WinMessages.nsh"
!include "x64.nsh"

!define MUI_ICON "..\res\marvik_ac.ico"
!define MUI_UNICON "..\res\marvik_ac.ico"
!define MUI_ABORTWARNING
!define MUI_WELCOMEPAGE_TITLE "${PRODUCT} ${VERSION} for Call of Duty 4"
!define MUI_WELCOMEPAGE_TEXT "${PRODUCT} is the anti-cheat client that Call of Duty 4 servers with the ${PRODUCT} plug-in ask their players to run. It waits in the notification area, and while you play it reports your game to the server you play on.$\r$\n$\r$\nHave your server's anti-cheat address and port at hand, and whether it uses encryption: the server's admin or website tells you. You can change them by running this setup again.$\r$\n$\r$\nNo administrator rights are needed: ${PRODUCT} installs into your own programs folder."

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
Var EncryptionField
Var AutoStartField
Var Changed

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
Page custom ConfigPageShow ConfigPageLeave
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; A line "key=value" of the settings file sets var to the value (up to
; its first blank, as the client reads it).
!macro SettingFromLine key var
  StrLen $R3 "${key}"
  StrCpy $R4 $1 $R3
  ${If} $R4 S== "${key}"
    StrCpy $R4 $1 "" $R3
    ${WordFind} "$R4 " " " "+1{" $R4
    StrCpy ${var} $R4
  ${EndIf}
!macroend

; The value of a switch such as "/PLAYER=" (the rest of its argument and
; any words after it up to the next switch, joined by blanks), or "" for one
; such as "/NORUN"; the error flag is set when the switch was not given. The
; command line is split as Windows splits it, so a switch quoted whole
; ("/PLAYER=John Smith", as shells and scripts pass an argument with a
; blank) reads the same as one written without quotes, and a name of two
; words is seen whole rather than cut to its first.
!macro SwitchValueFunction un
Function ${un}SwitchValue
  Exch $0
  Push $1
  Push $2
  Push $3
  Push $4
  Push $5
  Push $6
  Push $7
  Push $8
  StrCpy $1 $CMDLINE
  System::Call 'shell32::CommandLineToArgvW(w r1, *i .r2) p.r3'
  StrLen $4 $0
  StrCpy $5 ""  ; the value
  StrCpy $6 0   ; 0: not given, 1: given, 2: inside its value
  StrCpy $7 1   ; past the program's own name
  ${DoWhile} $7 < $2
    IntOp $8 $7 * 4  ; the installer is a 32-bit program
    IntOp $8 $3 + $8
    System::Call '*$8(p .r8)'
    System::Call 'kernel32::lstrcpynW(w .r1, p r8, i ${NSIS_MAX_STRLEN})'
    StrCpy $8 $1 1
    ${If} $6 == 2
      ${If} $8 == "/"
        StrCpy $6 1
      ${Else}
        StrCpy $5 "$5 $1"
      ${EndIf}
    ${EndIf}
    StrCpy $8 $1 $4
    ${If} $8 == $0  ; any case, as NSIS's own switches
      StrCpy $8 $0 1 -1
      ${If} $8 == "="
        StrCpy $5 $1 "" $4  ; given twice, the last one counts
        StrCpy $6 2
      ${ElseIf} $1 == $0
        StrCpy $6 1
      ${EndIf}
    ${EndIf}
    IntOp $7 $7 + 1
  ${Loop}
  System::Call 'kernel32::LocalFree(p r3)'
  StrCpy $0 $5
  ClearErrors
  ${If} $6 == 0
    SetErrors
  ${EndIf}
  Pop $8
  Pop $7
  Pop $6
  Pop $5
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Exch $0
FunctionEnd
!macroend
!insertmacro SwitchValueFunction ""
!insertmacro SwitchValueFunction "un."

; A setting switch given on the command line sets var and marks the file
; to be written anew.
!macro SettingSwitch switch var
  Push "${switch}"
  Call SwitchValue
  Pop $R1
  ${IfNot} ${Errors}
    StrCpy ${var} $R1
    StrCpy $Changed "1"
  ${EndIf}
!macroend

!define TrimLineEnd "!insertmacro TrimLineEnd"
!macro TrimLineEnd var
  !define Id ${__LINE__}
  loop${Id}:
    StrCpy $R5 ${var} 1 -1
    ${If} $R5 == "$\r"
    ${OrIf} $R5 == "$\n"
      StrCpy ${var} ${var} -1
      Goto loop${Id}
    ${EndIf}
  !undef Id
!macroend

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

; The current settings from $INSTDIR\marvik_ac.cfg, read the way the client
; reads them: UTF-8 when the file is that (a byte-order mark skipped), else
; the ANSI code page. The text goes through a UTF-16 copy, which NSIS reads
; line by line.
Function ReadCurrentSettings
  IfFileExists "$INSTDIR\marvik_ac.cfg" 0 done
  FileOpen $0 "$INSTDIR\marvik_ac.cfg" r
  IfErrors done
  FileSeek $0 0 END $1
  FileSeek $0 0 SET
  ${If} $1 > 65536
  ${OrIf} $1 < 1
    FileClose $0
    Goto done
  ${EndIf}
  System::Alloc $1
  Pop $2
  System::Call 'kernel32::ReadFile(p r0, p r2, i r1, *i .r3, p 0)'
  FileClose $0
  StrCpy $4 $2
  System::Call '*$2(&i1 .r5, &i1 .r6, &i1 .r7)'
  IntOp $5 $5 & 0xFF
  IntOp $6 $6 & 0xFF
  IntOp $7 $7 & 0xFF
  ${If} $3 >= 3
  ${AndIf} $5 = 0xEF
  ${AndIf} $6 = 0xBB
  ${AndIf} $7 = 0xBF
    IntOp $4 $2 + 3
    IntOp $3 $3 - 3
  ${EndIf}
  StrCpy $8 65001
  System::Call 'kernel32::MultiByteToWideChar(i 65001, i 8, p r4, i r3, p 0, i 0) i.r9'
  ${If} $9 = 0
    StrCpy $8 0
    System::Call 'kernel32::MultiByteToWideChar(i 0, i 0, p r4, i r3, p 0, i 0) i.r9'
  ${EndIf}
  IntOp $5 $9 * 2
  System::Alloc $5
  Pop $6
  System::Call 'kernel32::MultiByteToWideChar(i r8, i 0, p r4, i r3, p r6, i r9)'
  System::Free $2
  InitPluginsDir
  FileOpen $0 "$PLUGINSDIR\current.cfg" w
  System::Call 'kernel32::WriteFile(p r0, p r6, i r5, *i .r3, p 0)'
  FileClose $0
  System::Free $6
  FileOpen $0 "$PLUGINSDIR\current.cfg" r
  loop:
    ClearErrors
    FileReadUTF16LE $0 $1
    IfErrors read
    ${TrimLineEnd} $1
    !insertmacro SettingFromLine "server_ip=" $Server
    !insertmacro SettingFromLine "server_port=" $Port
    !insertmacro SettingFromLine "player_name=" $Player
    !insertmacro SettingFromLine "encryption=" $Encryption
    !insertmacro SettingFromLine "auto_start=" $AutoStart
    Goto loop
  read:
  FileClose $0
  done:
FunctionEnd

Function .onInit
  StrCpy $Port "${DEFAULT_PORT}"
  StrCpy $Encryption "0"
  StrCpy $AutoStart "1"
  Call ReadCurrentSettings
  !insertmacro SettingSwitch "/SERVER=" $Server
  !insertmacro SettingSwitch "/PORT=" $Port
  !insertmacro SettingSwitch "/PLAYER=" $Player
  !insertmacro SettingSwitch "/ENCRYPTION=" $Encryption
  !insertmacro SettingSwitch "/AUTOSTART=" $AutoStart
  Push "/NORUN"
  Call SwitchValue
  Pop $R1
  ${IfNot} ${Errors}
    StrCpy $NoRun "1"
  ${EndIf}
  ${If} ${Silent}
    Call CheckSettings
    ${If} $R9 != ""
      SetErrorLevel 2
      Quit
    ${EndIf}
  ${EndIf}
FunctionEnd

; The settings as the client needs them; $R9 is empty when they are usable,
; else what is wrong.
Function CheckSettings
  StrCpy $R9 ""
  ; The client resolves no host names: it needs a dotted IPv4 address.
  ${If} $Server != ""
    System::Call 'ws2_32::InetPtonW(i 2, w "$Server", *i .r1) i.r0'
    ${If} $0 != 1
      StrCpy $R9 "The server address must be an IPv4 address such as 203.0.113.7."
    ${EndIf}
  ${EndIf}
  ; Digits only, no sign or leading zero: the number reads back as written.
  IntOp $0 $Port + 0
  ${If} "$0" != "$Port"
  ${OrIf} $0 < 1
  ${OrIf} $0 > 65535
    StrCpy $R9 "The server port must be a number from 1 to 65535."
  ${EndIf}
  ; The client takes a value up to its first blank.
  StrLen $1 $Player
  StrCpy $2 0
  ${DoWhile} $2 < $1
    StrCpy $3 $Player 1 $2
    ${If} $3 == " "
    ${OrIf} $3 == "$\t"
      StrCpy $R9 "The player name must be one word, without blanks."
    ${EndIf}
    IntOp $2 $2 + 1
  ${Loop}
  ${If} $Encryption != "0"
  ${AndIf} $Encryption != "1"
    StrCpy $R9 "Encryption must be 0 or 1."
  ${EndIf}
  ${If} $AutoStart != "0"
  ${AndIf} $AutoStart != "1"
    StrCpy $R9 "Start with Windows must be 0 or 1."
  ${EndIf}
FunctionEnd

; The settings page, on every run, filled with the current settings; an
; empty server address leaves the file to the player.
Function ConfigPageShow
  !insertmacro MUI_HEADER_TEXT "Game server" "Where the anti-cheat client reports to. Run this setup again to change it."
  nsDialogs::Create 1018
  Pop $R0
  ${NSD_CreateLabel} 0 0 100% 30u "Your game server's anti-cheat address and port, your player name, and whether the server uses encryption: its admin or website tells you. Without an address, place marvik_ac.cfg beside marvik_ac.exe later."
  Pop $R0
  ${NSD_CreateLabel} 0 36u 30% 12u "Server address (IPv4):"
  Pop $R0
  ${NSD_CreateText} 32% 34u 60% 12u $Server
  Pop $ServerField
  ${NSD_CreateLabel} 0 54u 30% 12u "Server port (1-65535):"
  Pop $R0
  ${NSD_CreateNumber} 32% 52u 20% 12u $Port
  Pop $PortField
  ${NSD_CreateLabel} 0 72u 30% 12u "Player name (one word):"
  Pop $R0
  ${NSD_CreateText} 32% 70u 60% 12u $Player
  Pop $PlayerField
  ${NSD_CreateCheckbox} 32% 88u 68% 12u "Encryption (only when the server has it on)"
  Pop $EncryptionField
  ${If} $Encryption == "1"
    ${NSD_Check} $EncryptionField
  ${EndIf}
  ${NSD_CreateCheckbox} 32% 104u 68% 12u "Start with Windows"
  Pop $AutoStartField
  ${If} $AutoStart == "1"
    ${NSD_Check} $AutoStartField
  ${EndIf}
  nsDialogs::Show
FunctionEnd

Function ConfigPageLeave
  ${NSD_GetText} $ServerField $Server
  ${NSD_GetText} $PortField $Port
  ${NSD_GetText} $PlayerField $Player
  ${NSD_GetState} $EncryptionField $0
  ${NSD_GetState} $AutoStartField $1
  StrCpy $Encryption "0"
  StrCpy $AutoStart "0"
  ${If} $0 == ${BST_CHECKED}
    StrCpy $Encryption "1"
  ${EndIf}
  ${If} $1 == ${BST_CHECKED}
    StrCpy $AutoStart "1"
  ${EndIf}
  Call CheckSettings
  ${If} $R9 != ""
    MessageBox MB_ICONEXCLAMATION|MB_OK $R9
    Abort
  ${EndIf}
  ${If} $Server != ""
    StrCpy $Changed "1"
  ${EndIf}
FunctionEnd

; The settings file as UTF-8 (the client reads that whatever the system's
; code page, so any letters of a player name survive).
Function WriteSettings
  StrCpy $R1 "# anti-cheat client settings$\r$\nserver_ip=$Server$\r$\nserver_port=$Port$\r$\nplayer_name=$Player$\r$\nauto_start=$AutoStart$\r$\nencryption=$Encryption$\r$\n"
  System::Call 'kernel32::WideCharToMultiByte(i 65001, i 0, w R1, i -1, p 0, i 0, p 0, p 0) i.r2'
  IntOp $3 $2 - 1
  System::Alloc $2
  Pop $4
  System::Call 'kernel32::WideCharToMultiByte(i 65001, i 0, w R1, i -1, p r4, i r2, p 0, p 0)'
  FileOpen $5 "$INSTDIR\marvik_ac.cfg" w
  System::Call 'kernel32::WriteFile(p r5, p r4, i r3, *i .r6, p 0)'
  FileClose $5
  System::Free $4
FunctionEnd

Section "Install"
  SetShellVarContext current
  !insertmacro StopClient
  SetOutPath "$INSTDIR"
  ; A 64-bit client on 64-bit Windows sees a 64-bit game's layer too; 32-bit
  ; Windows runs only the 32-bit one.
  ${If} ${RunningX64}
    File "/oname=marvik_ac.exe" "${EXE}"
  ${Else}
    File "/oname=marvik_ac.exe" "${EXE32}"
  ${EndIf}
  File "marvik_ac.cfg.example"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ${If} $Changed == "1"
  ${AndIf} $Server != ""
    Call WriteSettings
  ${EndIf}
  ; Quoted: unquoted, a path with blanks is tried blank by blank. The client
  ; writes the same when it starts; only the installer removes it.
  ${If} $AutoStart == "1"
  ${AndIf} ${FileExists} "$INSTDIR\marvik_ac.cfg"
    WriteRegStr HKCU "${RUN_KEY}" "${RUN_VALUE}" '"$INSTDIR\marvik_ac.exe"'
  ${ElseIf} $AutoStart == "0"
    DeleteRegValue HKCU "${RUN_KEY}" "${RUN_VALUE}"
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

  ; Started once configured.
  ${If} $NoRun != "1"
  ${AndIf} ${FileExists} "$INSTDIR\marvik_ac.cfg"
    Exec '"$INSTDIR\marvik_ac.exe"'
  ${EndIf}
SectionEnd

Function un.onInit
  Push "/PURGE"
  Call un.SwitchValue
  Pop $R1
  ${IfNot} ${Errors}
    StrCpy $Purge "1"
  ${EndIf}
FunctionEnd

Section "Uninstall"
  SetShellVarContext current
  !insertmacro StopClient
  Delete "$INSTDIR\marvik_ac.exe"
  Delete "$INSTDIR\marvik_ac.cfg.example"
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
