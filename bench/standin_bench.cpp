// The stand-in recording a long run (trace, ledger and deliveries on, as in the tests and the tev
// tool): 100,000 events against four times 25,000. A cost per event that grew with the run would
// show as a ratio near 4; the caches make a longer run somewhat dearer for anyone.
#include <benchmark/benchmark.h>

#include "KV8Control.h"
#include "floor.h"
#include "support.h"

namespace {

// `count` events of one state and two attributes each, reached, then everything forgotten.
void Record(int count) {
    for (int i = 0; i < count; ++i)
        bench::ReachEvent(TEV_TEXT("wp.download"), TEV_TEXT("s.download.begin"),
                          {{TEV_TEXT("a.download.url"), TEV_TEXT("https://example.com/a.cab")},
                           {TEV_TEXT("a.state.name"), TEV_TEXT("s.download.begin")}});
    kv8::Reset();
}

void StandIn_Recording(benchmark::State& state) {
    kv8::SetRecording(true);
    bench::Rounds rounds = bench::Paired(
        state, 100000, [] { Record(100000); },
        [] {
            for (int part = 0; part < 4; ++part) Record(25000);
        },
        [] {});
    bench::Goal(state, "ratio <= 1.5x", rounds.Ratio() <= 1.5);
    kv8::SetRecording(false);
}

BENCHMARK(StandIn_Recording)->Repetitions(5)->Iterations(1);

}  // namespace
