// Phases, the download milestone, warnings, download and install events: each call builds one
// waypoint and reaches it at once.
#include "../analytics/helpers.h"
#include "../run/log.h"
#include "../run/run_state.h"
#include "../text.h"
#include "TEVUtil.h"
#include "report_event.h"

namespace tev {

namespace {

const TEVChar kDownload[] = TEV_TEXT("wp.download");
const TEVChar kProduct[] = TEV_TEXT("wp.product");
const TEVChar kStateName[] = TEV_TEXT("a.state.name");
const TEVChar kUrl[] = TEV_TEXT("a.download.url");
const TEVChar kProductName[] = TEV_TEXT("a.product.name");

// The download events other than begin: the state's name first, then the URL.
void ReportDownload(const TEVChar* token, const TEVChar* state, const TEVChar* url) {
    url = TextOrEmpty(url);
    ReportEvent({token, url}, kDownload, state, {{kStateName, state}, {kUrl, url}});
}

// Both failures log "DownloadError" and differ only in the name of the number's attribute.
void ReportDownloadFailure(const TEVChar* url, const TEVChar* errorMessage,
                           const TEVChar* numberAttribute, TEVUInt32 number) {
    const TEVChar* state = TEV_TEXT("s.download.error");
    url = TextOrEmpty(url);
    errorMessage = TextOrEmpty(errorMessage);
    // "%d" reads the 32-bit value as signed: 4294967295 is written -1.
    DecimalText decimal = FormatDecimal(static_cast<int>(number));
    ReportEvent({TEV_TEXT("DownloadError"), url, errorMessage}, kDownload, state,
                {{kStateName, state},
                 {kUrl, url},
                 {TEV_TEXT("a.download.errmsg"), errorMessage},
                 {numberAttribute, decimal.c_str()}});
}

void ReportInstall(const TEVChar* token, const TEVChar* state, const TEVChar* productName) {
    productName = TextOrEmpty(productName);
    ReportEvent({token, productName}, kProduct, state,
                {{kStateName, state}, {kProductName, productName}});
}

}  // namespace

}  // namespace tev

using namespace tev;

void TEVUtil::wpSetupPhase(eSetupPhase phase, bool begin) {
    static const TEVChar* const kPhaseWaypoints[3][2] = {
        {TEV_TEXT("wp.setup.initialization.end"), TEV_TEXT("wp.setup.initialization.begin")},
        {TEV_TEXT("wp.setup.configuration.end"), TEV_TEXT("wp.setup.configuration.begin")},
        {TEV_TEXT("wp.setup.installation.end"), TEV_TEXT("wp.setup.installation.begin")},
    };
    Contained([&] {
        if (!runState.enabled) return;
        int index = static_cast<int>(phase);
        if (index < 0 || index > 2) return;  // not a phase: nothing is reported
        ReachWaypoint(CMLWaypoint::Create(kPhaseWaypoints[index][begin ? 1 : 0]));
    });
}

void TEVUtil::wpDownloadSP() {
    Contained([] {
        if (!runState.enabled) return;
        WriteLog({TEV_TEXT("wpDownloadSP")});
        ReachWaypoint(CMLWaypoint::Create(TEV_TEXT("wp.downloadsp")));
    });
}

void TEVUtil::wpWarning(const TEVChar* message) {
    message = TextOrEmpty(message);
    ReportEvent({TEV_TEXT("wpWarning"), message}, TEV_TEXT("wp.warning"), TEV_TEXT("s.warning"),
                {{TEV_TEXT("a.warning.message"), message}});
}

void TEVUtil::DownloadBegin(const TEVChar* url) {
    // The one download event that attaches the URL before the state's name.
    const TEVChar* state = TEV_TEXT("s.download.begin");
    url = TextOrEmpty(url);
    ReportEvent({TEV_TEXT("DownloadBegin"), url}, kDownload, state,
                {{kUrl, url}, {kStateName, state}});
}

void TEVUtil::DownloadPause(const TEVChar* url) {
    ReportDownload(TEV_TEXT("DownloadPause"), TEV_TEXT("s.download.pause"), url);
}

void TEVUtil::DownloadResume(const TEVChar* url) {
    ReportDownload(TEV_TEXT("DownloadResume"), TEV_TEXT("s.download.resume"), url);
}

void TEVUtil::DownloadEnd(const TEVChar* url) {
    ReportDownload(TEV_TEXT("DownloadEnd"), TEV_TEXT("s.download.end"), url);
}

void TEVUtil::DownloadCancel(const TEVChar* url) {
    ReportDownload(TEV_TEXT("DownloadCancel"), TEV_TEXT("s.download.cancel"), url);
}

void TEVUtil::DownloadError(const TEVChar* url, const TEVChar* errorMessage, TEVUInt32 errorCode) {
    ReportDownloadFailure(url, errorMessage, TEV_TEXT("a.download.errcode"), errorCode);
}

void TEVUtil::DownloadFailEvent(const TEVChar* url, const TEVChar* errorMessage,
                                TEVUInt32 eventId) {
    ReportDownloadFailure(url, errorMessage, TEV_TEXT("a.download.eventid"), eventId);
}

void TEVUtil::InstallBegin(const TEVChar* productName) {
    ReportInstall(TEV_TEXT("InstallBegin"), TEV_TEXT("s.install.begin"), productName);
}

void TEVUtil::InstallEnd(const TEVChar* productName) {
    ReportInstall(TEV_TEXT("InstallEnd"), TEV_TEXT("s.install.end"), productName);
}

void TEVUtil::InstallCancel(const TEVChar* productName) {
    ReportInstall(TEV_TEXT("InstallCancel"), TEV_TEXT("s.install.cancel"), productName);
}

void TEVUtil::InstallError(const TEVChar* productName, const TEVChar* errorMessage) {
    const TEVChar* state = TEV_TEXT("s.install.error");
    productName = TextOrEmpty(productName);
    errorMessage = TextOrEmpty(errorMessage);
    // The error text is reported, never logged.
    ReportEvent({TEV_TEXT("InstallError"), productName}, kProduct, state,
                {{kStateName, state},
                 {kProductName, productName},
                 {TEV_TEXT("a.install.errmsg"), errorMessage}});
}
