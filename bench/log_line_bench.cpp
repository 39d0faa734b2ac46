// One line of the diagnostic log, against what any log line must cost: seek to the end, read the
// UTC time, and two writes of the same bytes, on a file in the same directory. (The Windows line
// is measured under Wine by log_line_win32_bench.cpp.)
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <ctime>
#include <string>

#include "../src/run/run.h"
#include "TEVUtil.h"
#include "support.h"

using namespace tev;

namespace {

// A typical line: a token and two fields, 74 bytes with its timestamp.
#define TYPICAL_TEXTS \
    { TEV_TEXT("a.setup"), TEV_TEXT("0") }

// Lines per batch. Both files are emptied after every round: a file growing by tens of megabytes
// a second would have the kernel write it back and throttle whichever side happened to be running.
constexpr int kLines = 2048;

void LogLine(benchmark::State& state) {
    // A run with its log, created anew in the scratch directory.
    if (!TEVUtil::InitML(true) || CurrentRun().TheLog().File() == platform::kNoFile)
        return state.SkipWithError("the diagnostic log could not be created");
    int logFile = static_cast<int>(CurrentRun().TheLog().File());
    std::string path = bench::ScratchDirectory() + "/floor.log";
    int floorFile = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    // The same bytes as the log's line, formatted once.
    TEVChar line[128];
    platform::CalendarTime today{};
    platform::operations.utcNow(today);
    std::size_t bytes =
        FormatLogLine(line, today, TEV_TEXT("SETUP"), {TEV_TEXT("a.setup"), TEV_TEXT("0")}) *
        sizeof(TEVChar);
    static const TEVChar kLineEnd[] = {TEV_TEXT('\r'), TEV_TEXT('\n')};

    bench::Rounds rounds = bench::Paired(
        state, kLines,
        [] {
            for (int i = 0; i < kLines; ++i)
                CurrentRun().TheLog().Write(logformat::Token::SetupAttribute, TYPICAL_TEXTS);
        },
        [&] {
            for (int i = 0; i < kLines; ++i) {
                if (lseek(floorFile, 0, SEEK_END) == -1) return;
                std::time_t now = std::time(nullptr);
                std::tm fields;
                benchmark::DoNotOptimize(gmtime_r(&now, &fields));
                benchmark::DoNotOptimize(write(floorFile, line, bytes));
                benchmark::DoNotOptimize(write(floorFile, kLineEnd, sizeof kLineEnd));
            }
        },
        [&] {
            if (ftruncate(logFile, 0) != 0 || ftruncate(floorFile, 0) != 0)
                state.SkipWithError("a file could not be emptied");
        });
    bench::Goal(state, "ratio <= 1.25x", rounds.Ratio() <= 1.25);
    close(floorFile);
    TEVUtil::ShutdownML();
}

BENCHMARK(LogLine);

}  // namespace
