; A sample installer that reports its setup run through TEV: the start, the phases, the product
; it installs, and how the run ended. It installs nothing itself; the product's files would be
; laid down where the sections say so.
;
; Build it with `makensis examples/nsis/sample.nsi` from the SDK's folder, or `makensis sample.nsi`
; from this one: makensis reads the script in its own folder, so the paths below are from here,
; and StudioSetup.exe is made here.
; TEV.dll and the analytics library (KV8.dll; the SDK's stand-in for testing) travel inside the
; installer and are unpacked into its plug-ins directory, where TEV.nsh calls them.
Unicode true
Name "Studio"
OutFile "StudioSetup.exe"
RequestExecutionLevel user
InstallDir "$PROGRAMFILES\Studio"

!define /ifndef TEV_DLL "../../bin/TEV.dll"
!define /ifndef KV8_DLL "../../standin/KV8.dll"
!addincludedir "../../nsis"
!include "TEV.nsh"

Page directory
Page instfiles

Function .onInit
  InitPluginsDir
  File "/oname=$PLUGINSDIR\TEV.dll" "${TEV_DLL}"
  File "/oname=$PLUGINSDIR\KV8.dll" "${KV8_DLL}"
  ; The log (Setup_TEV.log in the user's temporary directory) helps support; 0 turns it off.
  ${TEV_InitML} 1 $0
  ${TEV_AddAttributeToSetupText} "setup.version" "1.0.0" $0
  ${TEV_AddAttributeToSetupInt} "setup.silent" 1 $0
  ${TEV_wpSetupPhase} ${TEV_eInitialization} 1
  ${TEV_wpSetupPhase} ${TEV_eInitialization} 0
FunctionEnd

Section "Studio"
  ${TEV_wpSetupPhase} ${TEV_eInstallation} 1
  ${TEV_AddContent} "Studio" "Core" "$INSTDIR\core.msi" $0
  ${TEV_AddFeature} "Studio" "Help" 3 $0
  ${TEV_AddLang} "Studio" "en-US" 1 $0
  ${TEV_InstallBegin} "Studio"
  ; The product's files would be installed here.
  ${TEV_InstallEnd} "Studio"
  ${TEV_wpSetupPhase} ${TEV_eInstallation} 0
SectionEnd

; Every way the run ends is reported: ShutdownML sends what was added. Then TEV.dll and KV8.dll are
; let go, so that the installer can delete its plug-ins directory: at the end of .onInstSuccess and
; .onInstFailed (a silent install ends there) and in .onGUIEnd (the installer's window closed).
Function .onInstSuccess
  ${TEV_ShutdownML} $0
  ${TEV_Release}
FunctionEnd

Function .onInstFailed
  ${TEV_InstallError} "Studio" "the installation failed"
  ${TEV_ShutdownML} $0
  ${TEV_Release}
FunctionEnd

Function .onUserAbort
  ${TEV_InstallCancel} "Studio"
  ${TEV_ShutdownML} $0
FunctionEnd

Function .onGUIEnd
  ${TEV_Release}
FunctionEnd
