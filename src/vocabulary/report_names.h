// The names of what the system reports to the analytics library: waypoints, states, attributes.
#ifndef TEV_VOCABULARY_REPORT_NAMES_H
#define TEV_VOCABULARY_REPORT_NAMES_H

#include "TEVText.h"

namespace tev::names {

// The run's life.
inline constexpr TEVChar kStartupWaypoint[] = TEV_TEXT("COMMON.STARTUP");
inline constexpr TEVChar kShutdownWaypoint[] = TEV_TEXT("COMMON.SHUTDOWN");
inline constexpr TEVChar kCrashWaypoint[] = TEV_TEXT("COMMON.CRASH");

// The setup report, kept until the end of the run.
inline constexpr TEVChar kSetupWaypoint[] = TEV_TEXT("wp.setup");
inline constexpr TEVChar kSetupState[] = TEV_TEXT("s.setup");
inline constexpr TEVChar kSetupAttribute[] = TEV_TEXT("a.setup");  // "0", made with the report

inline constexpr TEVChar kProductWaypoint[] = TEV_TEXT("wp.product");
inline constexpr TEVChar kProductListState[] = TEV_TEXT("s.productlist");
inline constexpr TEVChar kProductName[] = TEV_TEXT("a.product.name");

// A detail of a product: a state of its own with two attributes.
struct ProductDetail {
    const TEVChar* state;
    const TEVChar* firstAttribute;
    const TEVChar* secondAttribute;
};
inline constexpr ProductDetail kConfiguredProperty = {TEV_TEXT("s.product.configured"),
                                                      TEV_TEXT("a.product.configured.name"),
                                                      TEV_TEXT("a.product.configured.value")};
inline constexpr ProductDetail kContent = {TEV_TEXT("s.product.content"),
                                           TEV_TEXT("a.product.contentname"),
                                           TEV_TEXT("a.product.contentpath")};
inline constexpr ProductDetail kCustom = {TEV_TEXT("s.product.other"),
                                          TEV_TEXT("a.product.other.name"),
                                          TEV_TEXT("a.product.other.value")};
inline constexpr ProductDetail kFeature = {TEV_TEXT("s.product.feature"),
                                           TEV_TEXT("a.product.featurename"),
                                           TEV_TEXT("a.product.featureaction")};
inline constexpr ProductDetail kLanguage = {TEV_TEXT("s.product.language"),
                                            TEV_TEXT("a.product.language"),
                                            TEV_TEXT("a.product.islanguagedownloaded")};

// Phases, by phase (initialization, configuration, installation), then end and begin.
inline constexpr const TEVChar* kPhaseWaypoints[3][2] = {
    {TEV_TEXT("wp.setup.initialization.end"), TEV_TEXT("wp.setup.initialization.begin")},
    {TEV_TEXT("wp.setup.configuration.end"), TEV_TEXT("wp.setup.configuration.begin")},
    {TEV_TEXT("wp.setup.installation.end"), TEV_TEXT("wp.setup.installation.begin")},
};
inline constexpr TEVChar kDownloadMilestoneWaypoint[] = TEV_TEXT("wp.downloadsp");

// Events reported at once.
inline constexpr TEVChar kWarningWaypoint[] = TEV_TEXT("wp.warning");
inline constexpr TEVChar kWarningState[] = TEV_TEXT("s.warning");
inline constexpr TEVChar kWarningMessage[] = TEV_TEXT("a.warning.message");

inline constexpr TEVChar kDownloadWaypoint[] = TEV_TEXT("wp.download");
inline constexpr TEVChar kDownloadBeginState[] = TEV_TEXT("s.download.begin");
inline constexpr TEVChar kDownloadPauseState[] = TEV_TEXT("s.download.pause");
inline constexpr TEVChar kDownloadResumeState[] = TEV_TEXT("s.download.resume");
inline constexpr TEVChar kDownloadEndState[] = TEV_TEXT("s.download.end");
inline constexpr TEVChar kDownloadCancelState[] = TEV_TEXT("s.download.cancel");
inline constexpr TEVChar kDownloadErrorState[] = TEV_TEXT("s.download.error");
inline constexpr TEVChar kDownloadUrl[] = TEV_TEXT("a.download.url");
inline constexpr TEVChar kDownloadErrorMessage[] = TEV_TEXT("a.download.errmsg");
inline constexpr TEVChar kDownloadErrorCode[] = TEV_TEXT("a.download.errcode");
inline constexpr TEVChar kDownloadEventId[] = TEV_TEXT("a.download.eventid");

// Installs are reported on a "wp.product" of their own, not the product's kept one.
inline constexpr TEVChar kInstallBeginState[] = TEV_TEXT("s.install.begin");
inline constexpr TEVChar kInstallEndState[] = TEV_TEXT("s.install.end");
inline constexpr TEVChar kInstallCancelState[] = TEV_TEXT("s.install.cancel");
inline constexpr TEVChar kInstallErrorState[] = TEV_TEXT("s.install.error");
inline constexpr TEVChar kInstallErrorMessage[] = TEV_TEXT("a.install.errmsg");

// The event's state name again, as an attribute.
inline constexpr TEVChar kStateName[] = TEV_TEXT("a.state.name");

}  // namespace tev::names

#endif
