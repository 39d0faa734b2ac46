// One line of the diagnostic log, against what any log line must cost: seek to the end, read the
// UTC time, and two writes of the same bytes, on a file in the same directory.
//
// The Windows build writes its log through SetFilePointer, GetSystemTime and WriteFile; its line is
// measured under Wine against a floor of those same calls by log_line_win32_bench.cpp.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <ctime>
#include <string>

#include "../src/run/log.h"
#include "../src/run/run_state.h"
#include "TEVUtil.h"
#include "support.h"

using namespace tev;

namespace {

// A typical line: a token and two fields, 74 bytes with its timestamp.
#define TYPICAL_LINE {TEV_TEXT("SETUP"), TEV_TEXT("a.setup"), TEV_TEXT("0")}

// Lines per batch. Both files are emptied after every round, untimed: a file growing by tens of
// megabytes a second would have the kernel write it back and throttle the writer, a cost that
// would land on whichever side happened to be running.
constexpr std::int64_t kLines = 2048;

void LogLine(benchmark::State& state) {
    // A run with its log, created anew in the scratch directory.
    if (!TEVUtil::InitML(true) || runState.logFile == platform::kNoFile) {
        state.SkipWithError("the diagnostic log could not be created");
        return;
    }
    int logFile = static_cast<int>(runState.logFile);

    std::string path = bench::ScratchDirectory() + "/floor.log";
    int floorFile = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (floorFile < 0) {
        state.SkipWithError("the floor's file could not be created");
        TEVUtil::ShutdownML();
        return;
    }
    // The same bytes as the log's line, formatted once.
    TEVChar line[128];
    platform::CalendarTime today{};
    platform::operations.utcNow(today);
    std::size_t bytes = FormatLogLine(line, today, TYPICAL_LINE) * sizeof(TEVChar);
    static const TEVChar kLineEnd[] = {TEV_TEXT('\r'), TEV_TEXT('\n')};

    bench::Paired(
        state, kLines,
        [] {
            for (std::int64_t i = 0; i < kLines; ++i) WriteLog(TYPICAL_LINE);
        },
        [&] {
            for (std::int64_t i = 0; i < kLines; ++i) {
                if (lseek(floorFile, 0, SEEK_END) == -1) return;
                std::time_t now = std::time(nullptr);
                std::tm fields;
                gmtime_r(&now, &fields);
                benchmark::DoNotOptimize(fields);
                benchmark::DoNotOptimize(write(floorFile, line, bytes));
                benchmark::DoNotOptimize(write(floorFile, kLineEnd, sizeof kLineEnd));
            }
        },
        [&] {
            if (ftruncate(logFile, 0) != 0 || ftruncate(floorFile, 0) != 0)
                state.SkipWithError("a file could not be emptied");
        });

    close(floorFile);
    TEVUtil::ShutdownML();
}

BENCHMARK(LogLine);

[[maybe_unused]] const bool registered = bench::AddRow({
    .order = 100,
    .section = "1 log line (logging on)",
    .figure = "WriteLog, token and two fields (74 bytes)",
    .value = {"LogLine", "ns"},
    .against = {"LogLine", "floor ns"},
    .ratio = {"LogLine", "ratio"},
    .check = bench::Check::RatioAtMost,
    .limit = 1.25,
});

}  // namespace
