#include "helpers.h"

#include "../run/run_state.h"

namespace tev {

CMLAttribute* AttachTextAttribute(CMLState* target, const TEVChar* name, const TEVChar* value) {
    if (!runState.enabled || !target) return nullptr;
    CMLAttribute* attribute = CMLAttribute::Create(name, value);
    if (!attribute) return nullptr;
    target->Add(attribute);  // the attribute now belongs to the state
    return attribute;
}

CMLAttribute* AttachIntAttribute(CMLState* target, const TEVChar* name, int value) {
    return AttachTextAttribute(target, name, FormatDecimal(value).c_str());
}

DecimalText FormatDecimal(int value) {
    DecimalText decimal;
    *WriteDecimal(decimal.text, value) = 0;
    return decimal;
}

void ReachWaypoint(CMLWaypoint* waypoint) {
    if (!waypoint) return;
    if (runState.enabled)
        CMLFacade::WaypointReached(waypoint);  // the library now owns the waypoint
    else
        waypoint->Destroy();
}

}  // namespace tev
