; The Windows installer of Velotrax, velotrax-VERSION-setup.exe, made by the Windows build
; (cmake/windows-installer.cmake) with Debian's makensis:
;   makensis -DVERSION=1.0 -DFILE_VERSION=1.0.0.0 -DPROGRAMS=DIR -DOUTFILE=FILE [-DICON=FILE]
;            windows-installer.nsi
; where DIR holds velotrax.exe, velotrax-cli.exe, velotrax-demo-emulator.exe and README.txt.
;
; It installs the programs for every user into Program Files\Velotrax, puts Velotrax in the
; Start menu and registers the uninstaller in Add/Remove Programs. Started from the Start menu,
; Velotrax works in the user's own workspace, %LOCALAPPDATA%\Velotrax, which it makes on first
; use. The workspace holds the user's emulator, settings and scores: the uninstaller leaves it.
; Both take /S (silent); the installer also /D=FOLDER, last on its command line.

!macro Require NAME
  !ifndef ${NAME}
    !error "give -D${NAME}= to makensis"
  !endif
!macroend
!insertmacro Require VERSION
!insertmacro Require FILE_VERSION
!insertmacro Require PROGRAMS
!insertmacro Require OUTFILE

Unicode true
; A 64-bit installer: it installs 64-bit programs, sees the 64-bit Program Files folder and
; registry, and runs under a 64-bit-only Wine (Debian's makensis builds a 32-bit one otherwise).
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestDPIAware true

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Velotrax"
!define WORKSPACE_OPTION "--user-workspace"

Name "Velotrax ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Velotrax"
; A new version goes where the one before it is.
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "Velotrax ${VERSION}"

!include "MUI2.nsh"
!include "FileFunc.nsh"
!ifdef ICON
  !define MUI_ICON "${ICON}"
  !define MUI_UNICON "${ICON}"
!endif
!define MUI_FINISHPAGE_NOAUTOCLOSE
!define MUI_FINISHPAGE_TEXT "Velotrax is in the Start menu. Started from there, it works in your own folder $\"%LOCALAPPDATA%\Velotrax$\": put your emulator there as mame.exe and its game files in its roms folder."
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; No copyright line of the installer's own: the README says who made what.
!pragma warning disable 9100
VIProductVersion "${FILE_VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "Velotrax"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "Velotrax ${VERSION} setup"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${VERSION}"

; For every user: the Start-menu entry in the common Start menu, the registry in HKLM's 64-bit
; view, both in the installer and in the uninstaller.
!macro ForEveryUser
  SetShellVarContext all
  SetRegView 64
!macroend

Function .onInit
  !insertmacro ForEveryUser
FunctionEnd

Function un.onInit
  !insertmacro ForEveryUser
FunctionEnd

Section "Velotrax"
  SetOutPath "$INSTDIR"
  File "${PROGRAMS}/velotrax.exe"
  File "${PROGRAMS}/velotrax-cli.exe"
  File "${PROGRAMS}/velotrax-demo-emulator.exe"
  File "${PROGRAMS}/README.txt"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateShortcut "$SMPROGRAMS\Velotrax.lnk" "$INSTDIR\velotrax.exe" "${WORKSPACE_OPTION}" \
    "$INSTDIR\velotrax.exe" 0 SW_SHOWNORMAL "" \
    "Measure how fast an arcade emulator runs on this computer"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Velotrax"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\velotrax.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Comments" \
    "Your workspace %LOCALAPPDATA%\Velotrax with your scores stays when Velotrax is removed."
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

; Removes what the installer put there, and nothing else: the workspaces of the users, and any
; file someone put into the program's folder, stay. A program still running is removed at the
; next restart.
Section "Uninstall"
  Delete "$SMPROGRAMS\Velotrax.lnk"
  Delete /REBOOTOK "$INSTDIR\velotrax.exe"
  Delete /REBOOTOK "$INSTDIR\velotrax-cli.exe"
  Delete /REBOOTOK "$INSTDIR\velotrax-demo-emulator.exe"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\uninstall.exe"
  RMDir /REBOOTOK "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
