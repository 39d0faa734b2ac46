; TEV.nsh: every entry of TEV.dll as one line of a Unicode NSIS installer script.
;
;   Unicode true
;   !include "TEV.nsh"
;   ...
;   InitPluginsDir
;   File "/oname=$PLUGINSDIR\TEV.dll" "bin\TEV.dll"     ; and the analytics library, KV8.dll, beside it
;   ${TEV_InitML} 1 $0                                   ; $0 = 1: reporting is on
;   ...
;   Function .onGUIEnd                                   ; and at the end of .onInstSuccess and
;     ${TEV_Release}                                     ; .onInstFailed, which end a silent install
;   FunctionEnd
;
; TEV.dll is called where it lies in the plug-ins directory ($PLUGINSDIR), through the System
; plug-in, by the names Microsoft's compiler gives the entries (cdecl). The first macro loads it,
; once for the whole installer; ${TEV_Release} lets go of it and of the KV8.dll it loaded, so that
; the installer can delete its plug-ins directory when it ends (a loaded DLL cannot be deleted).
; After ${TEV_Release} the next macro loads TEV.dll afresh, with no run active.
;
; Texts are NSIS strings, written as anywhere in a script: "it`s $$5, 'ok'" arrives as
; it`s $5, 'ok'. The macros quote a text with double quotes, so a double quote inside a text is
; written $\" whichever quotes the text is written in. Integers are decimal or 0x hexadecimal; the
; last argument of DownloadError and DownloadFailEvent is unsigned (up to 4294967295). A bool
; argument (InitML's ENABLE_LOG, wpSetupPhase's BEGIN) is true for any nonzero value. An entry that
; returns a bool puts 1 or 0 into the variable given last; GetKV8UserId puts the text. Nothing else
; changes: arguments and results pass through the stack, and no register ($0-$9, $R0-$R9) is
; touched.
;
; Telemetry never stops an installer: without TEV.dll in $PLUGINSDIR nothing is called, every
; macro gives 0 (GetKV8UserId the empty text), and the installer goes on. TEV looks for `KV8.dll`
; as a static import of it would be found, without the places anyone can write to: a `KV8.dll`
; already loaded in the installer's process; else the first regular file named `KV8.dll` in
; `TEV.dll`'s own folder, then in the installer's (the host executable's) folder, then in the
; Windows system folder. Never the current folder or `PATH`. Ship `KV8.dll` beside `TEV.dll`: a
; copy beside the installer alone is used, but `tev doctor` warns about it, since an installer run
; from a Downloads folder can find a planted one there. Here TEV.dll's own folder is $PLUGINSDIR,
; where the installer unpacks KV8.dll beside it. Found nowhere (or not loadable, or incomplete),
; every run is refused, nothing is reported, and the log says why ("KV8 unavailable").
;
; Entries with a text and an integer overload have a macro for each, ending in Text and Int:
;   ${TEV_AddAttributeToSetupText} "setup.version" "4.2.1" $0
;   ${TEV_AddAttributeToSetupInt} "os.build" 19045 $0

!ifndef TEV_NSH_INCLUDED
!define TEV_NSH_INCLUDED

!if "${NSIS_CHAR_SIZE}" != "2"
  !error "TEV.nsh needs a Unicode installer: put 'Unicode true' before including it"
!endif

!include LogicLib.nsh

; The setup phases of ${TEV_wpSetupPhase}.
!define TEV_eInitialization 0
!define TEV_eConfiguration 1
!define TEV_eInstallation 2

; TEV.nsh's own variables: the module handle of TEV.dll (empty or 0: not loaded) and an entry's
; address.
!macro _TEV_Declare
  !ifndef _TEV_VARIABLES_DECLARED
    !define _TEV_VARIABLES_DECLARED
    Var /GLOBAL _TEV_Module
    Var /GLOBAL _TEV_Entry
  !endif
!macroend

; $_TEV_Entry: the address of the entry named DECORATED in $PLUGINSDIR\TEV.dll, or 0. TEV.dll is
; loaded by the first call and kept until ${TEV_Release}: its run lives in it.
!macro _TEV_Find DECORATED
  !insertmacro _TEV_Declare
  ${If} $_TEV_Module == ""
  ${OrIf} $_TEV_Module == 0
    System::Call 'kernel32::LoadLibraryW(w "$PLUGINSDIR\TEV.dll")p.s'
    Pop $_TEV_Module
  ${EndIf}
  StrCpy $_TEV_Entry 0
  ${If} $_TEV_Module != 0
    System::Call 'kernel32::GetProcAddress(p $_TEV_Module, m "${DECORATED}")p.s'
    Pop $_TEV_Entry
  ${EndIf}
!macroend

; Lets go of TEV.dll and of the KV8.dll it loaded beside itself (TEV.dll takes one reference on it
; and never gives it back), so that nothing holds the plug-ins directory. A run still active ends
; unreported, as it would when the installer exits. Nothing happens when TEV.dll is not loaded.
!define TEV_Release "!insertmacro TEV_Release"
!macro TEV_Release
  !insertmacro _TEV_Declare
  ${If} $_TEV_Module != ""
  ${AndIf} $_TEV_Module != 0
    System::Call 'kernel32::FreeLibrary(p $_TEV_Module)'
    StrCpy $_TEV_Module 0
    System::Call 'kernel32::GetModuleHandleW(w "$PLUGINSDIR\KV8.dll")p.s'
    Pop $_TEV_Entry
    ${If} $_TEV_Entry != 0
      System::Call 'kernel32::FreeLibrary(p $_TEV_Entry)'
    ${EndIf}
  ${EndIf}
!macroend

; Calls an entry with the arguments on the stack (PARAMETERS says how many and of which type, the
; first on top); an entry that cannot be found is not called, and its arguments are dropped all
; the same (the System plug-in answers "error").
!macro _TEV_CallVoid DECORATED PARAMETERS
  !insertmacro _TEV_Find "${DECORATED}"
  System::Call "::$_TEV_Entry${PARAMETERS}v?c"
!macroend

; Pushes VALUE as a bool argument: 1 for any nonzero value, 0 for 0. The entry reads one byte of
; it, so 256 passed as it is would arrive as false.
!macro _TEV_PushBool VALUE
  !insertmacro _TEV_Declare
  IntOp $_TEV_Entry ${VALUE} !
  IntOp $_TEV_Entry $_TEV_Entry !
  Push $_TEV_Entry
!macroend

; The same for an entry that returns a bool: only its low byte is the bool (Microsoft's compiler
; leaves the rest of the register as it was), so RESULT gets 1 or 0; "error" reads as 0.
!macro _TEV_CallBool DECORATED PARAMETERS RESULT
  !insertmacro _TEV_Find "${DECORATED}"
  System::Call "::$_TEV_Entry${PARAMETERS}i.s?c"
  Pop ${RESULT}
  IntOp ${RESULT} ${RESULT} & 0xFF
!macroend

; Run control.
!define TEV_InitML "!insertmacro TEV_InitML"
!macro TEV_InitML ENABLE_LOG RESULT
  !insertmacro _TEV_PushBool "${ENABLE_LOG}"
  !insertmacro _TEV_CallBool "?InitML@TEVUtil@@SA_N_N@Z" "(is)" ${RESULT}
!macroend

!define TEV_ShutdownML "!insertmacro TEV_ShutdownML"
!macro TEV_ShutdownML RESULT
  !insertmacro _TEV_CallBool "?ShutdownML@TEVUtil@@SA_NXZ" "()" ${RESULT}
!macroend

!define TEV_OnCrash "!insertmacro TEV_OnCrash"
!macro TEV_OnCrash
  !insertmacro _TEV_CallVoid "?OnCrash@TEVUtil@@SAXXZ" "()"
!macroend

!define TEV_GetKV8UserId "!insertmacro TEV_GetKV8UserId"
!macro TEV_GetKV8UserId RESULT
  !insertmacro _TEV_Find "?GetKV8UserId@TEVUtil@@SAPB_WXZ"
  ${If} $_TEV_Entry == 0
    Push ""
  ${Else}
    System::Call "::$_TEV_Entry()w.s?c"
  ${EndIf}
  Pop ${RESULT}
!macroend

; Setup attributes.
!define TEV_AddAttributeToSetupText "!insertmacro TEV_AddAttributeToSetupText"
!macro TEV_AddAttributeToSetupText NAME VALUE RESULT
  Push "${VALUE}"
  Push "${NAME}"
  !insertmacro _TEV_CallBool "?AddAttributeToSetup@TEVUtil@@SA_NPB_W0@Z" "(ws,ws)" ${RESULT}
!macroend

!define TEV_AddAttributeToSetupInt "!insertmacro TEV_AddAttributeToSetupInt"
!macro TEV_AddAttributeToSetupInt NAME VALUE RESULT
  Push "${VALUE}"
  Push "${NAME}"
  !insertmacro _TEV_CallBool "?AddAttributeToSetup@TEVUtil@@SA_NPB_WH@Z" "(ws,is)" ${RESULT}
!macroend

; Product details.
!define TEV_AddConfiguredPropertyText "!insertmacro TEV_AddConfiguredPropertyText"
!macro TEV_AddConfiguredPropertyText PRODUCT PROPERTY VALUE RESULT
  Push "${VALUE}"
  Push "${PROPERTY}"
  Push "${PRODUCT}"
  !insertmacro _TEV_CallBool "?AddConfiguredProperty@TEVUtil@@SA_NPB_W00@Z" "(ws,ws,ws)" ${RESULT}
!macroend

!define TEV_AddConfiguredPropertyInt "!insertmacro TEV_AddConfiguredPropertyInt"
!macro TEV_AddConfiguredPropertyInt PRODUCT PROPERTY VALUE RESULT
  Push "${VALUE}"
  Push "${PROPERTY}"
  Push "${PRODUCT}"
  !insertmacro _TEV_CallBool "?AddConfiguredProperty@TEVUtil@@SA_NPB_W0H@Z" "(ws,ws,is)" ${RESULT}
!macroend

!define TEV_AddContent "!insertmacro TEV_AddContent"
!macro TEV_AddContent PRODUCT CONTENT PATH RESULT
  Push "${PATH}"
  Push "${CONTENT}"
  Push "${PRODUCT}"
  !insertmacro _TEV_CallBool "?AddContent@TEVUtil@@SA_NPB_W00@Z" "(ws,ws,ws)" ${RESULT}
!macroend

!define TEV_AddCustom "!insertmacro TEV_AddCustom"
!macro TEV_AddCustom PRODUCT NAME VALUE RESULT
  Push "${VALUE}"
  Push "${NAME}"
  Push "${PRODUCT}"
  !insertmacro _TEV_CallBool "?AddCustom@TEVUtil@@SA_NPB_W00@Z" "(ws,ws,ws)" ${RESULT}
!macroend

!define TEV_AddFeature "!insertmacro TEV_AddFeature"
!macro TEV_AddFeature PRODUCT FEATURE ACTION RESULT
  Push "${ACTION}"
  Push "${FEATURE}"
  Push "${PRODUCT}"
  !insertmacro _TEV_CallBool "?AddFeature@TEVUtil@@SA_NPB_W0H@Z" "(ws,ws,is)" ${RESULT}
!macroend

!define TEV_AddLang "!insertmacro TEV_AddLang"
!macro TEV_AddLang PRODUCT LANGUAGE DOWNLOADED RESULT
  Push "${DOWNLOADED}"
  Push "${LANGUAGE}"
  Push "${PRODUCT}"
  !insertmacro _TEV_CallBool "?AddLang@TEVUtil@@SA_NPB_W0H@Z" "(ws,ws,is)" ${RESULT}
!macroend

!define TEV_AddNRDataText "!insertmacro TEV_AddNRDataText"
!macro TEV_AddNRDataText PRODUCT NAME VALUE RESULT
  Push "${VALUE}"
  Push "${NAME}"
  Push "${PRODUCT}"
  !insertmacro _TEV_CallBool "?AddNRData@TEVUtil@@SA_NPB_W00@Z" "(ws,ws,ws)" ${RESULT}
!macroend

!define TEV_AddNRDataInt "!insertmacro TEV_AddNRDataInt"
!macro TEV_AddNRDataInt PRODUCT NAME VALUE RESULT
  Push "${VALUE}"
  Push "${NAME}"
  Push "${PRODUCT}"
  !insertmacro _TEV_CallBool "?AddNRData@TEVUtil@@SA_NPB_W0H@Z" "(ws,ws,is)" ${RESULT}
!macroend

; Phases, milestone and warnings. BEGIN is 1 (any nonzero value) for the phase's beginning, 0 for
; its end.
!define TEV_wpSetupPhase "!insertmacro TEV_wpSetupPhase"
!macro TEV_wpSetupPhase PHASE BEGIN
  !insertmacro _TEV_PushBool "${BEGIN}"
  Push "${PHASE}"
  !insertmacro _TEV_CallVoid "?wpSetupPhase@TEVUtil@@SAXW4eSetupPhase@1@_N@Z" "(is,is)"
!macroend

!define TEV_wpDownloadSP "!insertmacro TEV_wpDownloadSP"
!macro TEV_wpDownloadSP
  !insertmacro _TEV_CallVoid "?wpDownloadSP@TEVUtil@@SAXXZ" "()"
!macroend

!define TEV_wpWarning "!insertmacro TEV_wpWarning"
!macro TEV_wpWarning MESSAGE
  Push "${MESSAGE}"
  !insertmacro _TEV_CallVoid "?wpWarning@TEVUtil@@SAXPB_W@Z" "(ws)"
!macroend

; Download events.
!define TEV_DownloadBegin "!insertmacro TEV_DownloadBegin"
!macro TEV_DownloadBegin URL
  Push "${URL}"
  !insertmacro _TEV_CallVoid "?DownloadBegin@TEVUtil@@SAXPB_W@Z" "(ws)"
!macroend

!define TEV_DownloadPause "!insertmacro TEV_DownloadPause"
!macro TEV_DownloadPause URL
  Push "${URL}"
  !insertmacro _TEV_CallVoid "?DownloadPause@TEVUtil@@SAXPB_W@Z" "(ws)"
!macroend

!define TEV_DownloadResume "!insertmacro TEV_DownloadResume"
!macro TEV_DownloadResume URL
  Push "${URL}"
  !insertmacro _TEV_CallVoid "?DownloadResume@TEVUtil@@SAXPB_W@Z" "(ws)"
!macroend

!define TEV_DownloadEnd "!insertmacro TEV_DownloadEnd"
!macro TEV_DownloadEnd URL
  Push "${URL}"
  !insertmacro _TEV_CallVoid "?DownloadEnd@TEVUtil@@SAXPB_W@Z" "(ws)"
!macroend

!define TEV_DownloadCancel "!insertmacro TEV_DownloadCancel"
!macro TEV_DownloadCancel URL
  Push "${URL}"
  !insertmacro _TEV_CallVoid "?DownloadCancel@TEVUtil@@SAXPB_W@Z" "(ws)"
!macroend

!define TEV_DownloadError "!insertmacro TEV_DownloadError"
!macro TEV_DownloadError URL MESSAGE CODE
  Push "${CODE}"
  Push "${MESSAGE}"
  Push "${URL}"
  !insertmacro _TEV_CallVoid "?DownloadError@TEVUtil@@SAXPB_W0K@Z" "(ws,ws,is)"
!macroend

!define TEV_DownloadFailEvent "!insertmacro TEV_DownloadFailEvent"
!macro TEV_DownloadFailEvent URL MESSAGE EVENT_ID
  Push "${EVENT_ID}"
  Push "${MESSAGE}"
  Push "${URL}"
  !insertmacro _TEV_CallVoid "?DownloadFailEvent@TEVUtil@@SAXPB_W0K@Z" "(ws,ws,is)"
!macroend

; Install events.
!define TEV_InstallBegin "!insertmacro TEV_InstallBegin"
!macro TEV_InstallBegin PRODUCT
  Push "${PRODUCT}"
  !insertmacro _TEV_CallVoid "?InstallBegin@TEVUtil@@SAXPB_W@Z" "(ws)"
!macroend

!define TEV_InstallEnd "!insertmacro TEV_InstallEnd"
!macro TEV_InstallEnd PRODUCT
  Push "${PRODUCT}"
  !insertmacro _TEV_CallVoid "?InstallEnd@TEVUtil@@SAXPB_W@Z" "(ws)"
!macroend

!define TEV_InstallCancel "!insertmacro TEV_InstallCancel"
!macro TEV_InstallCancel PRODUCT
  Push "${PRODUCT}"
  !insertmacro _TEV_CallVoid "?InstallCancel@TEVUtil@@SAXPB_W@Z" "(ws)"
!macroend

!define TEV_InstallError "!insertmacro TEV_InstallError"
!macro TEV_InstallError PRODUCT MESSAGE
  Push "${MESSAGE}"
  Push "${PRODUCT}"
  !insertmacro _TEV_CallVoid "?InstallError@TEVUtil@@SAXPB_W0@Z" "(ws,ws)"
!macroend

!endif
