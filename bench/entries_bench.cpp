// Entries of a run without a log, against the floor of making, adding and reaching (or keeping)
// the same objects straight through the analytics interface, with the stand-in not recording.
//
// Setup attributes and product details pile up on waypoints kept until the end of the run. Both
// sides keep them the same way and start afresh after every round of kCalls calls, outside the
// clock, so that neither measures an ever longer list nor the freeing of one.
#include <benchmark/benchmark.h>

#include "kv8_interface/KV8.h"
#include "TEVUtil.h"
#include "floor.h"
#include "support.h"

namespace {

// Calls per round.
constexpr int kCalls = 1024;

const TEVChar kProduct[] = TEV_TEXT("Studio");
const TEVChar kContentPath[] = TEV_TEXT("C:\\Program Files\\Studio\\core.msi");
const TEVChar kUrl[] = TEV_TEXT("https://downloads.example.com/studio/core.cab");
const TEVChar kInstallError[] = TEV_TEXT("Error 1603: a fatal error occurred during installation");

// A run as an installer has it when the entries are called: no log, a few products known.
void StartRun() {
    TEVUtil::InitML(false);
    for (const TEVChar* product : {TEV_TEXT("Studio"), TEV_TEXT("Runtime"), TEV_TEXT("Help"),
                                   TEV_TEXT("Studio.Samples"), TEV_TEXT("SDK")})
        TEVUtil::AddNRData(product, TEV_TEXT("size.mb"), TEV_TEXT("1536"));
}

// Times `entry` against `floor`, kCalls calls a side; the floor adds to `kept` (a waypoint as TEV
// keeps "wp.setup" or a product's), made anew with the run after each round.
template <typename Entry, typename Floor>
void Measure(benchmark::State& state, Entry entry, Floor floor, bench::Kept (*keep)() = nullptr) {
    StartRun();
    bench::Kept kept = keep ? keep() : bench::Kept();
    bench::Rounds rounds = bench::Paired(
        state, kCalls,
        [&] {
            for (int i = 0; i < kCalls; ++i) entry();
        },
        [&] {
            for (int i = 0; i < kCalls; ++i) floor(kept);
        },
        [&] {
            if (!keep) return;
            TEVUtil::ShutdownML();
            StartRun();
            kept.HandOver();
            kept = keep();
        });
    if (keep) kept.HandOver();
    TEVUtil::ShutdownML();
    bench::Goal(state, "ratio <= 1.5x", rounds.Ratio() <= 1.5);
}

void Setup_AddAttributeToSetup(benchmark::State& state) {
    Measure(
        state,
        [] {
            benchmark::DoNotOptimize(
                TEVUtil::AddAttributeToSetup(TEV_TEXT("setup.version"), TEV_TEXT("4.2.1")));
        },
        [](bench::Kept& setup) {
            bench::Attach(setup.state, TEV_TEXT("setup.version"), TEV_TEXT("4.2.1"));
        },
        [] {
            return bench::Kept(TEV_TEXT("wp.setup"), TEV_TEXT("s.setup"), TEV_TEXT("a.setup"),
                               TEV_TEXT("0"));
        });
}

void Product_AddContent(benchmark::State& state) {
    Measure(
        state,
        [] {
            benchmark::DoNotOptimize(TEVUtil::AddContent(kProduct, TEV_TEXT("Core"), kContentPath));
        },
        [](bench::Kept& product) {
            bench::AddDetail(product.waypoint, TEV_TEXT("s.product.content"),
                             {{TEV_TEXT("a.product.contentname"), TEV_TEXT("Core")},
                              {TEV_TEXT("a.product.contentpath"), kContentPath}});
        },
        [] {
            return bench::Kept(TEV_TEXT("wp.product"), TEV_TEXT("s.productlist"),
                               TEV_TEXT("a.product.name"), TEV_TEXT("studio"));
        });
}

// Events reported at once: nothing piles up.
void Event_DownloadBegin(benchmark::State& state) {
    Measure(
        state, [] { TEVUtil::DownloadBegin(kUrl); },
        [](bench::Kept&) {
            bench::ReachEvent(TEV_TEXT("wp.download"), TEV_TEXT("s.download.begin"),
                              {{TEV_TEXT("a.download.url"), kUrl},
                               {TEV_TEXT("a.state.name"), TEV_TEXT("s.download.begin")}});
        });
}

void Event_InstallError(benchmark::State& state) {
    Measure(
        state, [] { TEVUtil::InstallError(kProduct, kInstallError); },
        [](bench::Kept&) {
            bench::ReachEvent(TEV_TEXT("wp.product"), TEV_TEXT("s.install.error"),
                              {{TEV_TEXT("a.state.name"), TEV_TEXT("s.install.error")},
                               {TEV_TEXT("a.product.name"), kProduct},
                               {TEV_TEXT("a.install.errmsg"), kInstallError}});
        });
}

BENCHMARK(Setup_AddAttributeToSetup);
BENCHMARK(Product_AddContent);
BENCHMARK(Event_DownloadBegin);
BENCHMARK(Event_InstallError);

}  // namespace
