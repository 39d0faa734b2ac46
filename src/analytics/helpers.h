// The guarded helpers through which events are built. Each checks on its own that reporting is on.
#ifndef TEV_ANALYTICS_HELPERS_H
#define TEV_ANALYTICS_HELPERS_H

#include "TEVText.h"
#include "KV8.h"
#include "../decimal.h"

// Creates the attribute and adds it to `target`, which then owns it. Null when nothing was added:
// reporting off, no target, or the library made no attribute.
CMLAttribute* AttachTextAttribute(CMLState* target, const TEVChar* name, const TEVChar* value);
// The same, with the decimal text of `value`.
CMLAttribute* AttachIntAttribute(CMLState* target, const TEVChar* name, int value);

// "%d" of a 32-bit integer, held by value: no allocation.
struct DecimalText {
    TEVChar text[kMaxDecimalLength + 1];
    const TEVChar* c_str() const { return text; }
};
DecimalText FormatDecimal(int value);

// Hands the waypoint to the analytics library, which then owns it. False (and the waypoint stays
// the caller's) when reporting is off or there is no waypoint.
bool ReachWaypoint(CMLWaypoint* waypoint);

#endif
