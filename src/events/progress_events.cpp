#include "progress_events.h"

#include "../kv8_client/event_building.h"
#include "../base/decimal.h"
#include "../base/text.h"
#include "../vocabulary/report_names.h"

namespace tev {

using logformat::Token;

namespace {

// How a step of a download or an install is logged and reported: the state's name attached first,
// then the subject's, but where the URL comes first (a download's beginning).
struct StepShape {
    Token token;
    const TEVChar* state;
    bool subjectFirst = false;
};

constexpr StepShape kDownloadSteps[] = {
    {Token::DownloadBegin, names::kDownloadBeginState, true},
    {Token::DownloadPause, names::kDownloadPauseState},
    {Token::DownloadResume, names::kDownloadResumeState},
    {Token::DownloadEnd, names::kDownloadEndState},
    {Token::DownloadCancel, names::kDownloadCancelState},
};

constexpr StepShape kInstallSteps[] = {
    {Token::InstallBegin, names::kInstallBeginState},
    {Token::InstallEnd, names::kInstallEndState},
    {Token::InstallCancel, names::kInstallCancelState},
};

}  // namespace

void ProgressEvents::Report(Token token, std::initializer_list<const TEVChar*> logged,
                            const TEVChar* waypoint, const TEVChar* state,
                            std::initializer_list<Attribute> attributes) {
    log_.Write(token, logged);
    CMLWaypoint* event = CMLWaypoint::Create(waypoint);
    if (!event) return;
    CMLState* eventState = AddState(event, state);
    if (!eventState) return event->Destroy();
    for (const Attribute& attribute : attributes)
        if (!AttachAttribute(eventState, attribute.name, attribute.value))
            return event->Destroy();  // takes the state and its attributes along
    ReachWaypoint(event);
}

void ProgressEvents::Phase(int phase, bool begin) {
    if (phase < 0 || phase > 2) return;
    ReachWaypoint(CMLWaypoint::Create(names::kPhaseWaypoints[phase][begin ? 1 : 0]));
}

void ProgressEvents::DownloadMilestone() {
    log_.Write(Token::DownloadMilestone);
    ReachWaypoint(CMLWaypoint::Create(names::kDownloadMilestoneWaypoint));
}

void ProgressEvents::Warning(const TEVChar* message) {
    message = TextOrEmpty(message);
    Report(Token::Warning, {message}, names::kWarningWaypoint, names::kWarningState,
           {{names::kWarningMessage, message}});
}

void ProgressEvents::Download(DownloadStep step, const TEVChar* url) {
    const StepShape& shape = kDownloadSteps[static_cast<int>(step)];
    url = TextOrEmpty(url);
    const Attribute stateName = {names::kStateName, shape.state};
    const Attribute subject = {names::kDownloadUrl, url};
    if (shape.subjectFirst)
        Report(shape.token, {url}, names::kDownloadWaypoint, shape.state, {subject, stateName});
    else
        Report(shape.token, {url}, names::kDownloadWaypoint, shape.state, {stateName, subject});
}

void ProgressEvents::ReportDownloadFailure(const TEVChar* url, const TEVChar* errorMessage,
                                           const TEVChar* numberAttribute, TEVUInt32 number) {
    const TEVChar* state = names::kDownloadErrorState;
    url = TextOrEmpty(url);
    errorMessage = TextOrEmpty(errorMessage);
    // "%d" reads the 32-bit value as signed: 4294967295 is written -1.
    DecimalText decimal = FormatDecimal(static_cast<int>(number));
    Report(Token::DownloadError, {url, errorMessage}, names::kDownloadWaypoint, state,
           {{names::kStateName, state},
            {names::kDownloadUrl, url},
            {names::kDownloadErrorMessage, errorMessage},
            {numberAttribute, decimal.c_str()}});
}

void ProgressEvents::DownloadError(const TEVChar* url, const TEVChar* errorMessage,
                                   TEVUInt32 errorCode) {
    ReportDownloadFailure(url, errorMessage, names::kDownloadErrorCode, errorCode);
}

void ProgressEvents::DownloadFailure(const TEVChar* url, const TEVChar* errorMessage,
                                     TEVUInt32 eventId) {
    ReportDownloadFailure(url, errorMessage, names::kDownloadEventId, eventId);
}

void ProgressEvents::Install(InstallStep step, const TEVChar* productName) {
    const StepShape& shape = kInstallSteps[static_cast<int>(step)];
    productName = TextOrEmpty(productName);
    Report(shape.token, {productName}, names::kProductWaypoint, shape.state,
           {{names::kStateName, shape.state}, {names::kProductName, productName}});
}

void ProgressEvents::InstallError(const TEVChar* productName, const TEVChar* errorMessage) {
    const TEVChar* state = names::kInstallErrorState;
    productName = TextOrEmpty(productName);
    errorMessage = TextOrEmpty(errorMessage);
    Report(Token::InstallError, {productName}, names::kProductWaypoint, state,
           {{names::kStateName, state},
            {names::kProductName, productName},
            {names::kInstallErrorMessage, errorMessage}});
}

}  // namespace tev
