// The story of one logged run: how it started and ended, each download and installation, the
// warnings and the first error. Built record by record, so that a log is read once.
#ifndef TEV_TOOL_LOG_SUMMARY_H
#define TEV_TOOL_LOG_SUMMARY_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "log_decoder.h"

namespace tevtool {

// A moment of the log: its ISO time (empty when the record had none) and seconds since 1970.
struct Moment {
    std::string time;
    std::int64_t seconds = 0;
    std::size_t record = 0;  // the record's number in the log, from 1
};

struct Mark {
    Moment at;
    kv8::Text text;  // the warning's text, or what failed
};

// How a download or installation came out.
enum class Outcome { Unfinished, Ended, Cancelled, Failed };
// As the summaries name it: "unfinished", "ended", "cancelled", "failed".
const char* OutcomeText(Outcome outcome);

// One download (by URL) or installation (by product name), from its begin to its outcome.
struct Span {
    kv8::Text subject;
    std::optional<Moment> begin, end;
    Outcome outcome = Outcome::Unfinished;
    kv8::Text message;  // a failed download's error text
    std::vector<Moment> pauses, resumes;
    std::optional<std::int64_t> Seconds() const;
};

// How the run ended, as far as its log tells.
enum class RunEnd { CutShort, Shutdown, Crash, AnalyticsDown };
// As the summaries name it: "cut short", "ShutdownML", "OnCrash", "analytics library down".
const char* RunEndText(RunEnd end);

struct RunSummary {
    std::optional<Moment> started, ended;  // the first and the last timed record
    RunEnd end = RunEnd::CutShort;
    std::optional<bool> analytics;  // whether the analytics library came up; none if unknown
    std::vector<std::pair<kv8::Text, kv8::Text>> setup;
    std::vector<Span> downloads, installs;
    std::vector<Mark> warnings;
    std::vector<Mark> errors;  // every failure the log shows, in order
    std::optional<Mark> firstError;
    std::size_t records = 0, problems = 0;

    // A download or installation failed, the setup crashed, the analytics library did not come
    // up, or the log ends before the run did.
    bool Failed() const;
};

class RunSummarizer {
public:
    void Add(const LogRecord& record);
    const RunSummary& Summary() const { return summary_; }

private:
    Span& Open(std::vector<Span>& spans, WideView subject, const Moment& at);
    Span& Latest(std::vector<Span>& spans, WideView subject);
    Span& Close(std::vector<Span>& spans, WideView subject, const Moment& at, Outcome outcome);
    void Fail(const Moment& at, kv8::Text what);

    RunSummary summary_;
};

// The summary for people, several lines.
std::string SummaryText(const std::string& file, const RunSummary& summary);
// One JSON object on one line.
std::string SummaryJson(const std::string& file, const RunSummary& summary);
// One CSV row, and the header row that goes above all of them.
std::string SummaryCsvHeader();
std::string SummaryCsv(const std::string& file, const RunSummary& summary);

// One self-contained HTML page: the run as a timeline (a bar per download and installation,
// warnings and errors as marks), then the records, each a row from RecordRowHtml.
std::string SummaryHtml(const std::string& file, const RunSummary& summary,
                        const std::vector<std::string>& recordRows);
std::string RecordRowHtml(const LogRecord& record);

}  // namespace tevtool

#endif
