; Clipmend's installer, made by tools/package.sh with makensis: Clipmend and its tool folder in
; Program Files, a Start-menu shortcut for all users, and an uninstaller listed under Add/Remove
; Programs that removes what the installer made. Both run silently with /S.
; package.sh defines VERSION, PUBLISHER, STAGE (the folder holding the files) and OUTFILE.

Unicode true
!include LogicLib.nsh
SetCompressor /SOLID lzma
ManifestSupportedOS all

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Clipmend"

Name "Clipmend ${VERSION}"
OutFile "${OUTFILE}"
; Clipmend and MP4Box run as administrator: only administrators may change their folder.
RequestExecutionLevel admin
InstallDir "$PROGRAMFILES\Clipmend"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "Clipmend"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "Clipmend ${VERSION} Setup"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "LegalCopyright" "Copyright (C) ${PUBLISHER}"

Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

!macro RequireAdmin
    UserInfo::GetAccountType
    Pop $0
    ${If} $0 != "admin"
        MessageBox MB_ICONSTOP "Installing or removing Clipmend needs administrator rights." \
            /SD IDOK
        SetErrorLevel 740 ; ERROR_ELEVATION_REQUIRED
        Quit
    ${EndIf}
!macroend

Function .onInit
    !insertmacro RequireAdmin
    SetShellVarContext all
FunctionEnd

Function un.onInit
    !insertmacro RequireAdmin
    SetShellVarContext all
FunctionEnd

Section "Clipmend"
    SetOutPath "$INSTDIR"
    File "${STAGE}/Clipmend.exe"
    File "${STAGE}/README.txt"
    SetOutPath "$INSTDIR\tool"
    File "${STAGE}/tool/ClipmendRebuild.exe"
    File "${STAGE}/tool/FFMPEG-COPYING.txt"
    File "${STAGE}/tool/FFMPEG-SOURCE.txt"
    File "${STAGE}/tool/MP4Box.exe"
    File "${STAGE}/tool/GPAC-COPYING.txt"
    File "${STAGE}/tool/GPAC-SOURCE.txt"
    SetOutPath "$INSTDIR"

    WriteUninstaller "$INSTDIR\Uninstall.exe"
    CreateShortcut "$SMPROGRAMS\Clipmend.lnk" "$INSTDIR\Clipmend.exe"

    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Clipmend"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Clipmend.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Only what the installer wrote: a file someone added to the folder keeps it, and the folder.
Section "Uninstall"
    Delete "$SMPROGRAMS\Clipmend.lnk"
    Delete "$INSTDIR\tool\ClipmendRebuild.exe"
    Delete "$INSTDIR\tool\FFMPEG-COPYING.txt"
    Delete "$INSTDIR\tool\FFMPEG-SOURCE.txt"
    Delete "$INSTDIR\tool\MP4Box.exe"
    Delete "$INSTDIR\tool\GPAC-COPYING.txt"
    Delete "$INSTDIR\tool\GPAC-SOURCE.txt"
    RMDir "$INSTDIR\tool"
    Delete "$INSTDIR\Clipmend.exe"
    Delete "$INSTDIR\README.txt"
    Delete "$INSTDIR\Uninstall.exe"
    RMDir "$INSTDIR"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
