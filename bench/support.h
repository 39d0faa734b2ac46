// What the suites share: allocation accounting through a replaced global operator new, the paired
// measurement of a figure against its floor, and the summary that prints their ratios.
//
// This machine is shared and noisy: from one second to the next the same code runs at very
// different speeds. So no figure is read on its own. Each benchmark measures a figure and its
// floor (what the figure must cost at the least) in alternating batches, each batch timed on the
// thread's CPU clock, and keeps the medians over the rounds of each side's time per operation and
// of their ratio; a slow spell then falls on both sides alike. The summary prints, for each
// figure, the medians of those over the repetitions.
#ifndef TEV_BENCH_SUPPORT_H
#define TEV_BENCH_SUPPORT_H

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace bench {

// Every operator new of the process (ours, the stand-in's, the standard library's) is counted.
// The suites are single-threaded, so the counters are plain integers.
std::uint64_t Allocations();
// Bytes asked for and not yet given back.
std::int64_t LiveBytes();
// The highest LiveBytes since the last ResetPeak.
std::int64_t PeakBytes();
void ResetPeak();

// The calling thread's CPU time.
std::int64_t ThreadCpuNanoseconds();

double Median(std::vector<double> values);

// Measures `subject` against `floor`: each benchmark iteration is one round, in which each side
// runs once (each going first in turn), then `between` runs, untimed, to reset what a batch
// leaves (a full file, a grown waypoint). Each side runs `operations` operations per call. Sets
// the counters "ns" and "floor ns", the median over the rounds of CPU nanoseconds per operation,
// and "ratio", the median over the rounds of the one against the other. Google Benchmark's own
// time is that of whole rounds.
template <typename Subject, typename Floor, typename Between>
void Paired(benchmark::State& state, std::int64_t operations, Subject&& subject, Floor&& floor,
            Between&& between) {
    std::vector<double> subjectTimes, floorTimes, ratios;
    // Kept across calls, so that a benchmark of one round per repetition does not always run the
    // same side first.
    static bool subjectFirst = true;
    for (auto _ : state) {
        std::int64_t start = ThreadCpuNanoseconds();
        subjectFirst ? subject() : floor();
        std::int64_t middle = ThreadCpuNanoseconds();
        subjectFirst ? floor() : subject();
        std::int64_t end = ThreadCpuNanoseconds();
        double first = static_cast<double>(middle - start) / static_cast<double>(operations);
        double second = static_cast<double>(end - middle) / static_cast<double>(operations);
        subjectTimes.push_back(subjectFirst ? first : second);
        floorTimes.push_back(subjectFirst ? second : first);
        if (floorTimes.back() > 0) ratios.push_back(subjectTimes.back() / floorTimes.back());
        subjectFirst = !subjectFirst;
        between();
    }
    state.counters["ns"] = Median(std::move(subjectTimes));
    state.counters["floor ns"] = Median(std::move(floorTimes));
    state.counters["ratio"] = Median(std::move(ratios));
}

template <typename Subject, typename Floor>
void Paired(benchmark::State& state, std::int64_t operations, Subject&& subject, Floor&& floor) {
    Paired(state, operations, subject, floor, [] {});
}

// Where a figure comes from: the median over the repetitions of one of a benchmark's counters
// (or, with no counter named, of its CPU time per iteration, in ns), divided by `divisor` (e.g.
// the products of a whole run).
struct Quantity {
    Quantity() = default;
    Quantity(std::string benchmarkName, std::string counterName = "", double by = 1)
        : benchmark(std::move(benchmarkName)), counter(std::move(counterName)), divisor(by) {}

    std::string benchmark;  // function name, then "/" and the argument when it has one
    std::string counter;    // empty for the CPU time
    double divisor = 1;
};

enum class Unit { Time, Bytes, Count };

enum class Check {
    None,         // shown for information
    RatioAtMost,  // the ratio must not exceed `limit`
    ValueAtMost,  // value itself must not exceed `limit`
};

// One line of the summary. Rows are printed by `order`, and only when their benchmarks ran.
struct Row {
    int order = 0;
    std::string section{};  // printed when it changes, e.g. "1 log line"
    std::string figure{};   // what the line measures
    Quantity value{};
    Quantity against{};   // the floor (or, for a growth, the smaller size); may be empty
    Quantity ratio{};     // the paired ratio, when measured; otherwise value / against
    Unit unit = Unit::Time;
    Check check = Check::None;
    double limit = 0;
};

// Registers a row; returns true so that a suite can register at static initialisation.
bool AddRow(const Row& row);

// The directory the suites write their files in (TMPDIR points there while they run).
const std::string& ScratchDirectory();

}  // namespace bench

#endif
