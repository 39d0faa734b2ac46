// A run's summary for a reader: labelled lines of text, one JSON object, or one CSV row.
#include "printers/summary_print.h"

#include <algorithm>
#include <charconv>

namespace tevtool {
namespace {

std::string JsonTime(const std::optional<Moment>& moment) {
    return moment && moment->timed ? "\"" + TimeText(*moment) + "\"" : "null";
}

// A CSV field: a text a spreadsheet would take for a formula gets a leading ', and a field that
// holds a separator a spreadsheet may split on (comma, semicolon, tab), a quote or a line end is
// quoted, so that no part of it starts a cell of its own.
std::string Csv(std::string text) {
    if (!text.empty() && std::string_view("=+-@\t\r").find(text[0]) != std::string_view::npos)
        text.insert(0, 1, '\'');
    if (text.find_first_of(",;\t\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}
}  // namespace

void ForEachSummaryLine(const RunSummary& s, SummaryLines& lines) {
    using namespace std::string_view_literals;
    auto number = [](size_t count, std::string& out) {
        char digits[24];
        out.append(digits, std::to_chars(digits, digits + sizeof digits, count).ptr);
    };
    auto quoted = [](WideView text, std::string& out) {
        out += '"';
        AppendShown(text, out);
        out += '"';
    };
    std::string* value = &lines.Open("started");
    if (s.started)
        AppendTime(*s.started, *value);
    else
        *value += "(no timed record)"sv;
    lines.Close();
    value = &lines.Open("ended");
    if (s.ended) {
        AppendTime(*s.ended, *value);
        *value += "  "sv;
    }
    *value += s.end == RunEnd::CutShort ? "cut short: the setup died or is still running"sv
              : s.end == RunEnd::Crash  ? "crashed (OnCrash)"sv
              : s.end == RunEnd::Shutdown
                  ? "ended normally (ShutdownML)"sv
                  : "the analytics library did not come up (Fail to initialize KV8)"sv;
    lines.Close();
    lines.Open("analytics") += !s.analytics   ? "unknown (no line after InitML)"sv
                               : *s.analytics ? "came up"sv
                                              : "did not come up"sv;
    lines.Close();
    for (const auto& [name, text] : s.setup) {
        value = &lines.Open("setup");
        AppendShown(name, *value);
        *value += " = "sv;
        quoted(text, *value);
        lines.Close();
    }
    auto more = [&](std::string_view label, size_t count, std::string_view what) {
        value = &lines.Open(label);
        *value += "and "sv;
        number(count, *value);
        *value += " more "sv;
        *value += what;
        *value += ", not listed"sv;
    };
    if (s.setupNotKept) {
        more("setup", s.setupNotKept, "attributes");
        lines.Close();
    }
    auto spans = [&](std::string_view label, const Spans& list) {
        for (const Span& span : list.Kept()) {
            value = &lines.Open(label);
            AppendShown(span.subject, *value);
            *value += ": "sv;
            *value += OutcomeText(span.outcome);
            if (!span.message.empty()) {
                *value += ' ';
                quoted(span.message, *value);
            }
            if (auto seconds = span.Seconds()) {
                *value += " after "sv;
                char digits[24];
                value->append(digits, std::to_chars(digits, digits + sizeof digits, *seconds).ptr);
                *value += " s"sv;
            }
            if (span.pauses) {
                *value += ", paused "sv;
                number(span.pauses, *value);
                *value += "x, resumed "sv;
                number(span.resumes, *value);
                *value += 'x';
            }
            if (!span.begin) *value += " (no begin in the log)"sv;
            lines.Close();
        }
        if (list.NotKept()) {
            more(label, list.NotKept(), label);
            *value += " ("sv;
            number(list.Failures(), *value);
            *value += " of all "sv;
            number(list.Total(), *value);
            *value += " failed)"sv;
            lines.Close();
        }
    };
    spans("download", s.downloads);
    spans("install", s.installs);
    for (const Tally& warning : s.warnings.Rows()) {
        value = &lines.Open("warning");
        AppendTime(warning.first, *value);
        if (warning.count > 1) {
            *value += " to "sv;
            AppendTime(warning.last, *value);
            *value += ", "sv;
            number(warning.count, *value);
            *value += " times"sv;
        }
        *value += "  "sv;
        quoted(warning.text, *value);
        lines.Close();
    }
    if (s.warnings.NotKept()) {
        more("warning", s.warnings.NotKept(), "of other texts");
        lines.Close();
    }
    if (s.errors.Total() > 1) {
        value = &lines.Open("errors");
        number(s.errors.Total(), *value);
        *value += " in all"sv;
        lines.Close();
    }
    value = &lines.Open("records");
    number(s.records, *value);
    if (s.problems) {
        *value += ", "sv;
        number(s.problems, *value);
        *value += " not as TEV writes them"sv;
    }
    lines.Close();
}

void AppendOutcome(bool failed, RunEnd end, std::string& out) {
    out += failed ? "failed, " : "ok, ";
    out += RunEndText(end);
}

LogName::LogName(const std::string& path) {
    WideString wide = tev::FromUtf8(path);
    AppendShown(wide, shown);
    whole = tev::AppendJson(wide, json, tev::LoneSurrogates::Replace);
    csv = Csv(shown);
}

void AppendSummaryText(const LogName& file, const RunSummary& s, std::string& out,
                       const OutcomePainter& paint) {
    out += file.shown;
    out += " (run ";
    char digits[24];
    out.append(digits, std::to_chars(digits, digits + sizeof digits, s.ordinal).ptr);
    out += ")\n";
    // Each line straight into `out`: two spaces, the label in a column of 14, the value.
    struct TextLines final : SummaryLines {
        std::string& out;
        explicit TextLines(std::string& to) : out(to) {}
        std::string& Open(std::string_view label) override {
            size_t at = out.size();
            out.resize(at + 16, ' ');
            label.copy(out.data() + at + 2, std::min<size_t>(label.size(), 14));
            return out;
        }
        void Close() override { out += '\n'; }
    } lines(out);
    thread_local std::string text;  // the outcome, then the first error, run after run
    text.clear();
    AppendOutcome(s.Failed(), s.end, text);
    lines.Open("outcome") += paint ? paint(s.Failed(), text) : text;
    lines.Close();
    if (s.firstError) {
        text.clear();
        AppendTime(s.firstError->first, text);
        text += "  ";
        AppendShown(s.firstError->text, text);
        lines.Open("first error") += paint ? paint(s.Failed(), text) : text;
        lines.Close();
    }
    ForEachSummaryLine(s, lines);
}

std::string SummaryJson(const LogName& file, const RunSummary& s) {
    // A lone surrogate, which no JSON reader takes, is given as U+FFFD and the run said damaged.
    bool whole = file.whole;
    auto JsonOf = [&](WideView text) {
        std::string quoted;
        whole &= tev::AppendJson(text, quoted, tev::LoneSurrogates::Replace);
        return quoted;
    };
    std::string out = "{\"file\":" + file.json + ",\"run\":" + std::to_string(s.ordinal) +
                      ",\"outcome\":" + (s.Failed() ? "\"failed\"" : "\"ok\"");
    out += ",\"started\":" + JsonTime(s.started) + ",\"ended\":" + JsonTime(s.ended);
    out += std::string(",\"end\":\"") + RunEndText(s.end) +
           "\",\"analytics\":" + (s.analytics ? (*s.analytics ? "true" : "false") : "null");
    out += ",\"setup\":[";
    for (size_t i = 0; i < s.setup.size(); ++i)
        out += (i ? "," : "") + std::string("{\"name\":") + JsonOf(s.setup[i].first) +
               ",\"value\":" + JsonOf(s.setup[i].second) + "}";
    out += "],\"setup_not_kept\":" + std::to_string(s.setupNotKept);
    // A failed download's error text is shown; an installation's error has none.
    auto spans = [&](const char* key, const char* subject, const Spans& list, bool downloads) {
        out += std::string(",\"") + key + "\":[";
        const std::vector<Span>& kept = list.Kept();
        for (size_t i = 0; i < kept.size(); ++i) {
            const Span& span = kept[i];
            out += (i ? "," : "") + std::string("{\"") + subject + "\":" + JsonOf(span.subject) +
                   ",\"begin\":" + JsonTime(span.begin) + ",\"end\":" + JsonTime(span.end) +
                   ",\"outcome\":\"" + OutcomeText(span.outcome) +
                   "\",\"pauses\":" + std::to_string(span.pauses) +
                   ",\"resumes\":" + std::to_string(span.resumes) +
                   ",\"seconds\":" + (span.Seconds() ? std::to_string(*span.Seconds()) : "null");
            if (downloads)
                out += ",\"error\":" + (span.outcome == Outcome::Failed ? JsonOf(span.message)
                                                                        : std::string("null"));
            out += "}";
        }
        out += std::string("],\"") + key + "_total\":" + std::to_string(list.Total()) + ",\"" +
               key + "_failed\":" + std::to_string(list.Failures()) + ",\"" + key +
               "_not_kept\":" + std::to_string(list.NotKept());
    };
    spans("downloads", "url", s.downloads, true);
    spans("installs", "product", s.installs, false);
    auto tallies = [&](const char* key, const Tallies& list) {
        out += std::string(",\"") + key + "\":[";
        for (size_t i = 0; i < list.Rows().size(); ++i) {
            const Tally& row = list.Rows()[i];
            out += (i ? "," : "") + std::string("{\"text\":") + JsonOf(row.text) +
                   ",\"count\":" + std::to_string(row.count) + ",\"first\":" + JsonTime(row.first) +
                   ",\"last\":" + JsonTime(row.last) + "}";
        }
        out += std::string("],\"") + key + "_total\":" + std::to_string(list.Total()) + ",\"" +
               key + "_not_kept\":" + std::to_string(list.NotKept());
    };
    tallies("warnings", s.warnings);
    tallies("errors", s.errors);
    out += ",\"first_error\":" + (s.firstError ? JsonOf(s.firstError->text) : std::string("null"));
    out += ",\"first_error_time\":" +
           (s.firstError ? JsonTime(s.firstError->first) : std::string("null"));
    out +=
        ",\"records\":" + std::to_string(s.records) + ",\"problems\":" + std::to_string(s.problems);
    out += std::string(",\"failed\":") + (s.Failed() ? "true" : "false");
    if (!whole) out += ",\"damaged\":true";
    out += "}";
    return out;
}

std::string SummaryCsvHeader() {
    return "file,run,started,ended,end,analytics,downloads,downloads_failed,installs,"
           "installs_failed,warnings,first_error,records,problems,failed";
}

std::string SummaryCsv(const LogName& file, const RunSummary& s) {
    std::string row = file.csv + "," + std::to_string(s.ordinal) + "," +
                      (s.started ? TimeText(*s.started) : "") + "," +
                      (s.ended ? TimeText(*s.ended) : "") + "," + RunEndText(s.end) + "," +
                      (s.analytics ? (*s.analytics ? "true" : "false") : "") + ",";
    row += std::to_string(s.downloads.Total()) + "," + std::to_string(s.downloads.Failures()) +
           "," + std::to_string(s.installs.Total()) + "," + std::to_string(s.installs.Failures()) +
           "," + std::to_string(s.warnings.Total()) + ",";
    row += Csv(s.firstError ? ShownText(s.firstError->text) : "") + "," +
           std::to_string(s.records) + "," + std::to_string(s.problems) + "," +
           (s.Failed() ? "true" : "false");
    return row;
}

namespace {

// The width of the largest count, for counts set right-aligned in a column.
size_t CountWidth(size_t largest) { return std::to_string(largest).size(); }

std::string Padded(size_t count, size_t width) {
    std::string text = std::to_string(count);
    return std::string(width > text.size() ? width - text.size() : 0, ' ') + text;
}

}  // namespace

void AppendTotalsText(const FleetTotals& totals, std::string& out) {
    out += "totals: " + std::to_string(totals.Runs()) + (totals.Runs() == 1 ? " run" : " runs") +
           " in " + std::to_string(totals.Logs()) + (totals.Logs() == 1 ? " log" : " logs") + ", " +
           std::to_string(totals.Failed()) + " failed\n";
    // A labelled column as the run summaries have: the label on its first line only.
    auto section = [&](const char* label) {
        std::string indent = "  ";
        indent += label;
        indent.append(16 - indent.size(), ' ');
        return [indent, first = true, &out]() mutable {
            out += first ? indent : std::string(16, ' ');
            first = false;
        };
    };
    std::vector<FleetTotals::OutcomeCount> outcomes = totals.Outcomes();
    auto outcomeLine = section("outcomes");
    for (const FleetTotals::OutcomeCount& outcome : outcomes) {
        outcomeLine();
        out += Padded(outcome.runs, CountWidth(outcomes.front().runs)) + "  ";
        AppendOutcome(outcome.failed, outcome.end, out);
        out += '\n';
    }
    std::vector<FleetTotals::ErrorGroup> groups = totals.FirstErrors();
    if (groups.empty()) return;
    auto errorLine = section("first errors");
    const size_t width = CountWidth(groups.front().runs);
    size_t listed = std::min(groups.size(), kFirstErrorsListed), restRuns = 0, entryWidth = 1;
    for (size_t i = 0; i < listed; ++i) entryWidth = std::max(entryWidth, groups[i].entry.size());
    for (size_t i = 0; i < groups.size(); ++i) {
        const FleetTotals::ErrorGroup& group = groups[i];
        if (i >= listed) {
            restRuns += group.runs;
            continue;
        }
        errorLine();
        std::string entry = group.entry.empty() ? "-" : group.entry;
        entry.append(entryWidth - entry.size(), ' ');
        out += Padded(group.runs, width) + "  " + entry + "  \"";
        AppendShown(group.text, out);
        out += "\"  (" + ShownUtf8(group.file) + ", run " + std::to_string(group.run) + ")\n";
    }
    size_t restKinds = groups.size() - listed;
    restRuns += totals.FirstErrorsNotKept();
    if (restRuns) {
        errorLine();
        out +=
            "and " + std::to_string(restRuns) + " more runs with " +
            (restKinds ? std::to_string(restKinds) + " other first errors" : "other first errors") +
            (totals.FirstErrorsNotKept() ? "" : " (--json lists each)") + "\n";
    }
}

std::string TotalsJson(const FleetTotals& totals) {
    std::string out = "{\"totals\":{\"logs\":" + std::to_string(totals.Logs()) +
                      ",\"runs\":" + std::to_string(totals.Runs()) +
                      ",\"failed\":" + std::to_string(totals.Failed()) + ",\"outcomes\":[";
    bool first = true;
    for (const FleetTotals::OutcomeCount& outcome : totals.Outcomes()) {
        out += std::string(first ? "" : ",") +
               "{\"outcome\":" + (outcome.failed ? "\"failed\"" : "\"ok\"") + ",\"end\":\"" +
               RunEndText(outcome.end) + "\",\"runs\":" + std::to_string(outcome.runs) + "}";
        first = false;
    }
    out += "],\"first_errors\":[";
    first = true;
    for (const FleetTotals::ErrorGroup& group : totals.FirstErrors()) {
        out += first ? "{\"entry\":" : ",{\"entry\":";
        if (group.entry.empty())
            out += "null";
        else
            tev::AppendJson(tev::FromUtf8(group.entry), out, tev::LoneSurrogates::Replace);
        out += ",\"text\":";
        tev::AppendJson(group.text, out, tev::LoneSurrogates::Replace);
        out += ",\"runs\":" + std::to_string(group.runs) + ",\"file\":" + LogName(group.file).json +
               ",\"run\":" + std::to_string(group.run) + "}";
        first = false;
    }
    out += "],\"first_errors_not_kept\":" + std::to_string(totals.FirstErrorsNotKept()) + "}}";
    return out;
}

std::string TotalsCsv(const FleetTotals& totals) {
    std::string out = "total,outcome,end,entry,first_error,runs,file,run\n";
    out += "logs,,,,," + std::to_string(totals.Logs()) + ",,\n";
    out += "runs,,,,," + std::to_string(totals.Runs()) + ",,\n";
    for (const FleetTotals::OutcomeCount& outcome : totals.Outcomes())
        out += std::string("outcome,") + (outcome.failed ? "failed," : "ok,") +
               RunEndText(outcome.end) + ",,," + std::to_string(outcome.runs) + ",,\n";
    for (const FleetTotals::ErrorGroup& group : totals.FirstErrors())
        out += "first_error,,," + Csv(group.entry) + "," + Csv(ShownText(group.text)) + "," +
               std::to_string(group.runs) + "," + LogName(group.file).csv + "," +
               std::to_string(group.run) + "\n";
    if (totals.FirstErrorsNotKept())
        out += "first_errors_not_kept,,,,," + std::to_string(totals.FirstErrorsNotKept()) + ",,\n";
    return out;
}

}  // namespace tevtool
