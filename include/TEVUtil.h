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

#if defined(_WIN32)
#define TEV_API
#elif defined(TEV_BUILDING_LIBRARY)
#define TEV_API __attribute__((visibility("default")))
#else
#define TEV_API
#endif

class TEV_API TEVUtil {
public:
    // Passed as a 32-bit signed integer; values other than these three report nothing.
    enum eSetupPhase : int { eInitialization = 0, eConfiguration = 1, eInstallation = 2 };

    // Run control.
    static bool InitML(bool enableLog);
    static bool ShutdownML();
    static void OnCrash();
    static const TEVChar* GetKV8UserId();

    // Setup attributes, sent at the end of the run on "wp.setup".
    static bool AddAttributeToSetup(const TEVChar* attributeName, const TEVChar* attributeValue);
    static bool AddAttributeToSetup(const TEVChar* attributeName, int attributeValue);

    // Product details, sent at the end of the run on one "wp.product" per product.
    static bool AddConfiguredProperty(const TEVChar* productName, const TEVChar* propertyName,
                                      const TEVChar* propertyValue);
    static bool AddConfiguredProperty(const TEVChar* productName, const TEVChar* propertyName,
                                      int propertyValue);
    static bool AddContent(const TEVChar* productName, const TEVChar* contentName,
                           const TEVChar* contentPath);
    static bool AddCustom(const TEVChar* productName, const TEVChar* customName,
                          const TEVChar* customValue);
    static bool AddFeature(const TEVChar* productName, const TEVChar* featureName,
                           int featureAction);
    static bool AddLang(const TEVChar* productName, const TEVChar* language,
                        int languageDownloaded);
    static bool AddNRData(const TEVChar* productName, const TEVChar* attributeName,
                          const TEVChar* attributeValue);
    static bool AddNRData(const TEVChar* productName, const TEVChar* attributeName,
                          int attributeValue);

    // Phases, milestone and warnings, reported at once.
    static void wpSetupPhase(eSetupPhase phase, bool begin);
    static void wpDownloadSP();
    static void wpWarning(const TEVChar* message);

    // Download events, reported at once.
    static void DownloadBegin(const TEVChar* url);
    static void DownloadPause(const TEVChar* url);
    static void DownloadResume(const TEVChar* url);
    static void DownloadEnd(const TEVChar* url);
    static void DownloadCancel(const TEVChar* url);
    static void DownloadError(const TEVChar* url, const TEVChar* errorMessage,
                              TEVUInt32 errorCode);
    static void DownloadFailEvent(const TEVChar* url, const TEVChar* errorMessage,
                                  TEVUInt32 eventId);

    // Install events, reported at once.
    static void InstallBegin(const TEVChar* productName);
    static void InstallEnd(const TEVChar* productName);
    static void InstallCancel(const TEVChar* productName);
    static void InstallError(const TEVChar* productName, const TEVChar* errorMessage);
};

#endif
