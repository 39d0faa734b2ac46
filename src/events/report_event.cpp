#include "report_event.h"

#include "../analytics/helpers.h"
#include "../run/log.h"
#include "../run/run_state.h"

namespace tev {

void ReportEvent(std::initializer_list<const TEVChar*> logLine, const TEVChar* waypoint,
                 const TEVChar* state, std::initializer_list<EventAttribute> attributes) {
    Contained([&] {
        if (!runState.enabled) return;
        WriteLog(logLine);
        CMLWaypoint* event = CMLWaypoint::Create(waypoint);
        if (!event) return;
        CMLState* eventState = CMLState::Create(state);
        if (!eventState) return event->Destroy();
        event->Add(eventState);  // the state now belongs to the waypoint
        for (const EventAttribute& attribute : attributes)
            if (!AttachTextAttribute(eventState, attribute.name, attribute.value))
                return event->Destroy();  // takes the state and its attributes along
        ReachWaypoint(event);
    });
}

}  // namespace tev
