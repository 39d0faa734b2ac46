// The process-wide record of the reporting run, and the guard that keeps failures inside entries.
#ifndef TEV_RUN_STATE_H
#define TEV_RUN_STATE_H

#include <functional>
#include <map>

#include "../platform/platform.h"
#include "../text.h"
#include "KV8.h"

// Product waypoints by lower-cased product name, in the order of their names' UTF-16 code units.
// std::less<> lets a name be looked up as a view, without building a key.
using ProductMap = std::map<WideString, CMLWaypoint*, std::less<>>;

// The references below are plain pointers: resetting them releases nothing. The system owns the
// setup waypoint and the product waypoints until ShutdownML hands them to the analytics library.
struct RunState {
    bool logEnabled = false;  // the diagnostic log was asked for by the last InitML
    bool enabled = false;     // reporting is on
    CMLWaypoint* setupWaypoint = nullptr;
    CMLState* setupState = nullptr;  // belongs to setupWaypoint
    ProductMap products;             // null where a product's waypoint could not be made
    platform::FileHandle logFile = platform::kNoFile;
};

// Unguarded: the installer calls the entries one at a time, from one thread.
extern RunState runState;

// Runs an entry's body. No exception leaves an entry into the installer: a failure (an allocation
// that cannot be satisfied) makes the entry give its refusal instead.
template <typename Result, typename Body>
Result Contained(Result refusal, Body body) noexcept {
    try {
        return body();
    } catch (...) {
        return refusal;
    }
}

template <typename Body>
void Contained(Body body) noexcept {
    try {
        body();
    } catch (...) {
    }
}

#endif
