// The floors' side of the analytics interface: the objects an entry hands over, made, added and
// reached straight through the interface with nothing else around them.
#ifndef TEV_BENCH_FLOOR_H
#define TEV_BENCH_FLOOR_H

#include <initializer_list>
#include <utility>

#include "kv8_interface/KV8.h"

namespace bench {

// Creates an attribute and adds it, as every caller of the interface must.
inline void Attach(CMLState* state, const TEVChar* name, const TEVChar* value) {
    if (CMLAttribute* attribute = CMLAttribute::Create(name, value))
        state->Add(attribute);  // the attribute now belongs to the state
}

// A state with its attributes, added to `waypoint`.
inline void AddDetail(CMLWaypoint* waypoint, const TEVChar* stateName,
                      std::initializer_list<std::pair<const TEVChar*, const TEVChar*>> attributes) {
    CMLState* detail = CMLState::Create(stateName);
    if (!detail) return;
    waypoint->Add(detail);  // the state now belongs to the waypoint
    for (const auto& [name, value] : attributes) Attach(detail, name, value);
}

// A waypoint holding one state with one attribute, kept by the caller until it is handed over:
// what "wp.setup" and each product's waypoint are to TEV.
struct Kept {
    CMLWaypoint* waypoint = nullptr;
    CMLState* state = nullptr;

    Kept() = default;
    Kept(const TEVChar* waypointName, const TEVChar* stateName, const TEVChar* name,
         const TEVChar* value)
        : waypoint(CMLWaypoint::Create(waypointName)), state(CMLState::Create(stateName)) {
        Attach(state, name, value);
        waypoint->Add(state);  // the state now belongs to the waypoint
    }
    void HandOver() { CMLFacade::WaypointReached(waypoint); }  // the library now owns it
};

// An event reported at once: one waypoint, one state, its attributes, reached.
inline void ReachEvent(
    const TEVChar* waypointName, const TEVChar* stateName,
    std::initializer_list<std::pair<const TEVChar*, const TEVChar*>> attributes) {
    CMLWaypoint* event = CMLWaypoint::Create(waypointName);
    if (!event) return;
    CMLState* eventState = CMLState::Create(stateName);
    if (!eventState) return event->Destroy();
    event->Add(eventState);  // the state now belongs to the waypoint
    for (const auto& [name, value] : attributes) Attach(eventState, name, value);
    CMLFacade::WaypointReached(event);  // the library now owns the event
}

}  // namespace bench

#endif
