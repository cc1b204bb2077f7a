; The Windows installer: both programs, the README and the licences under Program Files,
; a Start-menu entry and an uninstaller. Built by scripts/pack-windows.sh with
; makensis -DVERSION=... -DSTAGE=<the zip's folder> -DOUTFILE=<installer>.
; A 64-bit installer for 64-bit programs (it runs where they run, Wine's wine64 included).
Target amd64-unicode
SetCompressor /SOLID lzma
Name "Orrin ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Orrin"
RequestExecutionLevel admin
Icon "${STAGE}\..\orrin-receiver.ico"
UninstallIcon "${STAGE}\..\orrin-receiver.ico"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Orrin"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File "${STAGE}\orrin-receiver.exe"
  File "${STAGE}\orrin-cast.exe"
  File "${STAGE}\README.txt"
  SetOutPath "$INSTDIR\licences"
  File "${STAGE}\licences\*.txt"
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateDirectory "$SMPROGRAMS\Orrin"
  CreateShortcut "$SMPROGRAMS\Orrin\Orrin Receiver.lnk" "$INSTDIR\orrin-receiver.exe"
  CreateShortcut "$SMPROGRAMS\Orrin\Uninstall Orrin.lnk" "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Orrin ${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\orrin-receiver.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  Delete "$SMPROGRAMS\Orrin\Orrin Receiver.lnk"
  Delete "$SMPROGRAMS\Orrin\Uninstall Orrin.lnk"
  RMDir "$SMPROGRAMS\Orrin"
  Delete "$INSTDIR\orrin-receiver.exe"
  Delete "$INSTDIR\orrin-cast.exe"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\licences\*.txt"
  RMDir "$INSTDIR\licences"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
