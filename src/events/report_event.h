// The one builder of the events that are reported at once (warnings, downloads, installs).
#ifndef TEV_EVENTS_REPORT_EVENT_H
#define TEV_EVENTS_REPORT_EVENT_H

#include <initializer_list>

#include "TEVText.h"

namespace tev {

struct EventAttribute {
    const TEVChar* name;
    const TEVChar* value;
};

// While reporting is on: writes the log line, then creates `waypoint` with the state `state`
// holding `attributes` in order, and reaches it. The first object the library refuses makes the
// whole waypoint be discarded with one Destroy; the attributes after it are not attempted.
void ReportEvent(std::initializer_list<const TEVChar*> logLine, const TEVChar* waypoint,
                 const TEVChar* state, std::initializer_list<EventAttribute> attributes);

}  // namespace tev

#endif
