// The benchmark binary's entry: a private temporary directory and a silent stand-in for every
// suite, a console report of the medians over the repetitions, then the summary of every figure
// against its floor.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <stdlib.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "KV8Control.h"
#include "support.h"

namespace bench {
namespace {

std::vector<Row>& Rows() {
    static std::vector<Row> rows;
    return rows;
}

std::string scratch;

// One repetition of one benchmark: CPU ns per iteration and its counters.
struct Sample {
    double nanoseconds;
    std::map<std::string, double> counters;
};

std::string KeyOf(const benchmark::BenchmarkReporter::Run& run) {
    const auto& name = run.run_name;
    return name.args.empty() ? name.function_name : name.function_name + "/" + name.args;
}

// Keeps every repetition for the summary and shows only the median and the coefficient of
// variation of each benchmark (or its one run), so that the console stays readable.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
    SummaryReporter() : ConsoleReporter(OO_None) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        std::vector<Run> shown;
        for (const Run& run : runs) {
            bool repetition = run.run_type == Run::RT_Iteration;
            if (repetition && !run.error_occurred && run.iterations > 0) {
                Sample sample{run.cpu_accumulated_time * 1e9 / static_cast<double>(run.iterations),
                              {}};
                for (const auto& [name, counter] : run.counters)
                    sample.counters[name] = counter.value;
                samples_[KeyOf(run)].push_back(std::move(sample));
            }
            bool aggregate = run.run_type == Run::RT_Aggregate &&
                             (run.aggregate_name == "median" || run.aggregate_name == "cv");
            if ((repetition && run.repetitions <= 1) || aggregate || run.error_occurred)
                shown.push_back(run);
        }
        if (!shown.empty()) ConsoleReporter::ReportRuns(shown);
    }

    // The median of a quantity over the repetitions, or a negative number when it did not run.
    double Median(const Quantity& quantity) const {
        auto found = samples_.find(quantity.benchmark);
        if (found == samples_.end()) return -1;
        std::vector<double> values;
        for (const Sample& sample : found->second) {
            if (quantity.counter.empty()) {
                values.push_back(sample.nanoseconds);
            } else {
                auto counter = sample.counters.find(quantity.counter);
                if (counter != sample.counters.end()) values.push_back(counter->second);
            }
        }
        if (values.empty()) return -1;
        return bench::Median(std::move(values)) / quantity.divisor;
    }

private:
    std::map<std::string, std::vector<Sample>> samples_;
};

std::string Format(double value, Unit unit) {
    char text[64];
    switch (unit) {
    case Unit::Time:
        if (value < 10)
            std::snprintf(text, sizeof text, "%.2f ns", value);
        else if (value < 1e3)
            std::snprintf(text, sizeof text, "%.0f ns", value);
        else if (value < 1e6)
            std::snprintf(text, sizeof text, "%.2f us", value / 1e3);
        else
            std::snprintf(text, sizeof text, "%.2f ms", value / 1e6);
        break;
    case Unit::Bytes: std::snprintf(text, sizeof text, "%.0f B", value); break;
    case Unit::Count:
        std::snprintf(text, sizeof text, value == static_cast<long long>(value) ? "%.0f" : "%.3f",
                      value);
        break;
    }
    return text;
}

std::string Goal(const Row& row) {
    char text[64];
    if (row.check == Check::RatioAtMost)
        std::snprintf(text, sizeof text, "<= %gx", row.limit);
    else if (row.check == Check::ValueAtMost)
        return "<= " + Format(row.limit, row.unit);
    else
        return "";
    return text;
}

void PrintSummary(const SummaryReporter& results) {
    std::vector<Row> rows = Rows();
    std::stable_sort(rows.begin(), rows.end(),
                     [](const Row& a, const Row& b) { return a.order < b.order; });
    std::printf(
        "\nSummary: CPU time per operation, each figure timed in rounds alternating with its "
        "floor.\nvalue and against: medians; ratio: the median of the rounds' ratios (or value / "
        "against,\nfor a larger size against a smaller one).\n");
    std::printf("%-52s %12s %12s %9s  %-12s %s\n", "figure", "value", "against", "ratio", "goal",
                "");
    std::string section;
    int met = 0, missed = 0;
    for (const Row& row : rows) {
        double value = results.Median(row.value);
        if (value < 0) continue;  // not run (filtered out, or failed)
        double against = row.against.benchmark.empty() ? -1 : results.Median(row.against);
        if (row.section != section) {
            section = row.section;
            std::printf("%s\n", section.c_str());
        }
        std::string ratioText;
        double ratio = row.ratio.benchmark.empty() ? -1 : results.Median(row.ratio);
        if (ratio < 0 && against > 0) ratio = value / against;
        if (ratio >= 0) {
            char text[32];
            std::snprintf(text, sizeof text, "%.2fx", ratio);
            ratioText = text;
        }
        const char* verdict = "";
        if (row.check == Check::RatioAtMost && ratio >= 0)
            verdict = ratio <= row.limit ? "met" : "MISSED";
        else if (row.check == Check::ValueAtMost)
            verdict = value <= row.limit ? "met" : "MISSED";
        if (*verdict) (*verdict == 'm' ? met : missed)++;
        std::printf("  %-50s %12s %12s %9s  %-12s %s\n", row.figure.c_str(),
                    Format(value, row.unit).c_str(),
                    against >= 0 ? Format(against, row.unit).c_str() : "", ratioText.c_str(),
                    Goal(row).c_str(), verdict);
    }
    std::printf("Goals: %d met, %d missed\n", met, missed);
}

}  // namespace

std::int64_t ThreadCpuNanoseconds() {
    timespec now;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

bool AddRow(const Row& row) {
    Rows().push_back(row);
    return true;
}

const std::string& ScratchDirectory() { return scratch; }

}  // namespace bench

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

    // A directory of our own, so that the log of a real run in the user's TMP is never touched.
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/tev-bench.XXXXXX";
    if (!mkdtemp(pattern.data())) {
        std::perror("tev_bench: cannot create a scratch directory");
        return 1;
    }
    bench::scratch = pattern;
    setenv("TMPDIR", pattern.c_str(), 1);
    // The heap keeps what it frees, so that a large run's memory is not handed back to the kernel
    // and faulted in afresh by the next: on this virtual machine fresh pages cost several times
    // more from one run to the next, which would swamp the figures of the largest runs.
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    mallopt(M_MMAP_THRESHOLD, 32 << 20);  // the largest glibc allows
    // Nothing but the measured work: no outbox file, no trace, no ownership ledger.
    unsetenv("KV8_OUTBOX");
    kv8::SetRecording(false);

    bench::SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    bench::PrintSummary(reporter);
    std::fflush(stdout);

    std::error_code ignored;
    std::filesystem::remove_all(bench::scratch, ignored);
    benchmark::Shutdown();
    return 0;
}
