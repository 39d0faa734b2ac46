/* TEVLoader.h: TEV.dll loaded at run time, for C and C++ hosts that do not link TEV.lib.
 *
 *   TEVEntries tev;
 *   const char* missing = TEVLoad(&tev, L"TEV.dll");
 *   if (missing) { report that TEV is unavailable: `missing` names the DLL or the entry }
 *   else { tev.InitML(1); ...; tev.ShutdownML(); TEVUnload(&tev); }
 *
 * TEVLoad fills the table with every entry of TEVUtil.h, each found by the name Microsoft's
 * compiler gives it, as a typed function pointer (__cdecl). It needs nothing but <windows.h>.
 * Entries with a text and an integer overload appear twice, ending in Text and Int. A bool is one
 * byte (TEVBool: bool in C++, _Bool in C), so any nonzero value passed becomes 1 on the way in;
 * texts are null-terminated UTF-16.
 */
#ifndef TEV_LOADER_H
#define TEV_LOADER_H

#include <windows.h>

#ifdef __cplusplus
typedef bool TEVBool;
#else
typedef _Bool TEVBool;
#endif

/* X(field, decorated name, result, parameters) for each entry, in TEVUtil.h's order. */
#define TEV_LOADER_ENTRIES(X)                                                                    \
    X(InitML, "?InitML@TEVUtil@@SA_N_N@Z", TEVBool, (TEVBool enableLog))                         \
    X(ShutdownML, "?ShutdownML@TEVUtil@@SA_NXZ", TEVBool, (void))                                \
    X(OnCrash, "?OnCrash@TEVUtil@@SAXXZ", void, (void))                                          \
    X(GetKV8UserId, "?GetKV8UserId@TEVUtil@@SAPB_WXZ", const wchar_t*, (void))                   \
    X(AddAttributeToSetupText, "?AddAttributeToSetup@TEVUtil@@SA_NPB_W0@Z", TEVBool,             \
      (const wchar_t* attributeName, const wchar_t* attributeValue))                             \
    X(AddAttributeToSetupInt, "?AddAttributeToSetup@TEVUtil@@SA_NPB_WH@Z", TEVBool,              \
      (const wchar_t* attributeName, int attributeValue))                                        \
    X(AddConfiguredPropertyText, "?AddConfiguredProperty@TEVUtil@@SA_NPB_W00@Z", TEVBool,        \
      (const wchar_t* productName, const wchar_t* propertyName, const wchar_t* propertyValue))   \
    X(AddConfiguredPropertyInt, "?AddConfiguredProperty@TEVUtil@@SA_NPB_W0H@Z", TEVBool,         \
      (const wchar_t* productName, const wchar_t* propertyName, int propertyValue))              \
    X(AddContent, "?AddContent@TEVUtil@@SA_NPB_W00@Z", TEVBool,                                  \
      (const wchar_t* productName, const wchar_t* contentName, const wchar_t* contentPath))      \
    X(AddCustom, "?AddCustom@TEVUtil@@SA_NPB_W00@Z", TEVBool,                                    \
      (const wchar_t* productName, const wchar_t* customName, const wchar_t* customValue))       \
    X(AddFeature, "?AddFeature@TEVUtil@@SA_NPB_W0H@Z", TEVBool,                                  \
      (const wchar_t* productName, const wchar_t* featureName, int featureAction))               \
    X(AddLang, "?AddLang@TEVUtil@@SA_NPB_W0H@Z", TEVBool,                                        \
      (const wchar_t* productName, const wchar_t* language, int languageDownloaded))             \
    X(AddNRDataText, "?AddNRData@TEVUtil@@SA_NPB_W00@Z", TEVBool,                                \
      (const wchar_t* productName, const wchar_t* attributeName, const wchar_t* attributeValue)) \
    X(AddNRDataInt, "?AddNRData@TEVUtil@@SA_NPB_W0H@Z", TEVBool,                                 \
      (const wchar_t* productName, const wchar_t* attributeName, int attributeValue))            \
    X(wpSetupPhase, "?wpSetupPhase@TEVUtil@@SAXW4eSetupPhase@1@_N@Z", void,                      \
      (int phase, TEVBool begin))                                                                \
    X(wpDownloadSP, "?wpDownloadSP@TEVUtil@@SAXXZ", void, (void))                                \
    X(wpWarning, "?wpWarning@TEVUtil@@SAXPB_W@Z", void, (const wchar_t* message))                \
    X(DownloadBegin, "?DownloadBegin@TEVUtil@@SAXPB_W@Z", void, (const wchar_t* url))            \
    X(DownloadPause, "?DownloadPause@TEVUtil@@SAXPB_W@Z", void, (const wchar_t* url))            \
    X(DownloadResume, "?DownloadResume@TEVUtil@@SAXPB_W@Z", void, (const wchar_t* url))          \
    X(DownloadEnd, "?DownloadEnd@TEVUtil@@SAXPB_W@Z", void, (const wchar_t* url))                \
    X(DownloadCancel, "?DownloadCancel@TEVUtil@@SAXPB_W@Z", void, (const wchar_t* url))          \
    X(DownloadError, "?DownloadError@TEVUtil@@SAXPB_W0K@Z", void,                                \
      (const wchar_t* url, const wchar_t* errorMessage, unsigned long errorCode))                \
    X(DownloadFailEvent, "?DownloadFailEvent@TEVUtil@@SAXPB_W0K@Z", void,                        \
      (const wchar_t* url, const wchar_t* errorMessage, unsigned long eventId))                  \
    X(InstallBegin, "?InstallBegin@TEVUtil@@SAXPB_W@Z", void, (const wchar_t* productName))      \
    X(InstallEnd, "?InstallEnd@TEVUtil@@SAXPB_W@Z", void, (const wchar_t* productName))          \
    X(InstallCancel, "?InstallCancel@TEVUtil@@SAXPB_W@Z", void, (const wchar_t* productName))    \
    X(InstallError, "?InstallError@TEVUtil@@SAXPB_W0@Z", void,                                   \
      (const wchar_t* productName, const wchar_t* errorMessage))

/* The setup phases of wpSetupPhase. */
enum { TEV_eInitialization = 0, TEV_eConfiguration = 1, TEV_eInstallation = 2 };

/* The type of each entry, TEVEntry_<field>: TEVEntry_InitML is TEVBool (__cdecl*)(TEVBool). */
#define TEV_LOADER_TYPE(field, decorated, result, parameters) \
    typedef result(__cdecl* TEVEntry_##field) parameters;
TEV_LOADER_ENTRIES(TEV_LOADER_TYPE)
#undef TEV_LOADER_TYPE

typedef struct TEVEntries {
    HMODULE module; /* TEV.dll, or null when not loaded */
#define TEV_LOADER_FIELD(field, decorated, result, parameters) TEVEntry_##field field;
    TEV_LOADER_ENTRIES(TEV_LOADER_FIELD)
#undef TEV_LOADER_FIELD
} TEVEntries;

/* Loads TEV.dll from PATH (a full path is safest: a bare name is looked for where Windows looks
 * for DLLs) and fills ENTRIES. Returns null when every entry was found. Otherwise nothing stays
 * loaded, every field is null, and the result names what is missing: "TEV.dll" when the DLL
 * could not be loaded (GetLastError() says why), or the decorated name of the first entry the DLL
 * lacks (a DLL that is not TEV, or of another version). */
static __inline const char* TEVLoad(TEVEntries* entries, const wchar_t* path) {
    TEVEntries found;
    ZeroMemory(entries, sizeof *entries);
    found.module = LoadLibraryW(path);
    if (!found.module) return "TEV.dll";
#define TEV_LOADER_FIND(field, decorated, result, parameters)                                \
    found.field = (TEVEntry_##field)(void (*)(void))GetProcAddress(found.module, decorated); \
    if (!found.field) {                                                                      \
        FreeLibrary(found.module);                                                           \
        return decorated;                                                                    \
    }
    TEV_LOADER_ENTRIES(TEV_LOADER_FIND)
#undef TEV_LOADER_FIND
    *entries = found;
    return 0;
}

/* Lets go of TEV.dll (a run still active ends unreported) and empties ENTRIES. */
static __inline void TEVUnload(TEVEntries* entries) {
    if (entries->module) FreeLibrary(entries->module);
    ZeroMemory(entries, sizeof *entries);
}

#endif
