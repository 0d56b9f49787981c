; The Windows installer of KOBITO Motion, built by scripts/package --windows:
;   makensis -DVERSION=1.10 -DSTAGE=<folder of the program's files>
;            -DLISTS=<folder of files.nsh and unfiles.nsh> -DICON=<.ico>
;            -DOUTFILE=<setup.exe> kobito-motion.nsi
; Installs for every user of the machine (Program Files, administrator), adds
; a Start-menu entry, an entry in Add/Remove Programs and the motion-file
; type (.kmf). /S installs and uninstalls silently; /D=<folder> sets the
; folder. Uninstalling removes exactly the files installed; the users'
; settings in their own folders stay.

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestSupportedOS Win10
ManifestDPIAware true

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include x64.nsh

!define PRODUCT "KOBITO Motion"
!define PUBLISHER "KOBITO Motion maintainers"
!define EXE "kobito-motion.exe"
!define UNINSTALLER "uninstall.exe"
!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\KOBITO Motion"
!define PROGID "KobitoMotion.MotionFile"
; SHCNE_ASSOCCHANGED, SHCNF_IDLIST
!define NOTIFY_ASSOCIATIONS "shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
InstallDirRegKey HKLM "${UNINST_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${VERSION}"
ShowInstDetails nevershow
ShowUninstDetails nevershow

VIProductVersion "${VERSION}.0.0"
VIFileVersion "${VERSION}.0.0"
VIAddVersionKey /LANG=0 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=0 "FileDescription" "${PRODUCT} ${VERSION} Setup"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "LegalCopyright" "Copyright (c) 2026 The KOBITO Motion authors"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

; The first is the fallback; otherwise the user's display language chooses.
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "Japanese"

LangString NeedsX64 ${LANG_ENGLISH} "${PRODUCT} needs a 64-bit Windows."
LangString NeedsX64 ${LANG_JAPANESE} "${PRODUCT} は 64 ビット版の Windows が必要です。"
LangString FileType ${LANG_ENGLISH} "KOBITO motion file"
LangString FileType ${LANG_JAPANESE} "KOBITO モーションファイル"

Function .onInit
  ${IfNot} ${RunningX64}
    MessageBox MB_OK|MB_ICONSTOP "$(NeedsX64)" /SD IDOK
    Abort
  ${EndIf}
  SetRegView 64
  SetShellVarContext all
FunctionEnd

Function un.onInit
  SetRegView 64
  SetShellVarContext all
FunctionEnd

Section "Install"
  ; An earlier copy goes first, wherever it was, so that no file of it that
  ; this version lacks stays behind. _?= keeps its uninstaller in place and
  ; makes us wait for it.
  ReadRegStr $0 HKLM "${UNINST_KEY}" "InstallLocation"
  ${If} $0 != ""
  ${AndIf} ${FileExists} "$0\${UNINSTALLER}"
    ExecWait '"$0\${UNINSTALLER}" /S _?=$0'
    Delete "$0\${UNINSTALLER}"
    RMDir "$0"
  ${EndIf}

  !include "${LISTS}\files.nsh"
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"

  CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\${EXE}" "" "$INSTDIR\${EXE}" 0

  WriteRegStr HKLM "${UNINST_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINST_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayIcon" "$INSTDIR\${EXE},0"
  WriteRegStr HKLM "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINST_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKLM "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINST_KEY}" "EstimatedSize" $0

  ; Motion files open with the program; a double-click passes the path.
  WriteRegStr HKLM "Software\Classes\${PROGID}" "" "$(FileType)"
  WriteRegStr HKLM "Software\Classes\${PROGID}\DefaultIcon" "" "$INSTDIR\${EXE},0"
  WriteRegStr HKLM "Software\Classes\${PROGID}\shell\open\command" "" '"$INSTDIR\${EXE}" "%1"'
  WriteRegStr HKLM "Software\Classes\.kmf" "" "${PROGID}"
  WriteRegStr HKLM "Software\Classes\.kmf\OpenWithProgids" "${PROGID}" ""
  System::Call '${NOTIFY_ASSOCIATIONS}'
SectionEnd

Section "Uninstall"
  !include "${LISTS}\unfiles.nsh"
  Delete "$INSTDIR\${UNINSTALLER}"
  ; Only if empty: a file someone put there (a prepared settings file) stays.
  RMDir "$INSTDIR"

  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  DeleteRegKey HKLM "${UNINST_KEY}"

  DeleteRegKey HKLM "Software\Classes\${PROGID}"
  DeleteRegValue HKLM "Software\Classes\.kmf\OpenWithProgids" "${PROGID}"
  ReadRegStr $0 HKLM "Software\Classes\.kmf" ""
  ${If} $0 == "${PROGID}"
    DeleteRegValue HKLM "Software\Classes\.kmf" ""
  ${EndIf}
  DeleteRegKey /ifempty HKLM "Software\Classes\.kmf\OpenWithProgids"
  DeleteRegKey /ifempty HKLM "Software\Classes\.kmf"
  System::Call '${NOTIFY_ASSOCIATIONS}'
SectionEnd
