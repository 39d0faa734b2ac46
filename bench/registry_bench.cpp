// Looking up a known product in the registry, by a name in any letter case, with 10, 1,000 and
// 100,000 products. The floor is the same kind of map keyed by lower-cased names and asked with a
// lower-cased name: what is left between the two is the folding of the name.
//
// An installer reports a product's details one after another, so its lookups keep coming back to
// the products it is working on: the benchmark asks 1,024 names in turn (every product of the
// smaller registries).
//
// A lookup of a known product must not allocate: the name is folded on the stack and compared as
// a view. Every allocation in the registry's batches is counted ("allocs", in all).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "../src/run/run.h"
#include "TEVUtil.h"
#include "products.h"
#include "support.h"

using namespace tev;

namespace {

struct Registry {
    ProductMap products;  // TEV's: swapped into the run while it is measured
    std::map<WideString, CMLWaypoint*, std::less<>> floor;
    std::vector<WideString> mixed;    // 1,024 names in turn, in random letter case
    std::vector<WideString> lowered;  // the same names, lower-cased, for the floor
};

// Built once per size within an active run (the registry makes waypoints only then), and kept
// out of the run between measurements. Both maps grow side by side, amid the stand-in's objects,
// as the registry does in a run.
Registry& RegistryOf(std::size_t size) {
    static std::map<std::size_t, std::unique_ptr<Registry>> built;
    std::unique_ptr<Registry>& registry = built[size];
    if (registry) return *registry;
    registry = std::make_unique<Registry>();

    std::swap(CurrentRun().Report().Products().Map(), registry->products);
    for (std::size_t i = 0; i < size; ++i) {
        WideString key = bench::Lowered(bench::ProductName(i));
        CMLWaypoint* waypoint = CurrentRun().Report().Products().FindOrAdd(key.c_str());
        registry->floor.emplace(key, waypoint);
    }
    std::swap(CurrentRun().Report().Products().Map(), registry->products);

    std::mt19937 random(20240607);
    std::vector<std::size_t> order(size);  // the products in random order
    for (std::size_t i = 0; i < size; ++i) order[i] = i;
    std::shuffle(order.begin(), order.end(), random);
    for (std::size_t q = 0; q < 1024; ++q) {
        WideString name = bench::ProductName(order[q % size]);
        for (TEVChar& unit : name)
            if (unit >= TEV_TEXT('a') && unit <= TEV_TEXT('z') && (random() & 1))
                unit = static_cast<TEVChar>(unit - TEV_TEXT('a') + TEV_TEXT('A'));
        registry->mixed.push_back(name);
        registry->lowered.push_back(bench::Lowered(name));
    }
    return *registry;
}

// Lookups per batch.
constexpr std::size_t kLookups = 1024;

void Registry_Lookup(benchmark::State& state) {
    TEVUtil::InitML(false);
    Registry& registry = RegistryOf(static_cast<std::size_t>(state.range(0)));
    const std::vector<WideString>& mixed = registry.mixed;
    const std::vector<WideString>& lowered = registry.lowered;
    std::swap(CurrentRun().Report().Products().Map(), registry.products);

    std::size_t next = 0, floorNext = 0, missing = 0;
    std::uint64_t allocations = 0;
    bench::Rounds rounds = bench::Paired(
        state, kLookups,
        [&] {
            std::uint64_t before = bench::Allocations();
            for (std::size_t i = 0; i < kLookups; ++i) {
                CMLWaypoint* waypoint =
                    CurrentRun().Report().Products().FindOrAdd(mixed[next].c_str());
                benchmark::DoNotOptimize(waypoint);
                missing += waypoint == nullptr;
                if (++next == mixed.size()) next = 0;
            }
            allocations += bench::Allocations() - before;
        },
        [&] {
            for (std::size_t i = 0; i < kLookups; ++i) {
                auto found = registry.floor.find(WideView(lowered[floorNext]));
                benchmark::DoNotOptimize(found);
                missing += found == registry.floor.end();
                if (++floorNext == lowered.size()) floorNext = 0;
            }
        },
        [] {});

    std::swap(CurrentRun().Report().Products().Map(), registry.products);
    TEVUtil::ShutdownML();
    state.counters["allocs"] = static_cast<double>(allocations);
    if (missing) state.SkipWithError("a known product was not found");
    double goal = state.range(0) <= 10 ? 80 : state.range(0) <= 1000 ? 200 : 900;
    bench::Goal(state, "ns <= " + std::to_string(static_cast<int>(goal)) + ", allocs = 0",
                rounds.Subject() <= goal && allocations == 0);
}

BENCHMARK(Registry_Lookup)->Arg(10)->Arg(1000)->Arg(100000);

}  // namespace
