// A whole run without a log, from InitML through ShutdownML, with 10, 1,000 and 100,000 products
// of ten details each: time and peak memory per product, which must stay flat as the run grows.
// The floor makes, keeps and hands over the same objects through the analytics interface, in the
// same order, holding each product's waypoint by position instead of by name.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "../src/run/run.h"
#include "TEVUtil.h"
#include "floor.h"
#include "products.h"
#include "support.h"

using namespace tev;

namespace {

const TEVChar kCorePath[] = TEV_TEXT("C:\\Program Files\\Studio\\core.msi");
const TEVChar kHelpPath[] = TEV_TEXT("C:\\Program Files\\Studio\\help.msi");
const TEVChar kInstallDir[] = TEV_TEXT("C:\\Program Files\\Studio");

struct Names {
    std::vector<WideString> given;    // as the installer passes them
    std::vector<WideString> lowered;  // as the registry reports them
    std::vector<std::size_t> byName;  // positions in the order the registry hands them over
};

const Names& NamesOf(std::size_t count) {
    static std::map<std::size_t, Names> made;
    Names& names = made[count];
    if (names.given.size() == count) return names;
    for (std::size_t i = 0; i < count; ++i) {
        names.given.push_back(bench::ProductName(i));
        names.lowered.push_back(bench::Lowered(names.given.back()));
        names.byName.push_back(i);
    }
    std::sort(names.byName.begin(), names.byName.end(),
              [&](std::size_t a, std::size_t b) { return names.lowered[a] < names.lowered[b]; });
    return names;
}

// The ten details of one product, one of each kind and a second of the common ones.
void ReportProduct(const TEVChar* product) {
    TEVUtil::AddContent(product, TEV_TEXT("Core"), kCorePath);
    TEVUtil::AddContent(product, TEV_TEXT("Help"), kHelpPath);
    TEVUtil::AddLang(product, TEV_TEXT("en-US"), 1);
    TEVUtil::AddLang(product, TEV_TEXT("de-DE"), 0);
    TEVUtil::AddFeature(product, TEV_TEXT("Debugger"), 3);
    TEVUtil::AddFeature(product, TEV_TEXT("Samples"), 2);
    TEVUtil::AddCustom(product, TEV_TEXT("channel"), TEV_TEXT("release"));
    TEVUtil::AddConfiguredProperty(product, TEV_TEXT("INSTALLDIR"), kInstallDir);
    TEVUtil::AddNRData(product, TEV_TEXT("size.mb"), 1536);
    TEVUtil::AddNRData(product, TEV_TEXT("source"), TEV_TEXT("web"));
}

// The same ten details, as the objects TEV makes of them: a state and two attributes each, but
// for the last two, which are attributes of the product's list state.
struct Detail {
    const TEVChar *state, *name, *nameValue, *value, *valueValue;
};
const Detail kDetails[] = {
    {TEV_TEXT("s.product.content"), TEV_TEXT("a.product.contentname"), TEV_TEXT("Core"),
     TEV_TEXT("a.product.contentpath"), kCorePath},
    {TEV_TEXT("s.product.content"), TEV_TEXT("a.product.contentname"), TEV_TEXT("Help"),
     TEV_TEXT("a.product.contentpath"), kHelpPath},
    {TEV_TEXT("s.product.language"), TEV_TEXT("a.product.language"), TEV_TEXT("en-US"),
     TEV_TEXT("a.product.islanguagedownloaded"), TEV_TEXT("1")},
    {TEV_TEXT("s.product.language"), TEV_TEXT("a.product.language"), TEV_TEXT("de-DE"),
     TEV_TEXT("a.product.islanguagedownloaded"), TEV_TEXT("0")},
    {TEV_TEXT("s.product.feature"), TEV_TEXT("a.product.featurename"), TEV_TEXT("Debugger"),
     TEV_TEXT("a.product.featureaction"), TEV_TEXT("3")},
    {TEV_TEXT("s.product.feature"), TEV_TEXT("a.product.featurename"), TEV_TEXT("Samples"),
     TEV_TEXT("a.product.featureaction"), TEV_TEXT("2")},
    {TEV_TEXT("s.product.other"), TEV_TEXT("a.product.other.name"), TEV_TEXT("channel"),
     TEV_TEXT("a.product.other.value"), TEV_TEXT("release")},
    {TEV_TEXT("s.product.configured"), TEV_TEXT("a.product.configured.name"),
     TEV_TEXT("INSTALLDIR"), TEV_TEXT("a.product.configured.value"), kInstallDir},
};

void FloorProduct(const bench::Kept& product) {
    for (const Detail& detail : kDetails)
        bench::AddDetail(product.waypoint, detail.state,
                         {{detail.name, detail.nameValue}, {detail.value, detail.valueValue}});
    bench::Attach(product.state, TEV_TEXT("size.mb"), TEV_TEXT("1536"));
    bench::Attach(product.state, TEV_TEXT("source"), TEV_TEXT("web"));
}

void TevRun(const Names& names) {
    TEVUtil::InitML(false);
    for (const WideString& product : names.given) ReportProduct(product.c_str());
    TEVUtil::ShutdownML();
}

void FloorRun(const Names& names) {
    CMLFacade::Initialize(CMLWaypoint::Create(TEV_TEXT("COMMON.STARTUP")),
                          TEV_TEXT("/opt/setup/ORB/orbconfig.xml"), TEV_TEXT(""), 0, 0u, 0LL, 0LL,
                          TEV_TEXT(""), nullptr, true);
    bench::Kept setup(TEV_TEXT("wp.setup"), TEV_TEXT("s.setup"), TEV_TEXT("a.setup"),
                      TEV_TEXT("0"));
    std::vector<bench::Kept> products;
    products.reserve(names.lowered.size());
    for (const WideString& product : names.lowered) {
        products.emplace_back(TEV_TEXT("wp.product"), TEV_TEXT("s.productlist"),
                              TEV_TEXT("a.product.name"), product.c_str());
        FloorProduct(products.back());
    }
    setup.HandOver();
    for (std::size_t position : names.byName) products[position].HandOver();
    CMLFacade::Uninitialize(CMLWaypoint::Create(TEV_TEXT("COMMON.SHUTDOWN")), 0u);
}

// The peak of live bytes while `run` runs, above what was live when it began.
template <typename Run>
std::int64_t PeakOf(Run run) {
    std::int64_t before = bench::LiveBytes();
    bench::ResetPeak();
    run();
    return bench::PeakBytes() - before;
}

// Paired rounds of runs of `count` products, one per iteration of `state` (or, without one, 20),
// with the peaks' bytes per product.
struct Runs {
    bench::Rounds rounds{bench::ThreadCpuNanoseconds, 1};
    double bytes = 0, floorBytes = 0;
};

Runs Measure(std::size_t count, benchmark::State* state) {
    const Names& names = NamesOf(count);
    std::int64_t peak = 0, floorPeak = 0;
    // Each size runs once unmeasured first, so that the heap already holds what a run of it needs.
    static std::map<std::size_t, bool> warmed;
    if (!warmed[count]) {
        TevRun(names);
        FloorRun(names);
        warmed[count] = true;
    }
    // What InitML would free of the last run is freed outside the rounds, so that each run starts
    // from none of it and its peak is its own.
    CurrentRun().Report().Products().Map().clear();
    auto subject = [&] { peak = PeakOf([&] { TevRun(names); }); };
    auto floor = [&] { floorPeak = PeakOf([&] { FloorRun(names); }); };
    auto between = [] { CurrentRun().Report().Products().Map().clear(); };
    double products = static_cast<double>(count);
    Runs runs{state ? bench::Paired(*state, products, subject, floor, between)
                    : bench::Rounds(bench::ThreadCpuNanoseconds, products)};
    for (int round = 0; !state && round < 20; ++round) {
        runs.rounds.Round(subject, floor);
        between();
    }
    runs.bytes = static_cast<double>(peak) / products;
    runs.floorBytes = static_cast<double>(floorPeak) / products;
    return runs;
}

void WholeRun(benchmark::State& state) {
    std::size_t count = static_cast<std::size_t>(state.range(0));
    Runs runs = Measure(count, &state);
    state.counters["bytes"] = runs.bytes;
    state.counters["floor_bytes"] = runs.floorBytes;
    if (count <= 1000) return;

    // Linear: what TEV adds to the floor, and its memory per product, stay those of a run of 1,000
    // products. (The memory system makes a product of a large run dearer for anyone.)
    Runs reference = Measure(1000, nullptr);
    double time = runs.rounds.Ratio() / reference.rounds.Ratio();
    double memory = runs.bytes / reference.bytes;
    state.counters["time_growth"] = time;
    state.counters["bytes_growth"] = memory;
    bench::Goal(state, "growth over 1,000 products: time over floor <= 1.25x, memory <= 1.1x",
                time <= 1.25 && memory <= 1.1);
}

// Few repetitions: a round of the largest run takes seconds.
BENCHMARK(WholeRun)->Arg(10)->Arg(1000)->Arg(100000)->Repetitions(5)->MinTime(0.2);

}  // namespace
