// The analytics library's objects as the system builds them: attributes added to states, and
// waypoints handed over.
#ifndef TEV_ANALYTICS_EVENT_BUILDING_H
#define TEV_ANALYTICS_EVENT_BUILDING_H

#include "../kv8_interface/KV8.h"
#include "TEVText.h"

namespace tev {

// Creates the attribute and adds it to `target`, which then owns it. Null when nothing was added:
// no target, or the library made no attribute.
CMLAttribute* AttachAttribute(CMLState* target, const TEVChar* name, const TEVChar* value);

// Creates the state and adds it to `target`, which then owns it. Null when the library made none.
CMLState* AddState(CMLWaypoint* target, const TEVChar* name);

// Hands the waypoint to the analytics library, which then owns it. Nothing for a null waypoint.
void ReachWaypoint(CMLWaypoint* waypoint);

}  // namespace tev

#endif
