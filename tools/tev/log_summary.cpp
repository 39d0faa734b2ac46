#include "log_summary.h"

#include <algorithm>

namespace tevtool {
namespace {

bool Is(const LogRecord& record, const char* token) {
    if (record.fields.empty()) return false;
    WideView field = record.fields.front();
    size_t i = 0;
    for (; token[i]; ++i)
        if (i >= field.size() || field[i] != static_cast<TEVChar>(token[i])) return false;
    return i == field.size();
}

bool StartsWith(const LogRecord& record, const char* prefix) {
    if (record.fields.empty()) return false;
    WideView field = record.fields.front();
    for (size_t i = 0; prefix[i]; ++i)
        if (i >= field.size() || field[i] != static_cast<TEVChar>(prefix[i])) return false;
    return true;
}

kv8::Text Widen(std::string_view ascii) { return kv8::Text(ascii.begin(), ascii.end()); }

std::string JsonText(WideView text) { return Json(text); }

std::string JsonTime(const std::optional<Moment>& moment) {
    return moment && !moment->time.empty() ? "\"" + moment->time + "\"" : "null";
}

// A CSV field: quoted when it holds a comma, a quote or a line break.
std::string Csv(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

std::string Html(std::string_view text) {
    std::string out;
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

size_t Failures(const std::vector<Span>& spans) {
    return static_cast<size_t>(std::count_if(
        spans.begin(), spans.end(), [](const Span& span) { return span.outcome == "failed"; }));
}

}  // namespace

std::optional<std::int64_t> Span::Seconds() const {
    if (!begin || !end || begin->time.empty() || end->time.empty()) return std::nullopt;
    return end->seconds - begin->seconds;
}

bool RunSummary::Failed() const {
    return firstError || end == "cut short" || end == "OnCrash" || analytics == false;
}

Span& RunSummarizer::Open(std::vector<Span>& spans, WideView subject, const Moment& at) {
    Span& span = spans.emplace_back();
    span.subject = kv8::Text(subject);
    span.begin = at;
    return span;
}

// The span of this subject still going on, or a new one without a begin (the log holds none).
Span& RunSummarizer::Latest(std::vector<Span>& spans, WideView subject, const Moment& at) {
    for (auto span = spans.rbegin(); span != spans.rend(); ++span)
        if (span->subject == subject && span->outcome == "unfinished") return *span;
    Span& span = spans.emplace_back();
    span.subject = kv8::Text(subject);
    (void)at;
    return span;
}

void RunSummarizer::Fail(const Moment& at, kv8::Text what) {
    summary_.errors.push_back(Mark{at, std::move(what)});
    if (!summary_.firstError) summary_.firstError = summary_.errors.back();
}

void RunSummarizer::Add(const LogRecord& record) {
    RunSummary& s = summary_;
    ++s.records;
    if (!record.problem.empty()) ++s.problems;
    Moment at{IsoTime(record), SecondsSinceEpoch(record), s.records};
    if (record.timed) {
        if (!s.started) s.started = at;
        s.ended = at;
    }
    if (!record.problem.empty() || record.fields.empty()) return;  // nothing of it can be trusted
    const std::vector<WideView>& f = record.fields;
    WideView subject = f.size() > 1 ? f[1] : WideView();
    if (Is(record, "InitML")) {
        s.analytics.reset();
        s.end = "cut short";
    } else if (Is(record, "Fail to initialize KV8")) {
        s.analytics = false;
        s.end = "analytics library down";
        Fail(at, Widen("the analytics library did not come up"));
    } else {
        if (!s.analytics) s.analytics = true;  // a line of a run reporting
        if (Is(record, "ShutdownML")) {
            if (s.end != "OnCrash") s.end = "ShutdownML";
        } else if (Is(record, "OnCrash")) {
            s.end = "OnCrash";
            Fail(at, Widen("the setup crashed"));
        } else if (Is(record, "SETUP")) {
            s.setup.emplace_back(kv8::Text(f[1]), kv8::Text(f[2]));
        } else if (Is(record, "wpWarning")) {
            s.warnings.push_back({at, kv8::Text(subject)});
        } else if (Is(record, "DownloadBegin")) {
            Open(s.downloads, subject, at);
        } else if (Is(record, "InstallBegin")) {
            Open(s.installs, subject, at);
        } else if (Is(record, "DownloadPause")) {
            Latest(s.downloads, subject, at).pauses.push_back(at);
        } else if (Is(record, "DownloadResume")) {
            Latest(s.downloads, subject, at).resumes.push_back(at);
        } else if (StartsWith(record, "Download") || StartsWith(record, "Install")) {
            bool download = StartsWith(record, "Download");
            Span& span = Latest(download ? s.downloads : s.installs, subject, at);
            span.end = at;
            if (Is(record, "DownloadEnd") || Is(record, "InstallEnd")) {
                span.outcome = "ended";
            } else if (Is(record, "DownloadCancel") || Is(record, "InstallCancel")) {
                span.outcome = "cancelled";
            } else {
                span.outcome = "failed";
                if (download) span.message = kv8::Text(f[2]);
                kv8::Text what =
                    Widen(download ? "download failed: " : "installation failed: ") + span.subject;
                if (download) what += Widen(": ") + span.message;
                Fail(at, std::move(what));
            }
        }
    }
}

std::string SummaryText(const std::string& file, const RunSummary& s) {
    std::string out = file + "\n";
    auto line = [&](const std::string& label, const std::string& value) {
        out += "  " + label + std::string(14 - label.size(), ' ') + value + "\n";
    };
    line("started", s.started ? s.started->time : "(no timed record)");
    std::string how = s.end == "cut short" ? "cut short: the setup died or is still running"
                      : s.end == "OnCrash" ? "crashed (OnCrash)"
                      : s.end == "ShutdownML"
                          ? "ended normally (ShutdownML)"
                          : "the analytics library did not come up (Fail to initialize KV8)";
    line("ended", (s.ended ? s.ended->time + "  " : "") + how);
    line("analytics", !s.analytics   ? "unknown (no line after InitML)"
                      : *s.analytics ? "came up"
                                     : "did not come up");
    for (const auto& [name, value] : s.setup) line("setup", ToUtf8(name) + " = " + JsonText(value));
    auto spans = [&](const char* label, const std::vector<Span>& list) {
        for (const Span& span : list) {
            std::string text = ToUtf8(span.subject) + ": " + span.outcome;
            if (!span.message.empty()) text += " " + JsonText(span.message);
            if (auto seconds = span.Seconds()) text += " after " + std::to_string(*seconds) + " s";
            if (!span.pauses.empty())
                text += ", paused " + std::to_string(span.pauses.size()) + "x, resumed " +
                        std::to_string(span.resumes.size()) + "x";
            if (!span.begin) text += " (no begin in the log)";
            line(label, text);
        }
    };
    spans("download", s.downloads);
    spans("install", s.installs);
    for (const Mark& warning : s.warnings)
        line("warning", warning.at.time + "  " + JsonText(warning.text));
    if (s.firstError)
        line("first error", s.firstError->at.time + "  " + ToUtf8(s.firstError->text));
    line("records",
         std::to_string(s.records) +
             (s.problems ? ", " + std::to_string(s.problems) + " not as TEV writes them" : ""));
    return out;
}

std::string SummaryJson(const std::string& file, const RunSummary& s) {
    std::string out = "{\"file\":" + JsonText(FromUtf8(file));
    out += ",\"started\":" + JsonTime(s.started) + ",\"ended\":" + JsonTime(s.ended);
    out += ",\"end\":\"" + s.end +
           "\",\"analytics\":" + (s.analytics ? (*s.analytics ? "true" : "false") : "null");
    out += ",\"setup\":[";
    for (size_t i = 0; i < s.setup.size(); ++i)
        out += (i ? "," : "") + std::string("{\"name\":") + JsonText(s.setup[i].first) +
               ",\"value\":" + JsonText(s.setup[i].second) + "}";
    out += "]";
    auto spans = [&](const char* key, const char* subject, const std::vector<Span>& list) {
        out += std::string(",\"") + key + "\":[";
        for (size_t i = 0; i < list.size(); ++i) {
            const Span& span = list[i];
            out += (i ? "," : "") + std::string("{\"") + subject + "\":" + JsonText(span.subject) +
                   ",\"begin\":" + JsonTime(span.begin) + ",\"end\":" + JsonTime(span.end) +
                   ",\"outcome\":\"" + span.outcome +
                   "\",\"pauses\":" + std::to_string(span.pauses.size()) +
                   ",\"resumes\":" + std::to_string(span.resumes.size()) +
                   ",\"seconds\":" + (span.Seconds() ? std::to_string(*span.Seconds()) : "null");
            if (span.outcome == "failed" && subject[0] == 'u')
                out += ",\"error\":" + JsonText(span.message);
            out += "}";
        }
        out += "]";
    };
    spans("downloads", "url", s.downloads);
    spans("installs", "product", s.installs);
    out += ",\"warnings\":[";
    for (size_t i = 0; i < s.warnings.size(); ++i)
        out += (i ? "," : "") + JsonText(s.warnings[i].text);
    out +=
        "],\"first_error\":" + (s.firstError ? JsonText(s.firstError->text) : std::string("null"));
    out +=
        ",\"records\":" + std::to_string(s.records) + ",\"problems\":" + std::to_string(s.problems);
    out += std::string(",\"failed\":") + (s.Failed() ? "true" : "false") + "}";
    return out;
}

std::string SummaryCsvHeader() {
    return "file,started,ended,end,analytics,downloads,downloads_failed,installs,installs_failed,"
           "warnings,"
           "first_error,records,problems,failed";
}

std::string SummaryCsv(const std::string& file, const RunSummary& s) {
    std::string row = Csv(file) + "," + (s.started ? s.started->time : "") + "," +
                      (s.ended ? s.ended->time : "") + "," + s.end + "," +
                      (s.analytics ? (*s.analytics ? "true" : "false") : "") + ",";
    row += std::to_string(s.downloads.size()) + "," + std::to_string(Failures(s.downloads)) + "," +
           std::to_string(s.installs.size()) + "," + std::to_string(Failures(s.installs)) + "," +
           std::to_string(s.warnings.size()) + ",";
    row += Csv(s.firstError ? ToUtf8(s.firstError->text) : "") + "," + std::to_string(s.records) +
           "," + std::to_string(s.problems) + "," + (s.Failed() ? "true" : "false");
    return row;
}

namespace {

const char kPageStyle[] = R"(
body{font:14px system-ui,sans-serif;margin:24px;color:#222}
h1{font-size:18px} dl{display:grid;grid-template-columns:max-content auto;gap:2px 16px}
dt{color:#666} svg{border:1px solid #ddd;background:#fafafa}
.ended{fill:#3a9a4a}.failed{fill:#d03030}.cancelled{fill:#999}.unfinished{fill:#e0a020}
.warning{fill:#f0c000;stroke:#806000}.error{fill:#d03030;stroke:#600}
.pause{stroke:#fff;stroke-width:2} text{font-size:12px;fill:#333}
table{border-collapse:collapse;margin-top:16px;font:12px ui-monospace,monospace}
td{padding:1px 8px;border-bottom:1px solid #eee;white-space:pre-wrap;vertical-align:top}
tr.problem td{background:#fde8e8}
)";

std::string Number(double value) { return std::to_string(static_cast<long long>(value)); }

}  // namespace

std::string RecordRowHtml(const LogRecord& record) {
    std::string text;
    AppendRecordText(record, text);
    return std::string(record.problem.empty()
                           ? "<tr>"
                           : "<tr class=\"problem\" title=\"" + Html(record.problem) + "\">") +
           "<td>" + std::to_string(record.line) + "</td><td>" + Html(text) + "</td></tr>\n";
}

std::string SummaryHtml(const std::string& file, const RunSummary& s,
                        const std::vector<std::string>& recordRows) {
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
            fraction = static_cast<double>(at->record - 1) /
                       static_cast<double>(std::max<size_t>(s.records - 1, 1));
        else if (at && !at->time.empty())
            fraction = static_cast<double>(at->seconds - first) / static_cast<double>(last - first);
        return left + width * fraction;
    };
    size_t rows = s.downloads.size() + s.installs.size() + 1;
    std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"980\" height=\"" +
                      std::to_string(rows * 24 + 40) + "\">";
    std::string axisStart = byOrder ? "record 1" : s.started ? s.started->time : "";
    std::string axisEnd = byOrder
                              ? "record " + std::to_string(s.records) + " (a run of under " +
                                    std::to_string(kShortRun) + " s, in the order of its records)"
                          : s.ended ? s.ended->time
                                    : "";
    svg += "<text x=\"" + Number(left) + "\" y=\"14\">" + Html(axisStart) + "</text>";
    svg += "<text x=\"" + Number(left + width) + "\" y=\"14\" text-anchor=\"end\">" +
           Html(axisEnd) + "</text>";
    double y = 24;
    auto bars = [&](const char* kind, const std::vector<Span>& list) {
        for (const Span& item : list) {
            double from = x(item.begin, 0), to = std::max(x(item.end, 1), from + 3);
            std::string label = ToUtf8(item.subject);
            svg += "<text x=\"4\" y=\"" + Number(y + 14) + "\">" + kind + " " +
                   Html(label.size() > 36 ? "..." + label.substr(label.size() - 33) : label) +
                   "</text>";
            svg += "<rect class=\"bar " + std::string(kind) + " " + item.outcome + "\" x=\"" +
                   Number(from) + "\" y=\"" + Number(y + 3) + "\" width=\"" + Number(to - from) +
                   "\" height=\"16\"><title>" +
                   Html(label + ": " + item.outcome +
                        (item.message.empty() ? "" : " " + ToUtf8(item.message))) +
                   "</title></rect>";
            for (const Moment& pause : item.pauses)
                svg += "<line class=\"pause\" x1=\"" + Number(x(pause, 0)) + "\" x2=\"" +
                       Number(x(pause, 0)) + "\" y1=\"" + Number(y + 3) + "\" y2=\"" +
                       Number(y + 19) + "\"/>";
            if (item.outcome == "failed")
                svg += "<circle class=\"mark error\" cx=\"" + Number(to) + "\" cy=\"" +
                       Number(y + 11) + "\" r=\"6\"><title>" + Html(label + ": failed") +
                       "</title></circle>";
            y += 24;
        }
    };
    bars("download", s.downloads);
    bars("install", s.installs);
    svg += "<text x=\"4\" y=\"" + Number(y + 14) + "\">warnings and errors</text>";
    for (const Mark& warning : s.warnings) {
        double at = x(warning.at, 0);
        svg += "<path class=\"mark warning\" d=\"M" + Number(at) + " " + Number(y + 3) +
               " l7 14 h-14 z\"><title>" + Html(ToUtf8(warning.text)) + "</title></path>";
    }
    for (const Mark& error : s.errors)
        svg += "<circle class=\"mark error\" cx=\"" + Number(x(error.at, 1)) + "\" cy=\"" +
               Number(y + 11) + "\" r=\"6\"><title>" + Html(ToUtf8(error.text)) +
               "</title></circle>";
    svg += "</svg>";

    std::string page = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>" +
                       Html(file) + "</title><style>" + kPageStyle + "</style></head><body>\n<h1>" +
                       Html(file) + "</h1>\n<dl>";
    for (std::string_view line : std::vector<std::string>{SummaryText(file, s)}) {
        // The text summary's labelled lines, as a definition list.
        size_t at = line.find('\n') + 1;
        while (at < line.size()) {
            size_t end = line.find('\n', at);
            std::string_view row = line.substr(at + 2, end - at - 2);
            size_t gap = row.find("  ");
            page += "<dt>" + Html(row.substr(0, gap)) + "</dt><dd>" +
                    Html(row.substr(row.find_first_not_of(' ', gap))) + "</dd>";
            at = end + 1;
        }
    }
    page += "</dl>\n" + svg + "\n<table>";
    for (const std::string& record : recordRows) page += record;
    return page + "</table>\n</body></html>\n";
}

}  // namespace tevtool
