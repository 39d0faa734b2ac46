// Control of the analytics library stand-in, for tests and the tev tool only.
//
// The stand-in records every call into the analytics interface (the trace, one JSON object per
// line), keeps a ledger of who owns each object, collects what was handed over, and can be told to
// refuse creations, GetState or Initialize.
#ifndef KV8_CONTROL_H
#define KV8_CONTROL_H

#include <string>
#include <vector>

#include "kv8_interface/KV8.h"
#include "base/text.h"

#if defined(_WIN32) && defined(KV8_BUILDING_LIBRARY)
#define KV8_CONTROL_API __declspec(dllexport)
#elif defined(_WIN32) && !defined(KV8_STATIC)
#define KV8_CONTROL_API __declspec(dllimport)
#else
#define KV8_CONTROL_API KV8_API
#endif

namespace kv8 {

enum class Kind { Waypoint, State, Attribute };

// What marks the stand-in as one, for `tev doctor` to flag it: on Windows its version information
// (the file description ends so); on Linux, which has none, an exported symbol of this name.
constexpr char kStandInDescription[] = "not for distribution";
constexpr char kStandInMarker[] = "kv8_standin_not_for_distribution";

// A refusal count that never runs out.
constexpr int kAlways = -1;

using tev::WideString;

struct DeliveredAttribute {
    WideString name;
    WideString value;
};

struct DeliveredState {
    WideString name;
    std::vector<DeliveredAttribute> attributes;
};

// One waypoint handed over: how ("initialize", "reached", "crash", "uninitialize") and what.
struct Delivery {
    std::string call;
    bool hasWaypoint = false;
    WideString waypoint;
    std::vector<DeliveredState> states;
};

// Forgets every object, the trace, the ledger, the refusals and what was delivered; the library is
// uninitialised again and ids restart from 1. Objects the caller still holds become invalid.
KV8_CONTROL_API void Reset();

// Trace, ledger and deliveries on (the default) or off, for benchmarks. With recording off, objects
// are freed as soon as they are destroyed or handed over, and misuse is not detected.
KV8_CONTROL_API void SetRecording(bool on);

KV8_CONTROL_API std::vector<std::string> Trace();
// The trace lines written since the last call of TakeTrace (or Reset).
KV8_CONTROL_API std::vector<std::string> TakeTrace();

// Refuse the next `count` creations of `kind` named `name` (kAlways: every one from now on).
// Refusals add up.
KV8_CONTROL_API void RefuseCreate(Kind kind, const WideString& name, int count = 1);
KV8_CONTROL_API void RefuseGetState(int count = 1);
// The next Initialize leaves the library uninitialised.
KV8_CONTROL_API void RefuseInitialize(int count = 1);
// The next GetKV8UserId gives null, as a library without an identifier may.
KV8_CONTROL_API void RefuseUserId(int count = 1);

// Misuse seen so far (adding an object twice, using what was handed over or destroyed, reaching a
// null or foreign waypoint), one sentence each.
KV8_CONTROL_API std::vector<std::string> Violations();
// Objects created and neither added, handed over nor destroyed, e.g. "waypoint 3 \"wp.setup\"".
KV8_CONTROL_API std::vector<std::string> CallerOwned();
KV8_CONTROL_API std::vector<Delivery> Deliveries();

}  // namespace kv8

#endif
