// The process-wide record of the reporting run, and the guard that keeps failures inside entries.
#ifndef TEV_RUN_STATE_H
#define TEV_RUN_STATE_H

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>

#include "../platform/platform.h"
#include "../text.h"
#include "KV8.h"

namespace tev {

// The order of names by their UTF-16 code units, as std::less<> gives it, found four code units at
// a time: product names share long prefixes ("studio.core-..."), and the standard library compares
// 16-bit code units one by one. Transparent, so that a name is looked up as a view, without
// building a key.
struct CodeUnitOrder {
    using is_transparent = void;

    bool operator()(WideView a, WideView b) const noexcept {
        static_assert(sizeof(TEVChar) == 2 && std::endian::native == std::endian::little);
        std::size_t common = a.size() < b.size() ? a.size() : b.size();
        std::size_t i = 0;
        for (; i + 4 <= common; i += 4) {
            std::uint64_t left, right;
            std::memcpy(&left, a.data() + i, sizeof left);
            std::memcpy(&right, b.data() + i, sizeof right);
            if (left != right) {
                // Little-endian: the lowest differing bit lies in the first differing code unit.
                i += static_cast<std::size_t>(std::countr_zero(left ^ right)) / 16;
                return a[i] < b[i];
            }
        }
        for (; i < common; ++i)
            if (a[i] != b[i]) return a[i] < b[i];
        return a.size() < b.size();
    }
};

// Product waypoints by lower-cased product name, in the order of their names' UTF-16 code units.
using ProductMap = std::map<WideString, CMLWaypoint*, CodeUnitOrder>;

// The references below are plain pointers: resetting them releases nothing. The system owns the
// setup waypoint and the product waypoints until ShutdownML hands them to the analytics library.
struct RunState {
    bool enabled = false;  // reporting is on
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

}  // namespace tev

#endif
