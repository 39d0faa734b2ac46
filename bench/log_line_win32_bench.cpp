// One line of the diagnostic log on Windows, against what any log line must cost there: move to the
// end of the file (SetFilePointer), read the UTC time (GetSystemTime), and two WriteFile calls of
// the same bytes, on a file in the same temporary directory.
//
// Google Benchmark is not built for the cross build, so this program is its own harness, with the
// suites' paired rounds (paired.h): each repetition keeps the medians over its rounds, and the
// summary gives the medians over the repetitions, as Google Benchmark's median rows do.
//
// The clock is QueryPerformanceCounter, the elapsed time. Under Wine, GetThreadTimes only counts in
// the host's scheduler ticks (10 ms), coarser than a whole batch; and the elapsed time also takes
// in what Wine's server does for a call, which is part of a line's cost on both sides.
//
// Usage: tev_log_line_win32_bench [REPETITIONS [ROUNDS]]   (defaults 11 and 150)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "../src/run/run.h"
#include "KV8Control.h"
#include "TEVUtil.h"
#include "paired.h"

using namespace tev;

namespace {

// A typical line: a token and two fields.
#define TYPICAL_TEXTS \
    { TEV_TEXT("a.setup"), TEV_TEXT("0") }

// Lines per batch: about half a millisecond at the floor's pace, short enough that a preemption
// spoils few rounds, long enough that the clock's reads do not count. Both files are emptied after
// every round, so that each batch writes the same stretch of file.
constexpr int kLines = 256;

constexpr double kGoal = 1.3;  // Log::Write over its floor, at most

double Nanoseconds() {
    static const double nsPerTick = [] {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        return 1e9 / static_cast<double>(frequency.QuadPart);
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * nsPerTick;
}

bool Empty(HANDLE file) {
    return SetFilePointer(file, 0, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
           SetEndOfFile(file);
}

int Fail(const char* what) {
    std::fprintf(stderr, "tev_log_line_win32_bench: %s (error %lu)\n", what, GetLastError());
    return 1;
}

int Measure(int repetitions, int rounds) {
    // A directory of our own in the user's temporary directory, which TMP and TEMP then name, so
    // that the log of a real run is never touched.
    wchar_t base[MAX_PATH];
    DWORD length = GetTempPathW(MAX_PATH, base);
    std::wstring directory =
        std::wstring(base, length) + L"tev-bench-" + std::to_wstring(GetCurrentProcessId()) + L"\\";
    if (length == 0 || length >= MAX_PATH || !CreateDirectoryW(directory.c_str(), nullptr) ||
        !SetEnvironmentVariableW(L"TMP", directory.c_str()) ||
        !SetEnvironmentVariableW(L"TEMP", directory.c_str()))
        return Fail("cannot create a scratch directory");
    // Nothing but the measured work: no outbox file, no trace, no ownership ledger.
    SetEnvironmentVariableW(L"KV8_OUTBOX", nullptr);
    kv8::SetRecording(false);

    if (!TEVUtil::InitML(true) || CurrentRun().TheLog().File() == platform::kNoFile)
        return Fail("the diagnostic log could not be created");
    HANDLE log = reinterpret_cast<HANDLE>(CurrentRun().TheLog().File());
    std::wstring floorPath = directory + L"floor.log";
    HANDLE floorFile = CreateFileW(floorPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                   CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (floorFile == INVALID_HANDLE_VALUE) return Fail("the floor's file could not be created");

    // The same bytes as the log's line, formatted once.
    TEVChar line[128];
    platform::CalendarTime today{};
    platform::operations.utcNow(today);
    DWORD lineBytes = static_cast<DWORD>(
        FormatLogLine(line, today, TEV_TEXT("SETUP"), {TEV_TEXT("a.setup"), TEV_TEXT("0")}) *
        sizeof(TEVChar));
    auto subject = [] {
        for (int i = 0; i < kLines; ++i)
            CurrentRun().TheLog().Write(logformat::Token::SetupAttribute, TYPICAL_TEXTS);
    };
    auto floor = [&] {
        static const TEVChar kLineEnd[] = {TEV_TEXT('\r'), TEV_TEXT('\n')};
        DWORD written;
        for (int i = 0; i < kLines; ++i) {
            if (SetFilePointer(floorFile, 0, nullptr, FILE_END) == INVALID_SET_FILE_POINTER) return;
            SYSTEMTIME now;
            GetSystemTime(&now);
            WriteFile(floorFile, line, lineBytes, &written, nullptr);
            WriteFile(floorFile, kLineEnd, sizeof kLineEnd, &written, nullptr);
        }
    };
    // Both sides must have written a batch of lines of about the same length (a timestamp's field
    // may gain or lose a digit between the two): a log that was not written would flatter.
    auto bothWrote = [&] {
        LONGLONG expected = kLines * (lineBytes + 4), slack = kLines * 12;
        LARGE_INTEGER logBytes, floorBytes;
        return GetFileSizeEx(log, &logBytes) && GetFileSizeEx(floorFile, &floorBytes) &&
               floorBytes.QuadPart == expected && logBytes.QuadPart >= expected - slack &&
               logBytes.QuadPart <= expected + slack;
    };

    std::vector<double> values, floors, ratios;
    bool ok = Empty(log);
    for (int repetition = 0; ok && repetition <= repetitions; ++repetition) {
        bench::PairedRounds<double (*)()> paired(Nanoseconds, kLines);
        for (int round = 0; ok && round < rounds; ++round) {
            paired.Round(subject, floor);
            ok = bothWrote() && Empty(log) && Empty(floorFile);
        }
        if (repetition == 0) continue;  // a warm-up
        values.push_back(paired.Subject());
        floors.push_back(paired.Floor());
        ratios.push_back(paired.Ratio());
    }
    CloseHandle(floorFile);
    TEVUtil::ShutdownML();
    DeleteFileW(floorPath.c_str());
    DeleteFileW((directory + L"Setup_TEV.log").c_str());
    RemoveDirectoryW(directory.c_str());
    if (!ok) return Fail("a batch did not write the lines it should have");

    double ratio = bench::Median(ratios);
    bool met = ratio <= kGoal;
    std::printf(
        "LogLine_Win32_median  ns=%.0f floor_ns=%.0f ratio=%.3f met=%d goal: ratio <= %gx "
        "(%d-byte line, elapsed time)\n",
        bench::Median(values), bench::Median(floors), ratio, met, kGoal,
        static_cast<int>(lineBytes) + 4);
    std::printf("Goals: %d met, %d missed\n", met, !met);
    std::fflush(stdout);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    int repetitions = argc > 1 ? std::atoi(argv[1]) : 11,
        rounds = argc > 2 ? std::atoi(argv[2]) : 150;
    return Measure(repetitions > 0 ? repetitions : 11, rounds > 0 ? rounds : 150);
}
