// Entries of a run without a log, against the floor of making, adding and reaching (or keeping)
// the same objects straight through the analytics interface, with the stand-in not recording.
//
// Setup attributes and product details pile up on waypoints kept until the end of the run. Both
// sides keep them the same way and start afresh after every batch of kCalls calls, untimed, so
// that neither measures an ever longer list nor the freeing of one.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "KV8.h"
#include "TEVUtil.h"
#include "floor.h"
#include "support.h"

namespace {

// Calls per batch; the kept waypoints start afresh after each round.
constexpr std::int64_t kCalls = 1024;

const TEVChar kSetupName[] = TEV_TEXT("setup.version");
const TEVChar kSetupValue[] = TEV_TEXT("4.2.1");
const TEVChar kProduct[] = TEV_TEXT("Studio");
const TEVChar kProductLowered[] = TEV_TEXT("studio");
const TEVChar kContentName[] = TEV_TEXT("Core");
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

void RestartRun() {
    TEVUtil::ShutdownML();
    StartRun();
}

using bench::Attach;
using bench::Kept;

Kept KeptSetup() {
    return Kept(TEV_TEXT("wp.setup"), TEV_TEXT("s.setup"), TEV_TEXT("a.setup"), TEV_TEXT("0"));
}

Kept KeptProduct() {
    return Kept(TEV_TEXT("wp.product"), TEV_TEXT("s.productlist"), TEV_TEXT("a.product.name"),
                kProductLowered);
}

// Runs `call` kCalls times.
template <typename Call>
auto Repeat(Call call) {
    return [call] {
        for (std::int64_t i = 0; i < kCalls; ++i) call();
    };
}

// ---- a setup attribute

void Setup_AddAttributeToSetup(benchmark::State& state) {
    StartRun();
    Kept setup = KeptSetup();
    bench::Paired(
        state, kCalls,
        Repeat([] {
            benchmark::DoNotOptimize(TEVUtil::AddAttributeToSetup(kSetupName, kSetupValue));
        }),
        Repeat([&] { Attach(setup.state, kSetupName, kSetupValue); }),
        [&] {
            RestartRun();
            setup.HandOver();
            setup = KeptSetup();
        });
    setup.HandOver();
    TEVUtil::ShutdownML();
}

// ---- a product detail on a known product

void Product_AddContent(benchmark::State& state) {
    StartRun();
    Kept product = KeptProduct();
    bench::Paired(
        state, kCalls,
        Repeat([] {
            benchmark::DoNotOptimize(TEVUtil::AddContent(kProduct, kContentName, kContentPath));
        }),
        Repeat([&] {
            bench::AddDetail(product.waypoint, TEV_TEXT("s.product.content"),
                             {{TEV_TEXT("a.product.contentname"), kContentName},
                              {TEV_TEXT("a.product.contentpath"), kContentPath}});
        }),
        [&] {
            RestartRun();
            product.HandOver();
            product = KeptProduct();
        });
    product.HandOver();
    TEVUtil::ShutdownML();
}

// ---- events reported at once: nothing piles up

void Event_DownloadBegin(benchmark::State& state) {
    StartRun();
    const TEVChar* stateName = TEV_TEXT("s.download.begin");
    bench::Paired(state, kCalls, Repeat([] { TEVUtil::DownloadBegin(kUrl); }), Repeat([&] {
                      bench::ReachEvent(TEV_TEXT("wp.download"), stateName,
                                        {{TEV_TEXT("a.download.url"), kUrl},
                                         {TEV_TEXT("a.state.name"), stateName}});
                  }));
    TEVUtil::ShutdownML();
}

void Event_InstallError(benchmark::State& state) {
    StartRun();
    const TEVChar* stateName = TEV_TEXT("s.install.error");
    bench::Paired(state, kCalls, Repeat([] { TEVUtil::InstallError(kProduct, kInstallError); }),
                  Repeat([&] {
                      bench::ReachEvent(TEV_TEXT("wp.product"), stateName,
                                        {{TEV_TEXT("a.state.name"), stateName},
                                         {TEV_TEXT("a.product.name"), kProduct},
                                         {TEV_TEXT("a.install.errmsg"), kInstallError}});
                  }));
    TEVUtil::ShutdownML();
}

BENCHMARK(Setup_AddAttributeToSetup);
BENCHMARK(Product_AddContent);
BENCHMARK(Event_DownloadBegin);
BENCHMARK(Event_InstallError);

bool Figure(int order, const char* figure, const char* benchmark) {
    std::string subject = benchmark;
    return bench::AddRow({
        .order = order,
        .section = "2 unlogged entries (no log; stand-in not recording)",
        .figure = figure,
        .value = {subject, "ns"},
        .against = {subject, "floor ns"},
        .ratio = {subject, "ratio"},
        .check = bench::Check::RatioAtMost,
        .limit = 1.5,
    });
}

[[maybe_unused]] const bool registered =
    Figure(200, "AddAttributeToSetup (text)", "Setup_AddAttributeToSetup") &&
    Figure(201, "AddContent on a known product", "Product_AddContent") &&
    Figure(202, "DownloadBegin", "Event_DownloadBegin") &&
    Figure(203, "InstallError", "Event_InstallError");

}  // namespace
