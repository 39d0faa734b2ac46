; Every entry through TEV.nsh: each once, as the build makes the calls from the list of entries
; (every_entry_once.nsh, and every_entry_once.tev for the tool), then the calls of every_entry.tev
; line for line, with texts and numbers at their edges; each result written to
; the file TEV_NSIS_RESULTS names as "Entry result" (1/0 for a bool, null where there is none).
Unicode true
Name "TEV every entry"
OutFile "every_entry.exe"
RequestExecutionLevel user
SilentInstall silent
!include "TEV.nsh"

!macro Record ENTRY RESULT
  FileWrite $R9 `${ENTRY} ${RESULT}$\r$\n`
!macroend
; Every entry once, as the build makes the calls from the list of entries.
!include "every_entry_once.nsh"

Section
  InitPluginsDir
  !ifdef TEV_DLL  ; left out to check what the macros give without TEV.dll
    File "/oname=$PLUGINSDIR\TEV.dll" "${TEV_DLL}"
    File "/oname=$PLUGINSDIR\KV8.dll" "${KV8_DLL}"
  !endif
  ReadEnvStr $R8 TEV_NSIS_RESULTS
  FileOpen $R9 $R8 w

  !insertmacro EveryEntryOnce
  ${TEV_InitML} 256 $0  ; any nonzero value is true, one whose low byte is 0 too
  !insertmacro Record InitML $0
  ${TEV_GetKV8UserId} $0
  !insertmacro Record GetKV8UserId `"$0"`
  ${TEV_AddAttributeToSetupText} "setup.version" "4.2.1" $0
  !insertmacro Record AddAttributeToSetup $0
  ${TEV_AddAttributeToSetupText} "price" "$$9.99; $\"approx.$\"" $0
  !insertmacro Record AddAttributeToSetup $0
  ${TEV_AddAttributeToSetupText} "" "" $0
  !insertmacro Record AddAttributeToSetup $0
  ${TEV_AddAttributeToSetupInt} "os.build" 19045 $0
  !insertmacro Record AddAttributeToSetup $0
  ${TEV_AddAttributeToSetupInt} "minimum" -2147483648 $0
  !insertmacro Record AddAttributeToSetup $0
  ${TEV_AddConfiguredPropertyText} "Studio" "INSTALLDIR" "C:\Program Files\Studio" $0
  !insertmacro Record AddConfiguredProperty $0
  ${TEV_AddConfiguredPropertyInt} "Studio" "REBOOT" 0 $0
  !insertmacro Record AddConfiguredProperty $0
  ${TEV_AddContent} "Studio" "Core" "C:\Program Files\Studio\core.msi" $0
  !insertmacro Record AddContent $0
  ${TEV_AddContent} "Café €" "Kern; 日本語" "D:\$$PLUGINSDIR\x.msi" $0
  !insertmacro Record AddContent $0
  ${TEV_AddCustom} 'studio' 'channel' 'say $\"beta$\"; then $$$$' $0
  !insertmacro Record AddCustom $0
  ${TEV_AddFeature} "Studio" "Help" -3 $0
  !insertmacro Record AddFeature $0
  ${TEV_AddLang} "Studio" "de-DE" 1 $0
  !insertmacro Record AddLang $0
  ${TEV_AddNRDataText} "Studio" "size.mb" "1536" $0
  !insertmacro Record AddNRData $0
  ${TEV_AddNRDataInt} "Studio" "files" 2147483647 $0
  !insertmacro Record AddNRData $0
  ${TEV_AddNRDataText} "" "" "" $0
  !insertmacro Record AddNRData $0

  ${TEV_wpSetupPhase} ${TEV_eInitialization} 1
  !insertmacro Record wpSetupPhase null
  ${TEV_wpSetupPhase} ${TEV_eConfiguration} 0
  !insertmacro Record wpSetupPhase null
  ${TEV_wpSetupPhase} ${TEV_eInstallation} 1
  !insertmacro Record wpSetupPhase null
  ${TEV_wpSetupPhase} ${TEV_eConfiguration} -512
  !insertmacro Record wpSetupPhase null
  ${TEV_wpDownloadSP}
  !insertmacro Record wpDownloadSP null
  ${TEV_wpWarning} "disk almost full: café € 💾"
  !insertmacro Record wpWarning null
  ${TEV_wpWarning} ""
  !insertmacro Record wpWarning null
  ${TEV_wpWarning} "it`s $$5, 'single' and $\"double$\" quotes"
  !insertmacro Record wpWarning null

  StrCpy $1 "https://downloads.example.com/a b;c.cab?x=$$1"
  ${TEV_DownloadBegin} $1
  !insertmacro Record DownloadBegin null
  ${TEV_DownloadPause} $1
  !insertmacro Record DownloadPause null
  ${TEV_DownloadResume} $1
  !insertmacro Record DownloadResume null
  ${TEV_DownloadEnd} $1
  !insertmacro Record DownloadEnd null
  ${TEV_DownloadCancel} ""
  !insertmacro Record DownloadCancel null
  ${TEV_DownloadError} "https://downloads.example.com/core.cab" "timed out" 0xDEADBEEF
  !insertmacro Record DownloadError null
  ${TEV_DownloadFailEvent} "https://downloads.example.com/core.cab" `no route; $\"down$\"` 4000000000
  !insertmacro Record DownloadFailEvent null

  ${TEV_InstallBegin} "Studio"
  !insertmacro Record InstallBegin null
  ${TEV_InstallEnd} "STUDIO"
  !insertmacro Record InstallEnd null
  ${TEV_InstallCancel} ""
  !insertmacro Record InstallCancel null
  ${TEV_InstallError} "Studio" "error 1603: ünerwartet"
  !insertmacro Record InstallError null
  ${TEV_ShutdownML} $0
  !insertmacro Record ShutdownML $0

  ; A run that GetKV8UserId starts by itself (without a log) and OnCrash ends.
  ${TEV_GetKV8UserId} $0
  !insertmacro Record GetKV8UserId `"$0"`
  ${TEV_AddContent} "Player" "Core" "D:\player.msi" $0
  !insertmacro Record AddContent $0
  ${TEV_OnCrash}
  !insertmacro Record OnCrash null
  ${TEV_ShutdownML} $0
  !insertmacro Record ShutdownML $0

  ; A run the installer leaves without ShutdownML: the release at its end takes it down unreported.
  ${TEV_InitML} 0 $0
  !insertmacro Record InitML $0
  ${TEV_wpDownloadSP}
  !insertmacro Record wpDownloadSP null
  FileClose $R9
SectionEnd

; What ends a silent install: TEV.dll and KV8.dll let go, so that the plug-ins directory goes too.
Function .onInstSuccess
  ${TEV_Release}
FunctionEnd
