; The Windows installer: installs for the current user without administrator rights, adds a
; Start-menu entry and an uninstaller, and installs silently with /S.
;   makensis -DVERSION=1.0.0 -DSOURCE=<portable folder> -DOUTFILE=<setup.exe> installer.nsi
Unicode true
Name "Parlorix Suite"
OutFile "${OUTFILE}"
RequestExecutionLevel user
InstallDir "$LOCALAPPDATA\Programs\Parlorix Suite"
SetCompressor /SOLID lzma

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Parlorix Suite"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Parlorix Suite"
    SetShellVarContext current
    SetOutPath "$INSTDIR"
    ; The whole portable folder: parlorix.exe, and parlorix-cli.exe beside it for the command line.
    File /r "${SOURCE}\*.*"
    WriteUninstaller "$INSTDIR\Uninstall.exe"
    CreateShortCut "$SMPROGRAMS\Parlorix Suite.lnk" "$INSTDIR\parlorix.exe"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Parlorix Suite"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "Corvantix"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\parlorix.exe"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
    SetShellVarContext current
    Delete "$SMPROGRAMS\Parlorix Suite.lnk"
    RMDir /r "$INSTDIR"
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
