// A run's summary as the text summary, the page, --json and --csv give it.
#ifndef TEV_TOOL_SUMMARY_PRINT_H
#define TEV_TOOL_SUMMARY_PRINT_H

#include <functional>
#include <string>
#include <string_view>

#include "logreader/run_summary.h"
#include "printers/shown.h"

namespace tevtool {

// The summary's labelled lines, as the text summary and the page show them, in order: texts shown
// with AppendShown, so that no value holds a line break or a control character.
void ForEachSummaryLine(
    const RunSummary& summary,
    const std::function<void(std::string_view label, std::string_view value)>& visit);

// "failed, OnCrash", "ok, ShutdownML": whether the run failed, and how it ended.
std::string OutcomeLine(const RunSummary& summary);

// Gives `text` as a terminal shows a failed run's or a whole run's outcome (in colour, say).
using OutcomePainter = std::function<std::string(bool failed, std::string_view text)>;

// The summary for people: the file and run, its outcome and first error (painted by `paint`, when
// given), then the labelled lines.
void AppendSummaryText(const std::string& file, const RunSummary& summary, std::string& out,
                       const OutcomePainter& paint = nullptr);
inline std::string SummaryText(const std::string& file, const RunSummary& summary) {
    std::string out;
    AppendSummaryText(file, summary, out);
    return out;
}
// One JSON object on one line.
std::string SummaryJson(const std::string& file, const RunSummary& summary);
// One CSV row, and the header row that goes above all of them.
std::string SummaryCsvHeader();
std::string SummaryCsv(const std::string& file, const RunSummary& summary);

}  // namespace tevtool

#endif
