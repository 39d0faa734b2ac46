// TEV: the setup telemetry bridge. An installer calls these entries to report a setup run.
//
// Call InitML once at the start of a run, any other entry during it, and ShutdownML (or OnCrash,
// when the installer is failing) at its end. Every entry except InitML and GetKV8UserId does
// nothing while no run is active, so they may be called unconditionally. Text arguments are
// null-terminated UTF-16; a null pointer is taken as the empty text. Entries are called one at a
// time, from one thread. No entry throws.
#ifndef TEV_UTIL_H
#define TEV_UTIL_H

#include "TEVText.h"
#include "TEVVersion.h"

// On Windows the header fixes the binary interface, whatever the host's options: every entry is
// __cdecl (a host compiled with /Gz or /Gr still calls it correctly; the decorated names are those
// of __cdecl), and a host imports the entries from TEV.dll. Code that compiles TEV's sources in
// rather than loading TEV.dll defines TEV_BUILDING_LIBRARY.
#if defined(_WIN32)
#define TEV_CALL __cdecl
#if defined(TEV_BUILDING_LIBRARY)
#define TEV_API
#else
#define TEV_API __declspec(dllimport)
#endif
#else
#define TEV_CALL
#if defined(TEV_BUILDING_LIBRARY)
#define TEV_API __attribute__((visibility("default")))
#else
#define TEV_API
#endif
#endif

class TEV_API TEVUtil {
public:
    // Passed as a 32-bit signed integer; values other than these three report nothing.
    enum eSetupPhase : int { eInitialization = 0, eConfiguration = 1, eInstallation = 2 };

    // Run control.
    static bool TEV_CALL InitML(bool enableLog);
    static bool TEV_CALL ShutdownML();
    static void TEV_CALL OnCrash();
    static const TEVChar* TEV_CALL GetKV8UserId();

    // Setup attributes, sent at the end of the run on "wp.setup".
    static bool TEV_CALL AddAttributeToSetup(const TEVChar* attributeName,
                                             const TEVChar* attributeValue);
    static bool TEV_CALL AddAttributeToSetup(const TEVChar* attributeName, int attributeValue);

    // Product details, sent at the end of the run on one "wp.product" per product.
    static bool TEV_CALL AddConfiguredProperty(const TEVChar* productName,
                                               const TEVChar* propertyName,
                                               const TEVChar* propertyValue);
    static bool TEV_CALL AddConfiguredProperty(const TEVChar* productName,
                                               const TEVChar* propertyName, int propertyValue);
    static bool TEV_CALL AddContent(const TEVChar* productName, const TEVChar* contentName,
                                    const TEVChar* contentPath);
    static bool TEV_CALL AddCustom(const TEVChar* productName, const TEVChar* customName,
                                   const TEVChar* customValue);
    static bool TEV_CALL AddFeature(const TEVChar* productName, const TEVChar* featureName,
                                    int featureAction);
    static bool TEV_CALL AddLang(const TEVChar* productName, const TEVChar* language,
                                 int languageDownloaded);
    static bool TEV_CALL AddNRData(const TEVChar* productName, const TEVChar* attributeName,
                                   const TEVChar* attributeValue);
    static bool TEV_CALL AddNRData(const TEVChar* productName, const TEVChar* attributeName,
                                   int attributeValue);

    // Phases, milestone and warnings, reported at once.
    static void TEV_CALL wpSetupPhase(eSetupPhase phase, bool begin);
    static void TEV_CALL wpDownloadSP();
    static void TEV_CALL wpWarning(const TEVChar* message);

    // Download events, reported at once.
    static void TEV_CALL DownloadBegin(const TEVChar* url);
    static void TEV_CALL DownloadPause(const TEVChar* url);
    static void TEV_CALL DownloadResume(const TEVChar* url);
    static void TEV_CALL DownloadEnd(const TEVChar* url);
    static void TEV_CALL DownloadCancel(const TEVChar* url);
    static void TEV_CALL DownloadError(const TEVChar* url, const TEVChar* errorMessage,
                                       TEVUInt32 errorCode);
    static void TEV_CALL DownloadFailEvent(const TEVChar* url, const TEVChar* errorMessage,
                                           TEVUInt32 eventId);

    // Install events, reported at once.
    static void TEV_CALL InstallBegin(const TEVChar* productName);
    static void TEV_CALL InstallEnd(const TEVChar* productName);
    static void TEV_CALL InstallCancel(const TEVChar* productName);
    static void TEV_CALL InstallError(const TEVChar* productName, const TEVChar* errorMessage);
};

#endif
