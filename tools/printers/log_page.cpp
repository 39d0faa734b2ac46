// The page of logs: a table of their runs, then a section per run, built from the summaries' data.
// Its style sheet is page.css, compiled in.
#include <algorithm>

#include "printers/log_page.h"
#include "printers/summary_print.h"
#include "printers/page_resources.h"

namespace tevtool {
namespace {

constexpr size_t kBarsDrawn = 200;     // per kind of span, in one run's timeline
constexpr size_t kLabelPoints = 36;    // characters of a bar's label
constexpr size_t kRecordUnits = 2000;  // code units of one record in the records' table

std::string Html(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string Number(double value) { return std::to_string(static_cast<long long>(value)); }

// The last `points` characters of UTF-8 text, after "..." when it is longer: cut between
// characters, never inside one.
std::string Tail(const std::string& text, size_t points) {
    auto lead = [&](size_t at) { return (static_cast<unsigned char>(text[at]) & 0xC0) != 0x80; };
    size_t characters = 0;
    for (size_t at = 0; at < text.size(); ++at) characters += lead(at);
    if (characters <= points) return text;
    size_t at = text.size();
    for (size_t kept = 0; kept < points - 3;) kept += lead(--at);
    return "..." + text.substr(at);
}

std::string RecordRow(const LogRecord& record) {
    WideView text = record.text.substr(0, kRecordUnits);
    std::string shown = ShownText(text) + (text.size() < record.text.size() ? "\xE2\x80\xA6" : "");
    return std::string(record.problem.empty()
                           ? "<tr>"
                           : "<tr class=\"problem\" title=\"" + Html(record.problem) + "\">") +
           "<td>" + std::to_string(record.line) + "</td><td>" + Html(shown) + "</td></tr>\n";
}

// The run as a picture: a bar per download and installation, warnings and errors as marks.
std::string Timeline(const RunSummary& s) {
    std::int64_t first = s.started ? s.started->seconds : 0;
    std::int64_t last = s.ended ? s.ended->seconds : first;
    // A run of a few seconds (a played scenario) would put every bar in one place: the records'
    // order is its axis then.
    constexpr std::int64_t kShortRun = 3;
    bool byOrder = last - first < kShortRun;
    const double left = 320, width = 640;
    // Where a moment lies on the axis; `fallback` (0 the start, 1 the end) where the log has none.
    auto x = [&](const std::optional<Moment>& at, double fallback) {
        double fraction = fallback;
        if (at && byOrder)
            fraction = static_cast<double>(at->record - s.firstRecord) /
                       static_cast<double>(std::max<size_t>(s.records - 1, 1));
        else if (at && at->timed)
            fraction = static_cast<double>(at->seconds - first) / static_cast<double>(last - first);
        return left + width * std::clamp(fraction, 0.0, 1.0);
    };
    auto drawn = [](const Spans& list) { return std::min(list.Kept().size(), kBarsDrawn); };
    size_t rows = drawn(s.downloads) + drawn(s.installs) + 2;
    std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"980\" height=\"" +
                      std::to_string(rows * 24 + 40) + "\">";
    std::string axisStart = byOrder     ? "record " + std::to_string(s.firstRecord)
                            : s.started ? TimeText(*s.started)
                                        : "";
    std::string axisEnd = byOrder ? "record " + std::to_string(s.firstRecord + s.records - 1) +
                                        " (a run of under " + std::to_string(kShortRun) +
                                        " s, in the order of its records)"
                          : s.ended ? TimeText(*s.ended)
                                    : "";
    svg += "<text x=\"" + Number(left) + "\" y=\"14\">" + Html(axisStart) + "</text>";
    svg += "<text x=\"" + Number(left + width) + "\" y=\"14\" text-anchor=\"end\">" +
           Html(axisEnd) + "</text>";
    double y = 24;
    auto bars = [&](const char* kind, const Spans& list) {
        for (size_t i = 0; i < drawn(list); ++i) {
            const Span& item = list.Kept()[i];
            double from = x(item.begin, 0), to = std::max(x(item.end, 1), from + 3);
            std::string label = ShownText(item.subject);
            svg += "<text x=\"4\" y=\"" + Number(y + 14) + "\">" + kind + " " +
                   Html(Tail(label, kLabelPoints)) + "</text>";
            svg += "<rect class=\"bar " + std::string(kind) + " " + OutcomeText(item.outcome) +
                   "\" x=\"" + Number(from) + "\" y=\"" + Number(y + 3) + "\" width=\"" +
                   Number(to - from) + "\" height=\"16\"><title>" +
                   Html(label + ": " + OutcomeText(item.outcome) +
                        (item.message.empty() ? "" : " " + ShownText(item.message))) +
                   "</title></rect>";
            for (const Moment& pause : item.pauseMoments)
                svg += "<line class=\"pause\" x1=\"" + Number(x(pause, 0)) + "\" x2=\"" +
                       Number(x(pause, 0)) + "\" y1=\"" + Number(y + 3) + "\" y2=\"" +
                       Number(y + 19) + "\"/>";
            if (item.outcome == Outcome::Failed)
                svg += "<circle class=\"mark error\" cx=\"" + Number(to) + "\" cy=\"" +
                       Number(y + 11) + "\" r=\"6\"><title>" + Html(label + ": failed") +
                       "</title></circle>";
            y += 24;
        }
        if (list.Total() > drawn(list)) {
            svg += "<text x=\"4\" y=\"" + Number(y + 14) + "\">and " +
                   std::to_string(list.Total() - drawn(list)) + " more " + kind +
                   "s, not drawn</text>";
            y += 24;
        }
    };
    bars("download", s.downloads);
    bars("install", s.installs);
    svg += "<text x=\"4\" y=\"" + Number(y + 14) + "\">warnings and errors</text>";
    auto times = [](const Tally& tally) {
        return tally.count > 1 ? " (" + std::to_string(tally.count) + " times)" : std::string();
    };
    for (const Tally& warning : s.warnings.Rows())
        svg += "<path class=\"mark warning\" d=\"M" + Number(x(warning.first, 0)) + " " +
               Number(y + 3) + " l7 14 h-14 z\"><title>" +
               Html(ShownText(warning.text) + times(warning)) + "</title></path>";
    for (const Tally& error : s.errors.Rows())
        svg += "<circle class=\"mark error\" cx=\"" + Number(x(error.first, 1)) + "\" cy=\"" +
               Number(y + 11) + "\" r=\"6\"><title>" + Html(ShownText(error.text) + times(error)) +
               "</title></circle>";
    return svg + "</svg>";
}

}  // namespace

void LogPage::AddRecord(const LogRecord& record) {
    if (firstRows_.size() < kRecordsShown) {
        firstRows_.push_back(RecordRow(record));
    } else if (lastRows_.size() < kRecordsShown) {
        lastRows_.push_back(RecordRow(record));
    } else {
        lastRows_[lastAt_] = RecordRow(record);
        lastAt_ = (lastAt_ + 1) % kRecordsShown;
        ++recordsNotShown_;
    }
}

bool LogPage::AppendSection(const std::string& id, const std::string& name, const RunSummary& run,
                            size_t limit) {
    const size_t start = sections_.size();
    std::string& section = sections_;
    auto full = [&] { return section.size() > limit; };
    section += "<section id=\"" + id + "\"><h2>" + name + ", run " + std::to_string(run.ordinal) +
               "</h2>\n";
    if (run.firstError)
        section += "<p class=\"first-error\">First error, at " +
                   Html(TimeText(run.firstError->first)) + ": " +
                   Html(ShownText(run.firstError->text)) + "</p>\n";
    section += "<dl>";
    struct PageLines final : SummaryLines {
        std::string& section;
        size_t limit;
        std::string_view label;
        std::string value;
        PageLines(std::string& to, size_t most) : section(to), limit(most) {}
        std::string& Open(std::string_view name) override {
            label = name;
            value.clear();
            return value;
        }
        void Close() override {
            if (section.size() > limit) return;
            section += "<dt>";
            section += Html(label);
            section += "</dt><dd>";
            section += Html(value);
            section += "</dd>";
        }
    } lines(section, limit);
    ForEachSummaryLine(run, lines);
    if (!full()) section += "</dl>\n" + Timeline(run) + "\n<table class=\"records\">";
    for (size_t i = 0; i < firstRows_.size() && !full(); ++i) section += firstRows_[i];
    if (recordsNotShown_)
        section += "<tr class=\"not-shown\"><td></td><td>" + std::to_string(recordsNotShown_) +
                   " records not shown</td></tr>\n";
    for (size_t i = 0; i < lastRows_.size() && !full(); ++i)
        section += lastRows_[(lastAt_ + i) % lastRows_.size()];
    section += "</table></section>\n";
    if (!full()) return true;
    sections_.resize(start);
    return false;
}

void LogPage::AddRun(const std::string& file, const RunSummary& run, bool shown) {
    if (shown) {
        ++runs_;
        failed_ += run.Failed();
        std::string id = "run-" + std::to_string(runs_);
        std::string name = Html(ShownText(tev::FromUtf8(file)));
        bool room = sections_.size() < kSectionsBytes &&  // once full, none is made
                    AppendSection(id, name, run, kSectionsBytes);
        withoutSection_ += !room;
        if (index_.size() < kTableBytes) {
            ++listed_;
            index_ += "<tr class=\"" + std::string(run.Failed() ? "failed" : "whole") + "\"><td>" +
                      (room ? "<a href=\"#" + id + "\">" + name + "</a>" : name) + "</td><td>" +
                      std::to_string(run.ordinal) + "</td><td class=\"time\">" +
                      (run.started ? TimeText(*run.started) : "") + "</td><td class=\"time\">" +
                      (run.ended ? TimeText(*run.ended) : "") + "</td><td>" + RunEndText(run.end) +
                      (run.Failed() ? ", failed" : "") + "</td><td>" +
                      (run.firstError ? Html(ShownText(run.firstError->text)) : "") +
                      "</td></tr>\n";
        }
    }
    ForgetRecords();
}

void LogPage::ForgetRecords() {
    firstRows_.clear();
    lastRows_.clear();
    lastAt_ = recordsNotShown_ = 0;
}

// The first errors of the runs (of two or more), grouped by entry and text, most common first, each
// with the log and run it was first met in: at most kTableBytes of rows, the others counted.
static std::string FirstErrorsTable(const FleetTotals& totals) {
    std::vector<FleetTotals::ErrorGroup> groups = totals.FirstErrors();
    if (groups.empty() || totals.Runs() < 2) return "";  // one run's is in its section
    std::string table =
        "<h2 class=\"first-errors\">First errors</h2>\n<table class=\"first-errors\"><thead><tr>"
        "<th class=\"number\">runs</th><th>entry</th><th>first error</th><th>first in</th></tr>"
        "</thead><tbody>\n";
    size_t rowsLeft = groups.size(), runsLeft = totals.FirstErrorsNotKept();
    for (const FleetTotals::ErrorGroup& group : groups) {
        if (table.size() >= LogPage::kTableBytes) {
            runsLeft += group.runs;
            continue;
        }
        --rowsLeft;
        table += "<tr><td class=\"number\">" + std::to_string(group.runs) + "</td><td>" +
                 Html(group.entry) + "</td><td>" + Html(ShownText(group.text)) +
                 "</td><td class=\"example\">" + Html(ShownUtf8(group.file)) + ", run " +
                 std::to_string(group.run) + "</td></tr>\n";
    }
    if (runsLeft)
        table += "<tr class=\"not-shown\"><td class=\"number\">" + std::to_string(runsLeft) +
                 "</td><td></td><td>runs with " + std::to_string(rowsLeft) +
                 " other first errors, not listed</td><td></td></tr>\n";
    return table + "</tbody></table>\n";
}

std::string LogPage::Page(const std::string& title, const FleetTotals& totals) const {
    std::string name = Html(ShownText(tev::FromUtf8(title)));
    std::string page = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>" +
                       name + "</title><style>\n" + tevtool::resource::kPageStyle +
                       "</style></head><body>\n<h1>" + name + "</h1>\n<p>" + std::to_string(runs_) +
                       (runs_ == 1 ? " run, " : " runs, ") + std::to_string(failed_) + " failed.";
    if (withoutSection_)
        page += " " + std::to_string(withoutSection_) +
                " runs have no section, to keep the page small: tev log --summary tells each.";
    if (runs_ > listed_) page += " " + std::to_string(runs_ - listed_) + " runs are not listed.";
    page += "</p>\n" + FirstErrorsTable(totals);
    page +=
        "<h2 class=\"runs\">Runs</h2>\n<p><label><input type=\"checkbox\" id=\"failed-only\"> only "
        "the runs that failed</label></p>\n<table class=\"runs\"><thead><tr><th>file</th><th "
        "class=\"number\">run</th>"
        "<th>start</th><th>end</th><th>outcome</th><th>first error</th></tr></thead><tbody>\n" +
        index_ + "</tbody></table>\n" + sections_ + "<script>\n" + tevtool::resource::kPageScript +
        "</script>\n</body></html>\n";
    return page;
}

}  // namespace tevtool
