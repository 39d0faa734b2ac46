// The page `tev log --html` makes.
#ifndef TEV_TOOL_LOG_PAGE_H
#define TEV_TOOL_LOG_PAGE_H

#include <string>
#include <vector>

#include "logreader/fleet_totals.h"
#include "logreader/run_summary.h"
#include "logreader/log_decoder.h"

namespace tevtool {

// The page of one or more logs: a table of their runs, linking to a section of each (its first
// error, its labelled lines, a timeline with a bar per download and installation and warnings and
// errors as marks, then its records: the first and last few around a row counting the others).
// Above them, the first errors grouped, most common first, and a switch that shows only the runs
// that failed. It stays under 5 MB: past kSectionsBytes of sections, runs are listed in the table
// without one, and past kTableBytes of table only counted.
class LogPage {
public:
    static constexpr size_t kRecordsShown = 100;  // at each end of a run's records
    static constexpr size_t kSectionsBytes = 3'500'000;
    static constexpr size_t kTableBytes = 1'000'000;

    // A record of the current run; records go in after RunSummarizer::Add has taken them.
    void AddRecord(const LogRecord& record);
    // The run whose records went in since the last one: a section when `shown`, else forgotten.
    void AddRun(const std::string& file, const RunSummary& run, bool shown);
    // Forgets the records since the last run (of a file that could not be read to its end).
    void ForgetRecords();
    // The whole page, titled `title`, with the first errors of `totals` (the runs added, shown or
    // not) in a table of their own above the runs.
    std::string Page(const std::string& title, const FleetTotals& totals) const;

private:
    // Appends the run's section, from its summary and the records kept since the last run, to the
    // sections when they stay within `limit` bytes with it. Its making stops as soon as they
    // would not: a run too wide for the page costs no more than the room left.
    bool AppendSection(const std::string& id, const std::string& name, const RunSummary& run,
                       size_t limit);

    std::vector<std::string> firstRows_, lastRows_;  // lastRows_ a ring from lastAt_
    size_t lastAt_ = 0, recordsNotShown_ = 0;
    std::string index_, sections_;
    size_t runs_ = 0, failed_ = 0, listed_ = 0, withoutSection_ = 0;
};

}  // namespace tevtool

#endif
