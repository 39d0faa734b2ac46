// One line of the diagnostic log on Windows, against what any log line must cost there: move to the
// end of the file (SetFilePointer), read the UTC time (GetSystemTime), and two WriteFile calls of
// the same bytes, on a file in the same temporary directory.
//
// Google Benchmark is not built for the cross build, so this program is its own harness, measuring
// as the Linux suites do (support.h): each round times a batch of lines through WriteLog and a batch
// through the floor, back to back, the side that goes first alternating from round to round; a
// repetition keeps the medians over its rounds of each side's time per line and of their ratio, and
// the summary prints the medians of those over the repetitions.
//
// The clock is QueryPerformanceCounter, the elapsed time. Under Wine, GetThreadTimes only counts in
// the host's scheduler ticks (10 ms), coarser than a whole batch; and the elapsed time also takes in
// what Wine's server does for a call, which is part of a line's cost on both sides. A busy spell
// lengthens one round's two batches alike, and the medians leave the odd preempted batch out.
//
// Usage: tev_log_line_win32_bench [REPETITIONS [ROUNDS]]   (defaults 12 and 150)
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "../src/run/log.h"
#include "../src/run/run_state.h"
#include "KV8Control.h"
#include "TEVUtil.h"

using namespace tev;

namespace {

// A typical line: a token and two fields.
#define TYPICAL_LINE {TEV_TEXT("SETUP"), TEV_TEXT("a.setup"), TEV_TEXT("0")}

// Lines per batch: about half a millisecond at the floor's pace, short enough that a preemption
// spoils few rounds, long enough that the clock's reads (a few tens of ns) do not count. Both files
// are emptied after every round, untimed, so that each batch writes the same stretch of file.
constexpr int kLines = 256;

constexpr double kGoal = 1.3;  // WriteLog over its floor, at most

// Where the log and the floor's file lie: a directory of our own in the user's temporary directory,
// which TMP and TEMP then name, so that the log of a real run is never touched.
struct Scratch {
    std::wstring directory;

    bool Create() {
        wchar_t base[MAX_PATH];
        DWORD length = GetTempPathW(MAX_PATH, base);
        if (length == 0 || length >= MAX_PATH) return false;
        for (unsigned attempt = 0; attempt < 100; ++attempt) {
            std::wstring candidate = std::wstring(base) + L"tev-bench-" +
                                     std::to_wstring(GetCurrentProcessId()) + L"-" +
                                     std::to_wstring(attempt);
            if (CreateDirectoryW(candidate.c_str(), nullptr)) {
                directory = candidate + L"\\";
                return SetEnvironmentVariableW(L"TMP", directory.c_str()) &&
                       SetEnvironmentVariableW(L"TEMP", directory.c_str());
            }
            if (GetLastError() != ERROR_ALREADY_EXISTS) return false;
        }
        return false;
    }

    std::wstring Path(const wchar_t* name) const { return directory + name; }

    ~Scratch() {
        if (directory.empty()) return;
        DeleteFileW(Path(L"Setup_TEV.log").c_str());
        DeleteFileW(Path(L"floor.log").c_str());
        RemoveDirectoryW(directory.c_str());
    }
};

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

std::int64_t Ticks() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

std::int64_t FileSize(HANDLE file) {
    LARGE_INTEGER size;
    return GetFileSizeEx(file, &size) ? size.QuadPart : -1;
}

bool Empty(HANDLE file) {
    return SetFilePointer(file, 0, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
           SetEndOfFile(file);
}

// One repetition's medians, in ns per line.
struct Result {
    double value, floor, ratio;
};

class LogLineBench {
public:
    LogLineBench(HANDLE log, HANDLE floorFile, const TEVChar* line, DWORD lineBytes)
        : log_(log), floorFile_(floorFile), line_(line), lineBytes_(lineBytes) {}

    void Subject() const {
        for (int i = 0; i < kLines; ++i) WriteLog(TYPICAL_LINE);
    }

    void Floor() const {
        static const TEVChar kLineEnd[] = {TEV_TEXT('\r'), TEV_TEXT('\n')};
        DWORD written;
        for (int i = 0; i < kLines; ++i) {
            if (SetFilePointer(floorFile_, 0, nullptr, FILE_END) == INVALID_SET_FILE_POINTER) return;
            SYSTEMTIME now;
            GetSystemTime(&now);
            WriteFile(floorFile_, line_, lineBytes_, &written, nullptr);
            WriteFile(floorFile_, kLineEnd, sizeof kLineEnd, &written, nullptr);
        }
    }

    // Both sides must have written a batch of lines, of about the same length (a timestamp's
    // fields may gain or lose a digit between the two): a log that was not written, or a floor
    // that stopped short, would make any ratio meaningless.
    bool BothWrote() const {
        std::int64_t logBytes = FileSize(log_), floorBytes = FileSize(floorFile_);
        std::int64_t expected = static_cast<std::int64_t>(kLines) * (lineBytes_ + 4);
        std::int64_t slack = static_cast<std::int64_t>(kLines) * 6 * 2;  // a digit per field
        return floorBytes == expected && logBytes >= expected - slack &&
               logBytes <= expected + slack;
    }

    // `rounds` rounds; false when a round's files were not as they must be.
    bool Repeat(int rounds, Result& result) {
        std::vector<double> subjectTimes, floorTimes, ratios;
        for (int round = 0; round < rounds; ++round) {
            std::int64_t start = Ticks();
            subjectFirst_ ? Subject() : Floor();
            std::int64_t middle = Ticks();
            subjectFirst_ ? Floor() : Subject();
            std::int64_t end = Ticks();
            double first = Nanoseconds(middle - start), second = Nanoseconds(end - middle);
            subjectTimes.push_back(subjectFirst_ ? first : second);
            floorTimes.push_back(subjectFirst_ ? second : first);
            if (floorTimes.back() > 0) ratios.push_back(subjectTimes.back() / floorTimes.back());
            subjectFirst_ = !subjectFirst_;
            if (!BothWrote() || !Empty(log_) || !Empty(floorFile_)) return false;
        }
        result = {Median(subjectTimes), Median(floorTimes), Median(ratios)};
        return true;
    }

private:
    double Nanoseconds(std::int64_t ticks) const {
        static const double nsPerTick = [] {
            LARGE_INTEGER frequency;
            QueryPerformanceFrequency(&frequency);
            return 1e9 / static_cast<double>(frequency.QuadPart);
        }();
        return static_cast<double>(ticks) * nsPerTick / kLines;
    }

    HANDLE log_, floorFile_;
    const TEVChar* line_;
    DWORD lineBytes_;
    bool subjectFirst_ = true;
};

std::string Format(double nanoseconds) {
    char text[32];
    if (nanoseconds < 1e3)
        std::snprintf(text, sizeof text, "%.0f ns", nanoseconds);
    else
        std::snprintf(text, sizeof text, "%.2f us", nanoseconds / 1e3);
    return text;
}

int Fail(const char* what) {
    std::fprintf(stderr, "tev_log_line_win32_bench: %s (error %lu)\n", what, GetLastError());
    return 1;
}

int Run(int repetitions, int rounds) {
    Scratch scratch;
    if (!scratch.Create()) return Fail("cannot create a scratch directory");
    // Nothing but the measured work: no outbox file, no trace, no ownership ledger.
    SetEnvironmentVariableW(L"KV8_OUTBOX", nullptr);
    kv8::SetRecording(false);

    // A run with its log, created anew in the scratch directory.
    if (!TEVUtil::InitML(true) || runState.logFile == platform::kNoFile)
        return Fail("the diagnostic log could not be created");
    HANDLE log = reinterpret_cast<HANDLE>(runState.logFile);
    HANDLE floorFile = CreateFileW(scratch.Path(L"floor.log").c_str(), GENERIC_READ | GENERIC_WRITE,
                                   0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (floorFile == INVALID_HANDLE_VALUE) {
        TEVUtil::ShutdownML();
        return Fail("the floor's file could not be created");
    }

    // The same bytes as the log's line, formatted once.
    TEVChar line[128];
    platform::CalendarTime today{};
    platform::operations.utcNow(today);
    DWORD lineBytes = static_cast<DWORD>(FormatLogLine(line, today, TYPICAL_LINE) * sizeof(TEVChar));
    int typicalBytes = static_cast<int>(lineBytes) + 4;  // with CR LF

    LogLineBench bench(log, floorFile, line, lineBytes);
    std::printf("Elapsed time (QueryPerformanceCounter) per line, %d repetitions of %d rounds of "
                "%d lines a side;\nthe medians over each repetition's rounds:\n",
                repetitions, rounds, kLines);
    std::printf("%-12s %12s %12s %9s\n", "repetition", "WriteLog", "floor", "ratio");

    Result warmUp;
    bool ok = Empty(log) && bench.Repeat(4, warmUp);
    std::vector<double> values, floors, ratios;
    for (int repetition = 1; ok && repetition <= repetitions; ++repetition) {
        Result result;
        ok = bench.Repeat(rounds, result);
        if (!ok) break;
        values.push_back(result.value);
        floors.push_back(result.floor);
        ratios.push_back(result.ratio);
        std::printf("%-12d %12s %12s %8.2fx\n", repetition, Format(result.value).c_str(),
                    Format(result.floor).c_str(), result.ratio);
    }
    CloseHandle(floorFile);
    TEVUtil::ShutdownML();
    if (!ok) return Fail("a batch did not write the lines it should have");

    double value = Median(values), floor = Median(floors), ratio = Median(ratios);
    std::printf(
        "\nSummary: elapsed time per operation, each figure timed in rounds alternating with its "
        "floor.\nvalue and against: medians; ratio: the median of the rounds' ratios.\n");
    std::printf("%-52s %12s %12s %9s  %-12s %s\n", "figure", "value", "against", "ratio", "goal",
                "");
    std::printf("1 log line, Windows (logging on; Wine)\n");
    char figure[64], ratioText[16], goal[16];
    std::snprintf(figure, sizeof figure, "WriteLog, token and two fields (%d bytes)", typicalBytes);
    std::snprintf(ratioText, sizeof ratioText, "%.2fx", ratio);
    std::snprintf(goal, sizeof goal, "<= %gx", kGoal);
    bool met = ratio <= kGoal;
    std::printf("  %-50s %12s %12s %9s  %-12s %s\n", figure, Format(value).c_str(),
                Format(floor).c_str(), ratioText, goal, met ? "met" : "MISSED");
    std::printf("Goals: %d met, %d missed\n", met ? 1 : 0, met ? 0 : 1);
    std::fflush(stdout);
    return 0;
}

int Count(const char* text, int fallback) {
    int count = text ? std::atoi(text) : 0;
    return count > 0 ? count : fallback;
}

}  // namespace

int main(int argc, char** argv) {
    return Run(Count(argc > 1 ? argv[1] : nullptr, 12), Count(argc > 2 ? argv[2] : nullptr, 150));
}
