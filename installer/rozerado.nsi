; The Windows installer of ROZERADO.DLL, built by scripts/package. The
; modules' paths and every name, text, version and GUID below come from the
; include file that script writes from the module's version block
; (host/Version.rc, host/ProductVersion.h) and registration sources
; (host/rozerado.rgs, host/rozerado.idl); none is written here by hand.
; DELETE_INTERFACE_KEYS removes the type library's interface keys.
;
; The installer is a 32-bit program. On 32-bit Windows it installs the
; 32-bit module; on 64-bit Windows it installs both: the 32-bit module under
; the 32-bit Program Files folder for 32-bit hosts and the 64-bit module under
; the 64-bit one for 64-bit hosts. Each module registers the ActiveX control
; through its own DllRegisterServer, the 32-bit one in the registry's 32-bit
; view and the 64-bit one (through the 64-bit regsvr32) in the 64-bit view.
; The plug-in is registered under HKLM\Software\MozillaPlugins, where browsers
; look for plug-ins on Windows, in each view with that view's module. An
; uninstaller with its entry in "Add or remove programs" undoes each of these
; and nothing else. Both run silently with /S.

Unicode true
!include "LogicLib.nsh"
!include "x64.nsh"
!include "${PRODUCT_NSH}"

!define PLUGIN_KEY "Software\MozillaPlugins\@${COMPANY}/HotspotViewer"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${INTERNAL_NAME}"
!define UNINSTALLER "uninstall.exe"
; The 64-bit module's folder, on 64-bit Windows only.
!define INSTDIR64 "$PROGRAMFILES64\${INTERNAL_NAME}"

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

; The plug-in key of the registry view in force, naming MODULE_PATH.
!macro WRITE_PLUGIN_KEY MODULE_PATH
    WriteRegStr HKLM "${PLUGIN_KEY}" "Path" "${MODULE_PATH}"
    WriteRegStr HKLM "${PLUGIN_KEY}" "Description" "${DESCRIPTION}"
    WriteRegStr HKLM "${PLUGIN_KEY}" "ProductName" "${PRODUCT_NAME}"
    WriteRegStr HKLM "${PLUGIN_KEY}" "Vendor" "${COMPANY}"
    WriteRegStr HKLM "${PLUGIN_KEY}" "Version" "${VERSION}"
    WriteRegStr HKLM "${PLUGIN_KEY}\MimeTypes\${MIME_TYPE}" "Description" "${MIME_DESCRIPTION}"
    WriteRegStr HKLM "${PLUGIN_KEY}\MimeTypes\${MIME_TYPE}" "Suffixes" "${SUFFIXES}"
!macroend

; Runs the 64-bit regsvr32 on the 64-bit module (ARGS "/s" or "/s /u"); the
; error flag is set when it fails. A 32-bit program sees the 64-bit system
; folder only with the file system redirection off.
!macro REGSVR64 ARGS
    ${DisableX64FSRedirection}
    ClearErrors
    ExecWait '"$SYSDIR\regsvr32.exe" ${ARGS} "${INSTDIR64}\${MODULE_NAME}"' $9
    ${EnableX64FSRedirection}
    ${If} ${Errors}
    ${OrIf} $9 != 0
        SetErrors
    ${EndIf}
!macroend

; The control's entries of the registry view in force, removed by hand, but
; only while they still name REGISTERED (the module this installation
; registered in that view): for an uninstall without the module.
!macro REMOVE_CONTROL_KEYS REGISTERED
    ReadRegStr $1 HKCR "CLSID\${CLSID}\InprocServer32" ""
    ${If} $1 != ""
    ${AndIf} $1 == ${REGISTERED}
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
!macroend

Section "Install"
    SetRegView 32
    SetOutPath "$INSTDIR"
    SetOverwrite on
    ClearErrors
    File "/oname=${MODULE_NAME}" "${MODULE}"
    ${If} ${Errors}
        MessageBox MB_OK|MB_ICONSTOP "Cannot write $INSTDIR\${MODULE_NAME}. Close the programs that use it and try again." /SD IDOK
        SetErrorLevel 2
        Quit
    ${EndIf}
    ${If} ${RunningX64}
        SetOutPath "${INSTDIR64}"
        ClearErrors
        File "/oname=${MODULE_NAME}" "${MODULE64}"
        ${If} ${Errors}
            MessageBox MB_OK|MB_ICONSTOP "Cannot write ${INSTDIR64}\${MODULE_NAME}. Close the programs that use it and try again." /SD IDOK
            Delete "$INSTDIR\${MODULE_NAME}"
            RMDir "$INSTDIR"
            SetErrorLevel 2
            Quit
        ${EndIf}
        SetOutPath "$INSTDIR"
    ${EndIf}
    WriteUninstaller "$INSTDIR\${UNINSTALLER}"

    ; The control: each module writes its own COM entries, the 32-bit one
    ; here in the installer's (32-bit) process.
    ClearErrors
    RegDLL "$INSTDIR\${MODULE_NAME}"
    ${If} ${Errors}
        MessageBox MB_OK|MB_ICONSTOP "The ActiveX control in $INSTDIR\${MODULE_NAME} could not be registered." /SD IDOK
        Goto failed
    ${EndIf}
    ${If} ${RunningX64}
        !insertmacro REGSVR64 "/s"
        ${If} ${Errors}
            MessageBox MB_OK|MB_ICONSTOP "The ActiveX control in ${INSTDIR64}\${MODULE_NAME} could not be registered." /SD IDOK
            UnRegDLL "$INSTDIR\${MODULE_NAME}"
            Goto failed
        ${EndIf}
    ${EndIf}

    ; The plug-in, where browsers of the plug-in era look for it: in each
    ; view, the module its hosts can load.
    !insertmacro WRITE_PLUGIN_KEY "$INSTDIR\${MODULE_NAME}"
    ${If} ${RunningX64}
        SetRegView 64
        !insertmacro WRITE_PLUGIN_KEY "${INSTDIR64}\${MODULE_NAME}"
        ReadRegStr $0 HKCR "CLSID\${CLSID}\InprocServer32" ""
        SetRegView 32
        WriteRegStr HKLM "${UNINSTALL_KEY}" "RegisteredModule64" "$0"
    ${EndIf}

    ; "Add or remove programs". RegisteredModule (and RegisteredModule64)
    ; keep the module path the control was registered with in each view, for
    ; an uninstall without the module.
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
    Return

failed:
    Delete "$INSTDIR\${MODULE_NAME}"
    Delete "$INSTDIR\${UNINSTALLER}"
    RMDir "$INSTDIR"
    ${If} ${RunningX64}
        Delete "${INSTDIR64}\${MODULE_NAME}"
        RMDir "${INSTDIR64}"
    ${EndIf}
    SetErrorLevel 2
    Quit
SectionEnd

Section "Uninstall"
    SetRegView 32
    ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "RegisteredModule"
    ReadRegStr $3 HKLM "${UNINSTALL_KEY}" "RegisteredModule64"

    ; The control: each module removes its own COM entries. Without the
    ; module (deleted by hand) or when that fails, remove them here.
    ClearErrors
    ${If} ${FileExists} "$INSTDIR\${MODULE_NAME}"
        UnRegDLL "$INSTDIR\${MODULE_NAME}"
    ${Else}
        SetErrors
    ${EndIf}
    ${If} ${Errors}
        !insertmacro REMOVE_CONTROL_KEYS $0
    ${EndIf}
    ${If} ${RunningX64}
        SetRegView 64
        ${If} ${FileExists} "${INSTDIR64}\${MODULE_NAME}"
            !insertmacro REGSVR64 "/s /u"
        ${Else}
            SetErrors
        ${EndIf}
        ${If} ${Errors}
            !insertmacro REMOVE_CONTROL_KEYS $3
        ${EndIf}
        ; Our own keys only: MozillaPlugins is shared.
        DeleteRegKey HKLM "${PLUGIN_KEY}"
        SetRegView 32
        Delete "${INSTDIR64}\${MODULE_NAME}"
        RMDir "${INSTDIR64}"
    ${EndIf}

    ; Our own keys only: MozillaPlugins and the Uninstall key's parents are shared.
    DeleteRegKey HKLM "${PLUGIN_KEY}"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"

    Delete "$INSTDIR\${MODULE_NAME}"
    Delete "$INSTDIR\${UNINSTALLER}"
    RMDir "$INSTDIR"
SectionEnd
