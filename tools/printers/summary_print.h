// A run's summary as the text summary, the page, --json and --csv give it.
#ifndef TEV_TOOL_SUMMARY_PRINT_H
#define TEV_TOOL_SUMMARY_PRINT_H

#include <functional>
#include <string>
#include <string_view>

#include "logreader/fleet_totals.h"
#include "logreader/run_summary.h"
#include "printers/escaped_text.h"

namespace tevtool {

// Where a summary's labelled lines go: a line's value is appended to the text Open(label) gives,
// and Close ends it.
class SummaryLines {
public:
    virtual std::string& Open(std::string_view label) = 0;
    virtual void Close() = 0;

protected:
    ~SummaryLines() = default;
};

// The summary's labelled lines, as the text summary and the page show them, in order: texts shown
// with AppendShown, so that no value holds a line break or a control character.
void ForEachSummaryLine(const RunSummary& summary, SummaryLines& lines);

// "failed, OnCrash", "ok, ShutdownML": whether the run failed, and how it ended.
void AppendOutcome(bool failed, RunEnd end, std::string& out);

// Gives `text` as a terminal shows a failed run's or a whole run's outcome (in colour, say).
using OutcomePainter = std::function<std::string(bool failed, std::string_view text)>;

// A log's name as the summaries give it, made once for all of the log's runs: shown safely, as a
// JSON string, as a CSV field.
struct LogName {
    explicit LogName(const std::string& path);
    std::string shown, json, csv;
    bool whole = true;  // no lone surrogate had to be replaced in the JSON
};

// The summary for people: the file and run, its outcome and first error (painted by `paint`, when
// given), then the labelled lines.
void AppendSummaryText(const LogName& file, const RunSummary& summary, std::string& out,
                       const OutcomePainter& paint = nullptr);
inline std::string SummaryText(const std::string& file, const RunSummary& summary) {
    std::string out;
    AppendSummaryText(LogName(file), summary, out);
    return out;
}
// One JSON object on one line.
std::string SummaryJson(const LogName& file, const RunSummary& summary);
inline std::string SummaryJson(const std::string& file, const RunSummary& summary) {
    return SummaryJson(LogName(file), summary);
}
// One CSV row, and the header row that goes above all of them.
std::string SummaryCsvHeader();
std::string SummaryCsv(const LogName& file, const RunSummary& summary);
inline std::string SummaryCsv(const std::string& file, const RunSummary& summary) {
    return SummaryCsv(LogName(file), summary);
}

// The totals of the runs read, after their summaries. Text: a block headed "totals", the outcomes
// and then the first errors, most common first, at most kFirstErrorsListed of them (the rest
// counted on one line); JSON: one object on one line, {"totals":{...}}, every group kept; CSV: a
// table of its own, its header row first, each row ended by a line end.
inline constexpr size_t kFirstErrorsListed = 20;
void AppendTotalsText(const FleetTotals& totals, std::string& out);
std::string TotalsJson(const FleetTotals& totals);
std::string TotalsCsv(const FleetTotals& totals);

}  // namespace tevtool

#endif
