// What the Google Benchmark suites share: a figure against its floor in paired rounds, its goal,
// allocation accounting through a replaced global operator new, and a scratch directory.
//
// Each figure is one benchmark whose counters Google Benchmark reports: "ns" and "floor_ns" per
// operation and their "ratio" (medians over the rounds), and "met", 1 when the repetition meets
// the goal its label states. Repetitions are odd in number, so the median of "met" over them is 1
// exactly when most of them meet the goal.
#ifndef TEV_BENCH_SUPPORT_H
#define TEV_BENCH_SUPPORT_H

#include <benchmark/benchmark.h>
#include <time.h>

#include <cstdint>
#include <string>

#include "paired.h"

namespace bench {

// Every operator new of the process (ours, the stand-in's, the standard library's) is counted.
// The suites are single-threaded, so the counters are plain integers.
std::uint64_t Allocations();
// Bytes asked for and not yet given back, and their highest since the last ResetPeak.
std::int64_t LiveBytes();
std::int64_t PeakBytes();
void ResetPeak();

// The directory the suites write their files in (TMPDIR points there while they run).
const std::string& ScratchDirectory();

// The calling thread's CPU time: what other work on the machine does not add to.
inline double ThreadCpuNanoseconds() {
    timespec now;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e9 + static_cast<double>(now.tv_nsec);
}

using Rounds = PairedRounds<double (*)()>;

// One round per benchmark iteration; `between` runs after each, outside the rounds' clock, to undo
// what a round leaves (a full file, a grown waypoint). Sets "ns", "floor_ns" and "ratio".
template <typename Subject, typename Floor, typename Between>
Rounds Paired(benchmark::State& state, double operations, Subject&& subject, Floor&& floor,
              Between&& between) {
    Rounds rounds(ThreadCpuNanoseconds, operations);
    for (auto _ : state) {
        rounds.Round(subject, floor);
        between();
    }
    state.counters["ns"] = rounds.Subject();
    state.counters["floor_ns"] = rounds.Floor();
    state.counters["ratio"] = rounds.Ratio();
    return rounds;
}

// The goal, in the benchmark's label, and whether this repetition met it.
inline void Goal(benchmark::State& state, const std::string& goal, bool met) {
    state.SetLabel("goal: " + goal);
    state.counters["met"] = met;
}

}  // namespace bench

#endif
