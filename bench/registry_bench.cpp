// Looking up a known product in the registry, by a name in any letter case, with 10, 1,000 and
// 100,000 products. The floor is the same kind of map keyed by lower-cased names and asked with a
// lower-cased name: what is left between the two is the folding of the name.
//
// An installer reports a product's details one after another, so its lookups keep coming back to
// the products it is working on. The main figures ask 1,024 names in turn (every product of the
// smaller registries); the cold figure asks each of the 100,000 products once, in random order,
// so that nearly every step down the map misses the caches.
//
// A lookup of a known product must not allocate: the name is folded on the stack and compared as
// a view. Every allocation in the registry's batches is counted.
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

#include "../src/run/run_state.h"
#include "../src/setup_report/setup_report.h"
#include "TEVUtil.h"
#include "products.h"
#include "support.h"

using namespace tev;

namespace {

// Null-terminated names back to back, read in turn by the batches.
struct Queries {
    std::vector<TEVChar> text;
    std::vector<std::size_t> starts;

    void Add(const WideString& name) {
        starts.push_back(text.size());
        text.insert(text.end(), name.begin(), name.end());
        text.push_back(0);
    }
    const TEVChar* operator[](std::size_t index) const { return text.data() + starts[index]; }
    std::size_t size() const { return starts.size(); }
};

struct QuerySet {
    Queries mixed;    // as installers may spell them: random letter case
    Queries lowered;  // the same names, lower-cased, for the floor
};

struct Registry {
    ProductMap products;  // TEV's: swapped into the run while it is measured
    std::map<WideString, CMLWaypoint*, std::less<>> floor;
    std::vector<std::size_t> order;  // the products in random order
    QuerySet working;                // 1,024 names in turn
    QuerySet every;                  // each product once; made when first asked for
};

constexpr std::size_t kWorkingSet = 1024;

void AddQuery(QuerySet& set, std::size_t product, std::mt19937& random) {
    WideString name = bench::ProductName(product);
    for (TEVChar& unit : name)
        if (unit >= TEV_TEXT('a') && unit <= TEV_TEXT('z') && (random() & 1))
            unit = static_cast<TEVChar>(unit - TEV_TEXT('a') + TEV_TEXT('A'));
    set.mixed.Add(name);
    set.lowered.Add(bench::Lowered(name));
}

// Built once per size within an active run (the registry makes waypoints only then), and kept
// out of the run between measurements. Both maps grow side by side, amid the stand-in's objects,
// as the registry does in a run.
Registry& RegistryOf(std::size_t size) {
    static std::map<std::size_t, std::unique_ptr<Registry>> built;
    std::unique_ptr<Registry>& registry = built[size];
    if (registry) return *registry;
    registry = std::make_unique<Registry>();

    std::swap(runState.products, registry->products);
    for (std::size_t i = 0; i < size; ++i) {
        WideString key = bench::Lowered(bench::ProductName(i));
        CMLWaypoint* waypoint = GetProductWaypoint(key.c_str());
        registry->floor.emplace(key, waypoint);
    }
    std::swap(runState.products, registry->products);

    std::mt19937 random(20240607);
    registry->order.resize(size);
    for (std::size_t i = 0; i < size; ++i) registry->order[i] = i;
    std::shuffle(registry->order.begin(), registry->order.end(), random);
    for (std::size_t q = 0; q < kWorkingSet; ++q)
        AddQuery(registry->working, registry->order[q % size], random);
    return *registry;
}

const QuerySet& Working(Registry& registry) { return registry.working; }

const QuerySet& Every(Registry& registry) {
    if (registry.every.mixed.size() == 0) {
        std::mt19937 random(20240608);
        for (std::size_t product : registry.order) AddQuery(registry.every, product, random);
    }
    return registry.every;
}

// Lookups per batch.
constexpr std::size_t kLookups = 1024;

template <typename Pick>
void Lookups(benchmark::State& state, Pick pick) {
    TEVUtil::InitML(false);
    Registry& registry = RegistryOf(static_cast<std::size_t>(state.range(0)));
    const QuerySet& queries = pick(registry);
    std::swap(runState.products, registry.products);

    std::size_t next = 0, floorNext = 0, missing = 0;
    double allocations = 0, lookups = 0;
    bench::Paired(
        state, kLookups,
        [&] {
            std::uint64_t before = bench::Allocations();
            for (std::size_t i = 0; i < kLookups; ++i) {
                CMLWaypoint* waypoint = GetProductWaypoint(queries.mixed[next]);
                benchmark::DoNotOptimize(waypoint);
                missing += waypoint == nullptr;
                if (++next == queries.mixed.size()) next = 0;
            }
            allocations += static_cast<double>(bench::Allocations() - before);
            lookups += kLookups;
        },
        [&] {
            for (std::size_t i = 0; i < kLookups; ++i) {
                auto found = registry.floor.find(WideView(queries.lowered[floorNext]));
                benchmark::DoNotOptimize(found);
                missing += found == registry.floor.end();
                if (++floorNext == queries.lowered.size()) floorNext = 0;
            }
        });

    std::swap(runState.products, registry.products);
    TEVUtil::ShutdownML();
    state.counters["allocs"] = lookups ? allocations / lookups : 0;
    if (missing) state.SkipWithError("a known product was not found");
}

void Registry_Lookup(benchmark::State& state) { Lookups(state, Working); }
void Registry_Lookup_Cold(benchmark::State& state) { Lookups(state, Every); }

BENCHMARK(Registry_Lookup)->Arg(10)->Arg(1000)->Arg(100000);
BENCHMARK(Registry_Lookup_Cold)->Arg(100000);

const char kSection[] = "3 registry lookup of a known product, mixed case";

bool Size(int order, const char* products, double goalNanoseconds) {
    std::string subject = std::string("Registry_Lookup/") + products;
    std::string label = std::string(products) + " products";
    return bench::AddRow({.order = order,
                          .section = kSection,
                          .figure = "lookup, " + label,
                          .value = {subject, "ns"},
                          .against = {subject, "floor ns"},
                          .ratio = {subject, "ratio"},
                          .check = bench::Check::ValueAtMost,
                          .limit = goalNanoseconds}) &&
           bench::AddRow({.order = order + 50,
                          .section = kSection,
                          .figure = "allocations per lookup, " + label,
                          .value = {subject, "allocs"},
                          .unit = bench::Unit::Count,
                          .check = bench::Check::ValueAtMost,
                          .limit = 0});
}

[[maybe_unused]] const bool registered =
    Size(300, "10", 80) && Size(301, "1000", 200) && Size(302, "100000", 900) &&
    bench::AddRow({.order = 310,
                   .section = kSection,
                   .figure = "growth of a lookup, 100,000 / 1,000 products",
                   .value = {"Registry_Lookup/100000", "ns"},
                   .against = {"Registry_Lookup/1000", "ns"},
                   .check = bench::Check::RatioAtMost,
                   .limit = 6}) &&
    bench::AddRow({.order = 311,
                   .section = kSection,
                   .figure = "  the floor's growth, 100,000 / 1,000",
                   .value = {"Registry_Lookup/100000", "floor ns"},
                   .against = {"Registry_Lookup/1000", "floor ns"}}) &&
    bench::AddRow({.order = 320,
                   .section = kSection,
                   .figure = "cold lookup, each of 100000 products once",
                   .value = {"Registry_Lookup_Cold/100000", "ns"},
                   .against = {"Registry_Lookup_Cold/100000", "floor ns"},
                   .ratio = {"Registry_Lookup_Cold/100000", "ratio"}}) &&
    bench::AddRow({.order = 321,
                   .section = kSection,
                   .figure = "  cold growth, 100,000 cold / 1,000",
                   .value = {"Registry_Lookup_Cold/100000", "ns"},
                   .against = {"Registry_Lookup/1000", "ns"}}) &&
    bench::AddRow({.order = 370,
                   .section = kSection,
                   .figure = "allocations per lookup, cold, 100000 products",
                   .value = {"Registry_Lookup_Cold/100000", "allocs"},
                   .unit = bench::Unit::Count,
                   .check = bench::Check::ValueAtMost,
                   .limit = 0});

}  // namespace
