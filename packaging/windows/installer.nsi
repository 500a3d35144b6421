; The Windows setup program: puts "Tolmar Vez.vst3" into the 64-bit Common Files VST3 folder, where every DAW looks,
; and registers an uninstaller under "Apps & features". Made by scripts/package-windows with Debian's makensis:
;   makensis -DVERSION=.. -DOUTFILE=.. -DICON=.. -DLICENSE=.. -DSIZE_KB=.. -DFILES=.. installer.nsi
; FILES names two lists generated from the staged bundle, in ${VST3_DIR}: FILES-install.nsh (SetOutPath and File)
; and FILES-uninstall.nsh (Delete, then RMDir deepest first, which leaves a folder that holds anything else), so
; the uninstaller removes exactly what was installed. /S installs and uninstalls silently.
; A 64-bit setup program, as the plug-in is 64-bit only: Windows on 32 bits refuses to start it.
Target amd64-unicode
ManifestDPIAware true
RequestExecutionLevel admin
SetCompressor /SOLID lzma

!include "MUI2.nsh"
!include "LogicLib.nsh"

!define PRODUCT "Tolmar Vez"
!define PUBLISHER "Orvane Company"
!define VST3_DIR "$COMMONFILES64\VST3"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\TolmarVez"
; The uninstaller and its icon live apart from the VST3 folder, which hosts scan.
!define SUPPORT_DIR "$PROGRAMFILES64\${PRODUCT}"
!define UNINSTALLER "${SUPPORT_DIR}\Uninstall ${PRODUCT}.exe"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "${VST3_DIR}"
BrandingText "${PUBLISHER}"
Icon "${ICON}"
UninstallIcon "${ICON}"
VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "FileDescription" "${PRODUCT} ${VERSION} setup (64-bit VST3)"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "GNU General Public License, version 3 or later"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_FINISHPAGE_TEXT "${PRODUCT} is in $INSTDIR.$\r$\n$\r$\nLet your DAW rescan its VST3 plug-ins: ${PRODUCT} appears as an effect from ${PUBLISHER}."
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_LICENSE "${LICENSE}"
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Function .onInit
    SetRegView 64
FunctionEnd

Function un.onInit
    SetRegView 64
FunctionEnd

Section "${PRODUCT}"
    ; The VST3 folder is removed again on uninstalling only when this installation made it (and it is empty).
    StrCpy $0 0
    ${IfNot} ${FileExists} "${VST3_DIR}\*.*"
        StrCpy $0 1
    ${EndIf}
    !include "${FILES}-install.nsh"
    SetOutPath "${SUPPORT_DIR}"
    File "/oname=${PRODUCT}.ico" "${ICON}"
    WriteUninstaller "${UNINSTALLER}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "${SUPPORT_DIR}\${PRODUCT}.ico"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "${VST3_DIR}\${PRODUCT}.vst3"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"${UNINSTALLER}"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"${UNINSTALLER}" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" ${SIZE_KB}
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
    ; An earlier installation's record stands: that one made the folder.
    ReadRegDWORD $1 HKLM "${UNINSTALL_KEY}" "MadeVst3Folder"
    ${If} $1 != 1
        WriteRegDWORD HKLM "${UNINSTALL_KEY}" "MadeVst3Folder" $0
    ${EndIf}
SectionEnd

Section "Uninstall"
    !include "${FILES}-uninstall.nsh"
    ReadRegDWORD $0 HKLM "${UNINSTALL_KEY}" "MadeVst3Folder"
    ${If} $0 == 1
        RMDir "${VST3_DIR}" ; only when no other plug-in is left in it
    ${EndIf}
    Delete "${SUPPORT_DIR}\${PRODUCT}.ico"
    Delete "${UNINSTALLER}"
    RMDir "${SUPPORT_DIR}"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
