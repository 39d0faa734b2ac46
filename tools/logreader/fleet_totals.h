// What the runs of many logs come to: how many runs and logs, how many ended each way, and their
// first errors grouped by entry and text, so that a fleet's failures are one answer.
#ifndef TEV_TOOL_FLEET_TOTALS_H
#define TEV_TOOL_FLEET_TOTALS_H

#include <array>
#include <cstddef>
#include <string>
#include <unordered_map>
#include <vector>

#include "logreader/run_summary.h"

namespace tevtool {

class FleetTotals {
public:
    // Distinct first errors grouped; the runs of any further one are only counted.
    static constexpr std::size_t kGroupsKept = 1000;

    // The text that groups the first errors of runs cut short, wherever each was cut (the entry
    // says in which kind of record).
    static constexpr char kCutShortText[] = "cut short: no ShutdownML or OnCrash";

    // How many runs ended one way: ok or failed, and how their log says they ended.
    struct OutcomeCount {
        bool failed = false;
        RunEnd end = RunEnd::CutShort;
        std::size_t runs = 0;
    };

    // Runs whose first error was the same entry's same text, and the first of them met.
    struct ErrorGroup {
        std::string entry;  // the token as logged ("DownloadError"); empty when unknown
        WideString text;
        std::size_t runs = 0;
        std::string file;  // the example: the log and the run's number in it
        std::size_t run = 0;
    };

    void AddLog() { ++logs_; }
    void AddRun(const std::string& file, const RunSummary& run);

    std::size_t Logs() const { return logs_; }
    std::size_t Runs() const { return runs_; }
    std::size_t Failed() const { return failed_; }
    // Most common first; ties in the order first met (the order the logs were read in).
    std::vector<OutcomeCount> Outcomes() const;
    std::vector<ErrorGroup> FirstErrors() const;
    // Runs with a first error past the groups kept.
    std::size_t FirstErrorsNotKept() const { return notKept_; }

private:
    std::size_t logs_ = 0, runs_ = 0, failed_ = 0, notKept_ = 0;
    // Outcomes by failed * 4 + end, and the order they were first met in.
    std::array<std::size_t, 8> outcomes_{};
    std::vector<std::size_t> outcomeOrder_;
    std::vector<ErrorGroup> groups_;                        // in the order first met
    std::unordered_map<std::string, std::size_t> groupOf_;  // entry, '\n', UTF-8 text
};

}  // namespace tevtool

#endif
