#include "event_building.h"

namespace tev {

CMLAttribute* AttachAttribute(CMLState* target, const TEVChar* name, const TEVChar* value) {
    if (!target) return nullptr;
    CMLAttribute* attribute = CMLAttribute::Create(name, value);
    if (!attribute) return nullptr;
    target->Add(attribute);
    return attribute;
}

CMLState* AddState(CMLWaypoint* target, const TEVChar* name) {
    CMLState* state = CMLState::Create(name);
    if (state) target->Add(state);
    return state;
}

void ReachWaypoint(CMLWaypoint* waypoint) {
    if (waypoint) CMLFacade::WaypointReached(waypoint);
}

}  // namespace tev
