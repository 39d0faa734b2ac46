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

#include "../src/run/run_state.h"
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

void FloorProduct(const bench::Kept& product) {
    using bench::AddDetail;
    CMLWaypoint* waypoint = product.waypoint;
    AddDetail(waypoint, TEV_TEXT("s.product.content"),
              {{TEV_TEXT("a.product.contentname"), TEV_TEXT("Core")},
               {TEV_TEXT("a.product.contentpath"), kCorePath}});
    AddDetail(waypoint, TEV_TEXT("s.product.content"),
              {{TEV_TEXT("a.product.contentname"), TEV_TEXT("Help")},
               {TEV_TEXT("a.product.contentpath"), kHelpPath}});
    AddDetail(waypoint, TEV_TEXT("s.product.language"),
              {{TEV_TEXT("a.product.language"), TEV_TEXT("en-US")},
               {TEV_TEXT("a.product.islanguagedownloaded"), TEV_TEXT("1")}});
    AddDetail(waypoint, TEV_TEXT("s.product.language"),
              {{TEV_TEXT("a.product.language"), TEV_TEXT("de-DE")},
               {TEV_TEXT("a.product.islanguagedownloaded"), TEV_TEXT("0")}});
    AddDetail(waypoint, TEV_TEXT("s.product.feature"),
              {{TEV_TEXT("a.product.featurename"), TEV_TEXT("Debugger")},
               {TEV_TEXT("a.product.featureaction"), TEV_TEXT("3")}});
    AddDetail(waypoint, TEV_TEXT("s.product.feature"),
              {{TEV_TEXT("a.product.featurename"), TEV_TEXT("Samples")},
               {TEV_TEXT("a.product.featureaction"), TEV_TEXT("2")}});
    AddDetail(waypoint, TEV_TEXT("s.product.other"),
              {{TEV_TEXT("a.product.other.name"), TEV_TEXT("channel")},
               {TEV_TEXT("a.product.other.value"), TEV_TEXT("release")}});
    AddDetail(waypoint, TEV_TEXT("s.product.configured"),
              {{TEV_TEXT("a.product.configured.name"), TEV_TEXT("INSTALLDIR")},
               {TEV_TEXT("a.product.configured.value"), kInstallDir}});
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

void WholeRun(benchmark::State& state) {
    const Names& names = NamesOf(static_cast<std::size_t>(state.range(0)));
    std::int64_t peak = 0, floorPeak = 0;
    // Each size runs once untimed first, so that the heap already holds what a run of it needs.
    static std::map<std::size_t, bool> warmed;
    if (!warmed[names.given.size()]) {
        TevRun(names);
        FloorRun(names);
        warmed[names.given.size()] = true;
    }
    // What InitML would free of the last run is freed untimed, so that each run starts from none
    // of it and its peak is its own.
    runState.products.clear();
    bench::Paired(
        state, 1, [&] { peak = PeakOf([&] { TevRun(names); }); },
        [&] { floorPeak = PeakOf([&] { FloorRun(names); }); },
        [] { runState.products.clear(); });
    state.counters["peak bytes"] = static_cast<double>(peak);
    state.counters["floor peak bytes"] = static_cast<double>(floorPeak);
}

// Few repetitions: a round of the largest run takes seconds.
BENCHMARK(WholeRun)->Arg(10)->Arg(1000)->Arg(100000)->Repetitions(4)->MinTime(0.2);

const char kSection[] = "4 whole run, 10 details per product (no log; stand-in not recording)";

bool Size(int order, const char* products, double count) {
    std::string subject = std::string("WholeRun/") + products;
    return bench::AddRow({.order = order,
                          .section = kSection,
                          .figure = std::string("time per product, ") + products + " products",
                          .value = {subject, "ns", count},
                          .against = {subject, "floor ns", count},
                          .ratio = {subject, "ratio"}}) &&
           bench::AddRow({.order = order + 10,
                          .section = kSection,
                          .figure = std::string("peak memory per product, ") + products +
                                    " products",
                          .value = {subject, "peak bytes", count},
                          .against = {subject, "floor peak bytes", count},
                          .unit = bench::Unit::Bytes});
}

// A figure of the run of 100,000 products against that of the run of 1,000, per product or not.
bool Growth(int order, const char* figure, const char* counter, bool perProduct, bench::Unit unit,
            bench::Check check, double limit) {
    return bench::AddRow({.order = order,
                          .section = kSection,
                          .figure = figure,
                          .value = {"WholeRun/100000", counter, perProduct ? 100000.0 : 1.0},
                          .against = {"WholeRun/1000", counter, perProduct ? 1000.0 : 1.0},
                          .unit = unit,
                          .check = check,
                          .limit = limit});
}

[[maybe_unused]] const bool registered =
    Size(400, "10", 10) && Size(401, "1000", 1000) && Size(402, "100000", 100000) &&
    Growth(430, "growth of the time per product, 100,000 / 1,000", "ns", true, bench::Unit::Time,
           bench::Check::None, 0) &&
    Growth(431, "  the floor's, 100,000 / 1,000", "floor ns", true, bench::Unit::Time,
           bench::Check::None, 0) &&
    // The memory system makes a product of a large run dearer for anyone; what TEV adds to the
    // floor must not grow with the run.
    Growth(432, "linear: time over floor, 100,000 / 1,000", "ratio", false, bench::Unit::Count,
           bench::Check::RatioAtMost, 1.25) &&
    Growth(433, "linear: memory per product, 100,000 / 1,000", "peak bytes", true,
           bench::Unit::Bytes, bench::Check::RatioAtMost, 1.1) &&
    Growth(434, "  the floor's, 100,000 / 1,000", "floor peak bytes", true, bench::Unit::Bytes,
           bench::Check::None, 0);

}  // namespace
