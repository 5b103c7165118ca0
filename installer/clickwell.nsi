; Setup of both plug-ins: kwhid_gen.dll goes into Winamp's Plugins folder as gen_kwhid.dll,
; kwhid_wmp.dll into our own program folder, where it is registered as a COM server and made
; known to Windows Media Player as a UI plug-in.
;
; Built by installer/CMakeLists.txt, whose KW_BUILD_CONFIG file defines:
;   KW_VERSION    the four-part product version
;   KW_GEN_DLL    KW_WMP_DLL    the plug-ins to ship (the dist/ copies)
;   KW_WMP_CLSID  the COM server's class id, in braces; empty while the server has none
;   KW_OUTFILE    the setup program to write
;
; Command line, besides NSIS's own /S and /D=<program folder> (always last, unquoted):
;   /WINAMP=<folder>   Winamp's folder, quoted when it holds blanks.
;
; The installer is 32-bit and so are both plug-ins: on 64-bit Windows every registry key
; here lands in the 32-bit view, which is the one 32-bit Winamp and Windows Media Player read.

!include "${KW_BUILD_CONFIG}"

Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include WinVer.nsh
!include WinMessages.nsh

!define PRODUCT "Clickwell"
!define PUBLISHER "Orlanvale"
!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Clickwell"
!define UIPLUGINS_KEY "SOFTWARE\Microsoft\MediaPlayer\UIPlugins"
; Background plug-in (0x1) with a property page (0x80000000).
!define WMP_CAPABILITIES 0x80000001
!define SMTO_ABORTIFHUNG 0x0002

Name "${PRODUCT}"
OutFile "${KW_OUTFILE}"
InstallDir "$PROGRAMFILES\${PRODUCT}"
InstallDirRegKey HKLM "${UNINST_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${KW_VERSION}"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${KW_VERSION}"
VIFileVersion "${KW_VERSION}"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${KW_VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${KW_VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "${PUBLISHER}"

Var WinampDir

!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_SMALLDESC
!insertmacro MUI_PAGE_COMPONENTS

!define MUI_PAGE_HEADER_TEXT "Program folder"
!define MUI_PAGE_HEADER_SUBTEXT "Where the Windows Media Player plug-in and the uninstaller go."
!define MUI_DIRECTORYPAGE_TEXT_TOP "Setup installs the Windows Media Player plug-in of ${PRODUCT} and its uninstaller into the following folder."
!define MUI_DIRECTORYPAGE_TEXT_DESTINATION "Program folder"
!insertmacro MUI_PAGE_DIRECTORY

!define MUI_PAGE_HEADER_TEXT "Winamp folder"
!define MUI_PAGE_HEADER_SUBTEXT "Where Winamp is installed."
!define MUI_DIRECTORYPAGE_TEXT_TOP "Setup installs the Winamp plug-in as gen_kwhid.dll into the Plugins folder of this Winamp folder."
!define MUI_DIRECTORYPAGE_TEXT_DESTINATION "Winamp folder"
!define MUI_DIRECTORYPAGE_VARIABLE $WinampDir
!define MUI_PAGE_CUSTOMFUNCTION_PRE SkipWinampPageUnlessChosen
!insertmacro MUI_PAGE_DIRECTORY

!insertmacro MUI_PAGE_INSTFILES

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"

; Windows Media Player reads its plug-in list again when told so.
!macro TellMediaPlayer
    System::Call 'user32::RegisterWindowMessageW(w "WMPlayer_PluginAddRemove") i .r0'
    ${If} $0 <> 0
        System::Call 'user32::SendMessageTimeoutW(p ${HWND_BROADCAST}, i r0, p 0, p 0, i ${SMTO_ABORTIFHUNG}, i 5000, *p .r1)'
    ${EndIf}
!macroend

!macro RequireAdmin
    UserInfo::GetAccountType
    Pop $0
    ${If} $0 != "Admin"
        MessageBox MB_OK|MB_ICONSTOP "${PRODUCT} Setup needs administrator rights." /SD IDOK
        SetErrorLevel 740 ; ERROR_ELEVATION_REQUIRED
        Quit
    ${EndIf}
!macroend

Function .onInit
    StrCpy $0 ""
    ${IfNot} ${AtLeastWin7}
        StrCpy $0 "too old"
    ${ElseIf} ${IsWin7}
    ${AndIfNot} ${AtLeastServicePack} 1
        StrCpy $0 "too old"
    ${EndIf}
    ${If} $0 != ""
        MessageBox MB_OK|MB_ICONSTOP "${PRODUCT} needs Windows 7 Service Pack 1 or later." /SD IDOK
        Abort
    ${EndIf}
    !insertmacro RequireAdmin

    ; The Winamp folder: the command line's, else the one a previous setup used, else the
    ; one Winamp's own setup recorded, else the usual one.
    ${GetParameters} $R0
    ClearErrors
    ${GetOptions} $R0 "/WINAMP=" $WinampDir
    ${If} ${Errors}
    ${OrIf} $WinampDir == ""
        ReadRegStr $WinampDir HKLM "${UNINST_KEY}" "WinampFolder"
    ${EndIf}
    ${If} $WinampDir == ""
        ReadRegStr $WinampDir HKCU "Software\Winamp" ""
    ${EndIf}
    ${If} $WinampDir == ""
        ReadRegStr $WinampDir HKLM "Software\Winamp" ""
    ${EndIf}
    ${If} $WinampDir == ""
        StrCpy $WinampDir "$PROGRAMFILES\Winamp"
    ${EndIf}
FunctionEnd

; Written first, so that whatever a later step leaves half done can be removed again.
Section "-Uninstaller"
    SetOutPath "$INSTDIR"
    WriteUninstaller "$INSTDIR\uninstall.exe"
    WriteRegStr HKLM "${UNINST_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKLM "${UNINST_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegStr HKLM "${UNINST_KEY}" "DisplayVersion" "${KW_VERSION}"
    WriteRegStr HKLM "${UNINST_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKLM "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegDWORD HKLM "${UNINST_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINST_KEY}" "NoRepair" 1
SectionEnd

Section "Winamp plug-in" SecWinamp
    ; A reinstall into another Winamp folder: the uninstaller will know only the new one.
    ReadRegStr $0 HKLM "${UNINST_KEY}" "WinampFolder"
    ${If} $0 != ""
    ${AndIf} $0 != $WinampDir
        Delete "$0\Plugins\gen_kwhid.dll"
        RMDir "$0\Plugins"
        RMDir "$0"
    ${EndIf}
    SetOutPath "$WinampDir\Plugins"
    File "/oname=gen_kwhid.dll" "${KW_GEN_DLL}"
    ; The uninstaller finds the plug-in through it.
    WriteRegStr HKLM "${UNINST_KEY}" "WinampFolder" "$WinampDir"
SectionEnd

Section "Windows Media Player plug-in" SecWmp
    SetOutPath "$INSTDIR"
    File "${KW_WMP_DLL}"
    ClearErrors
    RegDLL "$INSTDIR\kwhid_wmp.dll"
    ${If} ${Errors}
        DetailPrint "kwhid_wmp.dll could not be registered"
        MessageBox MB_OK|MB_ICONSTOP "The Windows Media Player plug-in could not be registered (DllRegisterServer of $INSTDIR\kwhid_wmp.dll failed). The player will not list it." /SD IDOK
        SetErrorLevel 3
        Return
    ${EndIf}
!if "${KW_WMP_CLSID}" == ""
    DetailPrint "kwhid_wmp.dll has no class id: the player's plug-in entry is not written"
    MessageBox MB_OK|MB_ICONSTOP "This setup carries no class id for the Windows Media Player plug-in, so the player will not list it." /SD IDOK
    SetErrorLevel 3
!else
    WriteRegDWORD HKLM "${UIPLUGINS_KEY}\${KW_WMP_CLSID}" "Capabilities" ${WMP_CAPABILITIES}
    WriteRegStr HKLM "${UIPLUGINS_KEY}\${KW_WMP_CLSID}" "FriendlyName" "${PRODUCT}"
    WriteRegStr HKLM "${UIPLUGINS_KEY}\${KW_WMP_CLSID}" "Description" "Drives the player from the buttons of a HID remote control, keyboard or game pad."
    !insertmacro TellMediaPlayer
!endif
SectionEnd

!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
    !insertmacro MUI_DESCRIPTION_TEXT ${SecWinamp} "gen_kwhid.dll in Winamp's Plugins folder."
    !insertmacro MUI_DESCRIPTION_TEXT ${SecWmp} "kwhid_wmp.dll, registered with Windows Media Player."
!insertmacro MUI_FUNCTION_DESCRIPTION_END

Function SkipWinampPageUnlessChosen
    ${IfNot} ${SectionIsSelected} ${SecWinamp}
        Abort
    ${EndIf}
FunctionEnd

Function un.onInit
    !insertmacro RequireAdmin
FunctionEnd

; Takes back all that setup did; the users' settings files (Clickwell in their local
; application-data folders) stay.
Section "Uninstall"
    ReadRegStr $WinampDir HKLM "${UNINST_KEY}" "WinampFolder"
    ${If} $WinampDir != ""
        Delete /REBOOTOK "$WinampDir\Plugins\gen_kwhid.dll"
        ; Only when empty: the folders setup made for a Winamp that was not there.
        RMDir "$WinampDir\Plugins"
        RMDir "$WinampDir"
    ${EndIf}

    ${If} ${FileExists} "$INSTDIR\kwhid_wmp.dll"
        ClearErrors
        UnRegDLL "$INSTDIR\kwhid_wmp.dll"
        ${If} ${Errors}
            DetailPrint "kwhid_wmp.dll could not be unregistered"
        ${EndIf}
    ${EndIf}
!if "${KW_WMP_CLSID}" != ""
    DeleteRegKey HKLM "${UIPLUGINS_KEY}\${KW_WMP_CLSID}"
!endif
    !insertmacro TellMediaPlayer
    Delete /REBOOTOK "$INSTDIR\kwhid_wmp.dll"
    Delete "$INSTDIR\uninstall.exe"
    DeleteRegKey HKLM "${UNINST_KEY}"
    RMDir "$INSTDIR"
SectionEnd
