// The guarded helpers through which events are built. Each checks on its own that reporting is on.
#ifndef TEV_ANALYTICS_HELPERS_H
#define TEV_ANALYTICS_HELPERS_H

#include "TEVText.h"
#include "KV8.h"
#include "../decimal.h"

namespace tev {

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

// Takes the waypoint from the caller, whatever happens: hands it to the analytics library, which
// then owns it, or, while reporting is off, destroys it unsent. Nothing for a null waypoint.
void ReachWaypoint(CMLWaypoint* waypoint);

}  // namespace tev

#endif
