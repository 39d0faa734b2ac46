// The events reported at once, each as one waypoint: phases, the download milestone, warnings,
// downloads and installs.
#ifndef TEV_EVENTS_PROGRESS_EVENTS_H
#define TEV_EVENTS_PROGRESS_EVENTS_H

#include "../log/log.h"
#include "TEVText.h"

namespace tev {

// Texts are taken as the installer gives them, a null pointer as the empty text. Where the
// analytics library refuses any object of an event, the whole event is discarded.
class ProgressEvents {
public:
    explicit ProgressEvents(Log& log) : log_(log) {}
    ProgressEvents(const ProgressEvents&) = delete;
    ProgressEvents& operator=(const ProgressEvents&) = delete;

    // The phase's begin or end waypoint; nothing for a number that is not a phase. Not logged.
    void Phase(int phase, bool begin);
    void DownloadMilestone();
    void Warning(const TEVChar* message);

    enum class DownloadStep { Begin, Pause, Resume, End, Cancel };
    void Download(DownloadStep step, const TEVChar* url);
    // Both failures log "DownloadError" and differ only in the name of the number's attribute.
    void DownloadError(const TEVChar* url, const TEVChar* errorMessage, TEVUInt32 errorCode);
    void DownloadFailure(const TEVChar* url, const TEVChar* errorMessage, TEVUInt32 eventId);

    enum class InstallStep { Begin, End, Cancel };
    void Install(InstallStep step, const TEVChar* productName);
    // The error text is reported, never logged.
    void InstallError(const TEVChar* productName, const TEVChar* errorMessage);

private:
    struct Attribute {
        const TEVChar* name;
        const TEVChar* value;
    };
    // Writes the log line, then creates `waypoint` with the state `state` holding `attributes` in
    // order, and reaches it. The first object the library refuses makes the whole waypoint be
    // discarded with one Destroy; the attributes after it are not attempted.
    void Report(logformat::Token token, std::initializer_list<const TEVChar*> logged,
                const TEVChar* waypoint, const TEVChar* state,
                std::initializer_list<Attribute> attributes);
    void ReportDownloadFailure(const TEVChar* url, const TEVChar* errorMessage,
                               const TEVChar* numberAttribute, TEVUInt32 number);

    Log& log_;
};

}  // namespace tev

#endif
