; The Windows installer of ROZERADO.DLL, built by scripts/package. The
; module's path and every name, text and GUID below come from the include
; file that script writes from the module's version block (host/Version.rc)
; and registration sources (host/rozerado.rgs, host/rozerado.idl); none is
; written here by hand. DELETE_INTERFACE_KEYS removes the type library's
; interface keys.
;
; It copies the module into a folder under Program Files, registers the
; ActiveX control through the module's own DllRegisterServer, registers the
; plug-in under HKLM\Software\MozillaPlugins, where browsers look for
; plug-ins on Windows, and adds an uninstaller with its entry in "Add or
; remove programs". The uninstaller undoes each of these and nothing else.
; Both run silently with /S.

Unicode true
!include "LogicLib.nsh"
!include "${PRODUCT_NSH}"

!define PLUGIN_KEY "Software\MozillaPlugins\@${COMPANY}/HotspotViewer"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${INTERNAL_NAME}"
!define UNINSTALLER "uninstall.exe"

Name "${PRODUCT_NAME}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\${INTERNAL_NAME}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT_NAME}"
VIAddVersionKey /LANG=1033 "CompanyName" "${COMPANY}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "${COPYRIGHT}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT_NAME} setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Install"
    SetOutPath "$INSTDIR"
    SetOverwrite on
    ClearErrors
    File "/oname=${MODULE_NAME}" "${MODULE}"
    ${If} ${Errors}
        MessageBox MB_OK|MB_ICONSTOP "Cannot write $INSTDIR\${MODULE_NAME}. Close the browsers that use it and try again." /SD IDOK
        SetErrorLevel 2
        Quit
    ${EndIf}
    WriteUninstaller "$INSTDIR\${UNINSTALLER}"

    ; The control: the module writes its own COM entries.
    ClearErrors
    RegDLL "$INSTDIR\${MODULE_NAME}"
    ${If} ${Errors}
        MessageBox MB_OK|MB_ICONSTOP "The ActiveX control in $INSTDIR\${MODULE_NAME} could not be registered." /SD IDOK
        Delete "$INSTDIR\${MODULE_NAME}"
        Delete "$INSTDIR\${UNINSTALLER}"
        RMDir "$INSTDIR"
        SetErrorLevel 2
        Quit
    ${EndIf}

    ; The plug-in, where browsers of the plug-in era look for it.
    WriteRegStr HKLM "${PLUGIN_KEY}" "Path" "$INSTDIR\${MODULE_NAME}"
    WriteRegStr HKLM "${PLUGIN_KEY}" "Description" "${DESCRIPTION}"
    WriteRegStr HKLM "${PLUGIN_KEY}" "ProductName" "${PRODUCT_NAME}"
    WriteRegStr HKLM "${PLUGIN_KEY}" "Vendor" "${COMPANY}"
    WriteRegStr HKLM "${PLUGIN_KEY}" "Version" "${VERSION}"
    WriteRegStr HKLM "${PLUGIN_KEY}\MimeTypes\${MIME_TYPE}" "Description" "${MIME_DESCRIPTION}"
    WriteRegStr HKLM "${PLUGIN_KEY}\MimeTypes\${MIME_TYPE}" "Suffixes" "${SUFFIXES}"

    ; "Add or remove programs". RegisteredModule keeps the module path the
    ; control was registered with, for an uninstall without the module.
    ReadRegStr $0 HKCR "CLSID\${CLSID}\InprocServer32" ""
    WriteRegStr HKLM "${UNINSTALL_KEY}" "RegisteredModule" "$0"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT_NAME}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${COMPANY}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${MODULE_NAME}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
    ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "RegisteredModule"

    ; The control: the module removes its own COM entries. Without the module
    ; (deleted by hand) or when that fails, remove them here, but only while
    ; they still name the module this installation registered.
    ClearErrors
    ${If} ${FileExists} "$INSTDIR\${MODULE_NAME}"
        UnRegDLL "$INSTDIR\${MODULE_NAME}"
    ${Else}
        SetErrors
    ${EndIf}
    ${If} ${Errors}
        ReadRegStr $1 HKCR "CLSID\${CLSID}\InprocServer32" ""
        ${If} $1 != ""
        ${AndIf} $1 == $0
            DeleteRegKey HKCR "CLSID\${CLSID}"
            DeleteRegKey HKCR "${PROGID}"
            DeleteRegKey HKCR "${PROGID}.1"
            DeleteRegKey HKCR "TypeLib\${LIBID}"
            !insertmacro DELETE_INTERFACE_KEYS
            ReadRegStr $2 HKCR "MIME\Database\Content Type\${MIME_TYPE}" "CLSID"
            ${If} $2 == "${CLSID}"
                DeleteRegKey HKCR "MIME\Database\Content Type\${MIME_TYPE}"
            ${EndIf}
            ReadRegStr $2 HKCR ".${SUFFIXES}" "Content Type"
            ${If} $2 == "${MIME_TYPE}"
                DeleteRegKey HKCR ".${SUFFIXES}"
            ${EndIf}
        ${EndIf}
    ${EndIf}

    ; Our own keys only: MozillaPlugins and the Uninstall key's parents are shared.
    DeleteRegKey HKLM "${PLUGIN_KEY}"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"

    Delete "$INSTDIR\${MODULE_NAME}"
    Delete "$INSTDIR\${UNINSTALLER}"
    RMDir "$INSTDIR"
SectionEnd
