; The least an NSIS installer does to report its setup run through TEV. makensis reads the script
; in its own folder: the paths below are from here, and MinimalSetup.exe is made here. To ship,
; give it the maker's KV8.dll: makensis -DKV8_DLL=<the maker's KV8.dll> minimal.nsi
Unicode true
Name "Minimal"
OutFile "MinimalSetup.exe"
RequestExecutionLevel user

!define /ifndef TEV_DLL "../../bin/TEV.dll"
!define /ifndef KV8_DLL "../../standin/KV8.dll"  ; the stand-in: for trying out only
!addincludedir "../../nsis"
!include "TEV.nsh"

Function .onInit
  InitPluginsDir
  File "/oname=$PLUGINSDIR\TEV.dll" "${TEV_DLL}"
  File "/oname=$PLUGINSDIR\KV8.dll" "${KV8_DLL}"
  ${TEV_InitML} 1 $0  ; 1: write Setup_TEV.log in the temporary folder
FunctionEnd

Section "Minimal"
  ${TEV_wpSetupPhase} ${TEV_eInstallation} 1
  ; The product's files are installed here.
  ${TEV_wpSetupPhase} ${TEV_eInstallation} 0
SectionEnd

; The run is reported however the installer ends, then TEV.dll and KV8.dll are let go, so that
; the plug-ins directory can be deleted: .onInstSuccess and .onInstFailed (where a silent install
; ends), .onGUIEnd (where an installer with a window ends).
Function .onInstSuccess
  ${TEV_ShutdownML} $0
  ${TEV_Release}
FunctionEnd

Function .onInstFailed
  ${TEV_ShutdownML} $0
  ${TEV_Release}
FunctionEnd

Function .onGUIEnd
  ${TEV_Release}
FunctionEnd
