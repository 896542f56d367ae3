; The Windows installer: the agent's folder under Program Files, the machine-wide config.ini in ProgramData, the
; Start-menu entry, the start at every user's log-in, the browsers' permission for the web application to reach the
; agent, and an uninstaller registered in "Apps and features". /S installs and uninstalls silently.
;
; Built by scripts/empaquetar-windows.sh, which defines:
;   VERSION   the agent's version (1.1.0.0)
;   CARPETA   the deployed folder (build/windows/PluginTornavo)
;   CONFIG    the commented config.ini to install
;   ICONO     the agent's icon
;   SALIDA    the installer to write
;   DOMINIO   the web application's domain (DominioWeb)
;   SUMATRA   optional: SumatraPDF-3.5.2-32.exe, bundled when given

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include "MUI2.nsh"
!include "LogicLib.nsh"

!define NOMBRE "Plugin Tornavo"
!define CLAVE_DESINSTALAR "Software\Microsoft\Windows\CurrentVersion\Uninstall\PluginTornavo"
!define CLAVE_INICIO "Software\Microsoft\Windows\CurrentVersion\Run"
!define VALOR_INICIO "PluginTornavo"
!define VISOR "SumatraPDF-3.5.2-32.exe"
!define PATRON "https://[*.]${DOMINIO}"

Name "${NOMBRE} ${VERSION}"
OutFile "${SALIDA}"
InstallDir "$PROGRAMFILES64\${NOMBRE}"
BrandingText "${NOMBRE} ${VERSION}"
VIProductVersion "${VERSION}"
VIAddVersionKey /LANG=3082 "ProductName" "${NOMBRE}"
VIAddVersionKey /LANG=3082 "LegalCopyright" "Tornavo"
VIAddVersionKey /LANG=3082 "FileDescription" "Instalador de ${NOMBRE}"
VIAddVersionKey /LANG=3082 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=3082 "ProductVersion" "${VERSION}"

!define MUI_ICON "${ICONO}"
!define MUI_UNICON "${ICONO}"
!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Spanish"

; The browsers read their managed policies from the 64-bit registry; settings and shortcuts are for every user.
Function .onInit
    SetRegView 64
    SetShellVarContext all
FunctionEnd

Function un.onInit
    SetRegView 64
    SetShellVarContext all
FunctionEnd

; A policy list holds one numbered value per pattern. The pattern goes in the first free number, unless an
; administrator's list already holds it.
!macro AgregarALista LISTA
    Push $0
    Push $1
    StrCpy $0 1
    ${Do}
        ClearErrors
        ReadRegStr $1 HKLM "${LISTA}" "$0"
        ${If} ${Errors}
            WriteRegStr HKLM "${LISTA}" "$0" "${PATRON}"
            ${Break}
        ${EndIf}
        ${If} $1 == "${PATRON}"
            ${Break}
        ${EndIf}
        IntOp $0 $0 + 1
    ${Loop}
    Pop $1
    Pop $0
!macroend

; Takes the pattern out of a list, leaving the administrator's own entries, and the list itself once empty.
!macro QuitarDeLista LISTA
    Push $0
    Push $1
    Push $2
    StrCpy $0 0
    ${Do}
        ClearErrors
        EnumRegValue $1 HKLM "${LISTA}" $0
        ${If} ${Errors}
        ${OrIf} $1 == ""
            ${Break}
        ${EndIf}
        ReadRegStr $2 HKLM "${LISTA}" "$1"
        ${If} $2 == "${PATRON}"
            DeleteRegValue HKLM "${LISTA}" "$1"
            StrCpy $0 0 ; the values are numbered afresh after a deletion
        ${Else}
            IntOp $0 $0 + 1
        ${EndIf}
    ${Loop}
    DeleteRegKey /ifempty HKLM "${LISTA}"
    Pop $2
    Pop $1
    Pop $0
!macroend

!macro Politicas ACCION
    !insertmacro ${ACCION} "SOFTWARE\Policies\Google\Chrome\LocalNetworkAccessAllowedForUrls"
    !insertmacro ${ACCION} "SOFTWARE\Policies\Google\Chrome\LoopbackNetworkAllowedForUrls"
    !insertmacro ${ACCION} "SOFTWARE\Policies\Microsoft\Edge\LocalNetworkAccessAllowedForUrls"
    !insertmacro ${ACCION} "SOFTWARE\Policies\Microsoft\Edge\LoopbackNetworkAllowedForUrls"
!macroend

Section "${NOMBRE}"
    ; An agent of an earlier version lets go of its files first; it asks nothing and waits for it to end.
    ${If} ${FileExists} "$INSTDIR\plugin-tornavo.exe"
        ExecWait '"$INSTDIR\plugin-tornavo.exe" --detener'
    ${EndIf}

    SetOutPath "$INSTDIR"
    ; No config.ini beside the executable: that is what makes the agent an installed one.
    File /r /x config.ini "${CARPETA}\*"
!ifdef SUMATRA
    File "/oname=${VISOR}" "${SUMATRA}"
!endif

    ; Edited by the administrator, so an upgrade keeps it.
    CreateDirectory "$APPDATA\${NOMBRE}"
    ${IfNot} ${FileExists} "$APPDATA\${NOMBRE}\config.ini"
        SetOutPath "$APPDATA\${NOMBRE}"
        File "/oname=config.ini" "${CONFIG}"
        SetOutPath "$INSTDIR"
    ${EndIf}
    ; The default CSV data folder.
    CreateDirectory "C:\tornavo"

    CreateShortcut "$SMPROGRAMS\${NOMBRE}.lnk" "$INSTDIR\plugin-tornavo.exe"
    ; Every user's session starts its own agent, behind its tray icon.
    WriteRegStr HKLM "${CLAVE_INICIO}" "${VALOR_INICIO}" '"$INSTDIR\plugin-tornavo.exe" --bandeja'
    !insertmacro Politicas AgregarALista

    WriteUninstaller "$INSTDIR\desinstalar.exe"
    WriteRegStr HKLM "${CLAVE_DESINSTALAR}" "DisplayName" "${NOMBRE}"
    WriteRegStr HKLM "${CLAVE_DESINSTALAR}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${CLAVE_DESINSTALAR}" "Publisher" "Tornavo"
    WriteRegStr HKLM "${CLAVE_DESINSTALAR}" "DisplayIcon" "$INSTDIR\plugin-tornavo.exe"
    WriteRegStr HKLM "${CLAVE_DESINSTALAR}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${CLAVE_DESINSTALAR}" "UninstallString" '"$INSTDIR\desinstalar.exe"'
    WriteRegStr HKLM "${CLAVE_DESINSTALAR}" "QuietUninstallString" '"$INSTDIR\desinstalar.exe" /S'
    WriteRegDWORD HKLM "${CLAVE_DESINSTALAR}" "NoModify" 1
    WriteRegDWORD HKLM "${CLAVE_DESINSTALAR}" "NoRepair" 1

    ${IfNot} ${FileExists} "$INSTDIR\${VISOR}"
        DetailPrint "Para imprimir hace falta ${VISOR} en $INSTDIR"
        MessageBox MB_OK|MB_ICONINFORMATION "Para imprimir, copie ${VISOR} en:$\r$\n$INSTDIR" /SD IDOK
    ${EndIf}
SectionEnd

Section "Uninstall"
    ExecWait '"$INSTDIR\plugin-tornavo.exe" --detener'

    ; Only what the installer put here: a folder chosen by hand may hold other files.
    Delete "$INSTDIR\plugin-tornavo.exe"
    Delete "$INSTDIR\${VISOR}"
    Delete "$INSTDIR\*.dll"
    Delete "$INSTDIR\LEEME-Qt.txt"
    RMDir /r "$INSTDIR\platforms"
    RMDir /r "$INSTDIR\styles"
    Delete "$INSTDIR\desinstalar.exe"
    RMDir "$INSTDIR"
    Delete "$APPDATA\${NOMBRE}\config.ini"
    RMDir "$APPDATA\${NOMBRE}"
    Delete "$SMPROGRAMS\${NOMBRE}.lnk"

    DeleteRegValue HKLM "${CLAVE_INICIO}" "${VALOR_INICIO}"
    !insertmacro Politicas QuitarDeLista
    DeleteRegKey HKLM "${CLAVE_DESINSTALAR}"
SectionEnd
