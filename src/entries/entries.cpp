// The entries TEV exports. Each is one call into the run, made while reporting is on (InitML and
// GetKV8UserId whatever the state), inside a guard: no exception leaves an entry into the
// installer, and a failure (an allocation that cannot be satisfied) makes the entry give its
// refusal instead.
#include "../base/decimal.h"
#include "../run/run.h"
#include "TEVUtil.h"
#include "entries.h"

using namespace tev;

namespace {

template <typename Result, typename Body>
Result Guarded(Result refusal, Body body) noexcept {
    try {
        return body(CurrentRun());
    } catch (...) {
        return refusal;
    }
}

// The run's report or events, while reporting is on; the refusal otherwise.
template <typename Result, typename Body>
Result WhileReporting(Result refusal, Body body) noexcept {
    return Guarded(refusal, [&](Run& run) { return run.Reporting() ? body(run) : refusal; });
}

template <typename Body>
void WhileReporting(Body body) noexcept {
    Guarded(0, [&](Run& run) {
        if (run.Reporting()) body(run);
        return 0;
    });
}

bool Detail(const names::ProductDetail& detail, const TEVChar* productName,
            const TEVChar* firstValue, const TEVChar* secondValue) {
    return WhileReporting(false, [&](Run& run) {
        return run.Report().AddProductDetail(detail, productName, firstValue, secondValue);
    });
}

bool SetupAttribute(const TEVChar* name, const TEVChar* value) {
    return WhileReporting(false, [&](Run& run) {
        run.Report().AddAttribute(name, value);
        return true;
    });
}

bool ProductAttribute(const TEVChar* productName, const TEVChar* name, const TEVChar* value) {
    return WhileReporting(false, [&](Run& run) {
        return run.Report().AddProductAttribute(productName, name, value);
    });
}

void DownloadStep(ProgressEvents::DownloadStep step, const TEVChar* url) {
    WhileReporting([&](Run& run) { run.Events().Download(step, url); });
}

void InstallStep(ProgressEvents::InstallStep step, const TEVChar* productName) {
    WhileReporting([&](Run& run) { run.Events().Install(step, productName); });
}

}  // namespace

// Run control.

// InitML and wpSetupPhase are defined in byte_entries.cpp, which reads their bool as the byte the
// caller passed; their work is done here.
bool tev::entries::InitML(bool enableLog) {
    return Guarded(false, [&](Run& run) { return run.Restart(enableLog); });
}

bool TEVUtil::ShutdownML() {
    return Guarded(true, [](Run& run) {
        if (run.Reporting()) run.End();
        return true;
    });
}

void TEVUtil::OnCrash() {
    WhileReporting([](Run& run) { run.Crash(); });
}

const TEVChar* TEVUtil::GetKV8UserId() {
    // Never null, whatever the library gives: an installer may read it without a check.
    return Guarded<const TEVChar*>(TEV_TEXT(""), [](Run& run) {
        const TEVChar* id = run.UserId();
        return id ? id : TEV_TEXT("");
    });
}

// Setup attributes.

bool TEVUtil::AddAttributeToSetup(const TEVChar* attributeName, const TEVChar* attributeValue) {
    return SetupAttribute(attributeName, attributeValue);
}

bool TEVUtil::AddAttributeToSetup(const TEVChar* attributeName, int attributeValue) {
    return SetupAttribute(attributeName, FormatDecimal(attributeValue).c_str());
}

// Product details.

bool TEVUtil::AddConfiguredProperty(const TEVChar* productName, const TEVChar* propertyName,
                                    const TEVChar* propertyValue) {
    return Detail(names::kConfiguredProperty, productName, propertyName, propertyValue);
}

bool TEVUtil::AddConfiguredProperty(const TEVChar* productName, const TEVChar* propertyName,
                                    int propertyValue) {
    return Detail(names::kConfiguredProperty, productName, propertyName,
                  FormatDecimal(propertyValue).c_str());
}

bool TEVUtil::AddContent(const TEVChar* productName, const TEVChar* contentName,
                         const TEVChar* contentPath) {
    return Detail(names::kContent, productName, contentName, contentPath);
}

bool TEVUtil::AddCustom(const TEVChar* productName, const TEVChar* customName,
                        const TEVChar* customValue) {
    return Detail(names::kCustom, productName, customName, customValue);
}

bool TEVUtil::AddFeature(const TEVChar* productName, const TEVChar* featureName,
                         int featureAction) {
    return Detail(names::kFeature, productName, featureName, FormatDecimal(featureAction).c_str());
}

bool TEVUtil::AddLang(const TEVChar* productName, const TEVChar* language, int languageDownloaded) {
    return Detail(names::kLanguage, productName, language,
                  FormatDecimal(languageDownloaded).c_str());
}

bool TEVUtil::AddNRData(const TEVChar* productName, const TEVChar* attributeName,
                        const TEVChar* attributeValue) {
    return ProductAttribute(productName, attributeName, attributeValue);
}

bool TEVUtil::AddNRData(const TEVChar* productName, const TEVChar* attributeName,
                        int attributeValue) {
    return ProductAttribute(productName, attributeName, FormatDecimal(attributeValue).c_str());
}

// Phases, milestone and warnings.

void tev::entries::SetupPhase(int phase, bool begin) {
    WhileReporting([&](Run& run) { run.Events().Phase(phase, begin); });
}

void TEVUtil::wpDownloadSP() {
    WhileReporting([](Run& run) { run.Events().DownloadMilestone(); });
}

void TEVUtil::wpWarning(const TEVChar* message) {
    WhileReporting([&](Run& run) { run.Events().Warning(message); });
}

// Download events.

void TEVUtil::DownloadBegin(const TEVChar* url) {
    DownloadStep(ProgressEvents::DownloadStep::Begin, url);
}

void TEVUtil::DownloadPause(const TEVChar* url) {
    DownloadStep(ProgressEvents::DownloadStep::Pause, url);
}

void TEVUtil::DownloadResume(const TEVChar* url) {
    DownloadStep(ProgressEvents::DownloadStep::Resume, url);
}

void TEVUtil::DownloadEnd(const TEVChar* url) {
    DownloadStep(ProgressEvents::DownloadStep::End, url);
}

void TEVUtil::DownloadCancel(const TEVChar* url) {
    DownloadStep(ProgressEvents::DownloadStep::Cancel, url);
}

void TEVUtil::DownloadError(const TEVChar* url, const TEVChar* errorMessage, TEVUInt32 errorCode) {
    WhileReporting([&](Run& run) { run.Events().DownloadError(url, errorMessage, errorCode); });
}

void TEVUtil::DownloadFailEvent(const TEVChar* url, const TEVChar* errorMessage,
                                TEVUInt32 eventId) {
    WhileReporting([&](Run& run) { run.Events().DownloadFailure(url, errorMessage, eventId); });
}

// Install events.

void TEVUtil::InstallBegin(const TEVChar* productName) {
    InstallStep(ProgressEvents::InstallStep::Begin, productName);
}

void TEVUtil::InstallEnd(const TEVChar* productName) {
    InstallStep(ProgressEvents::InstallStep::End, productName);
}

void TEVUtil::InstallCancel(const TEVChar* productName) {
    InstallStep(ProgressEvents::InstallStep::Cancel, productName);
}

void TEVUtil::InstallError(const TEVChar* productName, const TEVChar* errorMessage) {
    WhileReporting([&](Run& run) { run.Events().InstallError(productName, errorMessage); });
}
