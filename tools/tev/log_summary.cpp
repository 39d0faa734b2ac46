#include "log_summary.h"

#include <algorithm>

namespace tevtool {
namespace {

namespace logformat = tev::logformat;

kv8::Text Widen(std::string_view ascii) { return kv8::Text(ascii.begin(), ascii.end()); }

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

size_t Failures(const std::vector<Span>& spans) {
    return static_cast<size_t>(std::count_if(spans.begin(), spans.end(), [](const Span& span) {
        return span.outcome == Outcome::Failed;
    }));
}

}  // namespace

const char* OutcomeText(Outcome outcome) {
    switch (outcome) {
    case Outcome::Unfinished: return "unfinished";
    case Outcome::Ended: return "ended";
    case Outcome::Cancelled: return "cancelled";
    case Outcome::Failed: return "failed";
    }
    return "";
}

const char* RunEndText(RunEnd end) {
    switch (end) {
    case RunEnd::CutShort: return "cut short";
    case RunEnd::Shutdown: return "ShutdownML";
    case RunEnd::Crash: return "OnCrash";
    case RunEnd::AnalyticsDown: return "analytics library down";
    }
    return "";
}

std::optional<std::int64_t> Span::Seconds() const {
    if (!begin || !end || begin->time.empty() || end->time.empty()) return std::nullopt;
    return end->seconds - begin->seconds;
}

bool RunSummary::Failed() const {
    return firstError || end == RunEnd::CutShort || end == RunEnd::Crash || analytics == false;
}

Span& RunSummarizer::Open(std::vector<Span>& spans, WideView subject, const Moment& at) {
    Span& span = spans.emplace_back();
    span.subject = kv8::Text(subject);
    span.begin = at;
    return span;
}

// The span of this subject still going on, or a new one without a begin (the log holds none).
Span& RunSummarizer::Latest(std::vector<Span>& spans, WideView subject) {
    for (auto span = spans.rbegin(); span != spans.rend(); ++span)
        if (span->subject == subject && span->outcome == Outcome::Unfinished) return *span;
    Span& span = spans.emplace_back();
    span.subject = kv8::Text(subject);
    return span;
}

Span& RunSummarizer::Close(std::vector<Span>& spans, WideView subject, const Moment& at,
                           Outcome outcome) {
    Span& span = Latest(spans, subject);
    span.end = at;
    span.outcome = outcome;
    return span;
}

void RunSummarizer::Fail(const Moment& at, kv8::Text what) {
    summary_.errors.push_back(Mark{at, std::move(what)});
    if (!summary_.firstError) summary_.firstError = summary_.errors.back();
}

void RunSummarizer::Add(const LogRecord& record) {
    using logformat::Token;
    RunSummary& s = summary_;
    ++s.records;
    if (!record.problem.empty()) ++s.problems;
    Moment at{IsoTime(record), SecondsSinceEpoch(record), s.records};
    if (record.timed) {
        if (!s.started) s.started = at;
        s.ended = at;
    }
    if (!record.problem.empty() || !record.kind) return;  // nothing of it can be trusted
    const std::vector<WideView>& f = record.fields;
    WideView subject = f.size() > 1 ? f[1] : WideView();
    if (*record.kind == Token::InitML) {
        s.analytics.reset();
        s.end = RunEnd::CutShort;
        return;
    }
    if (*record.kind == Token::FailToInitialize) {
        s.analytics = false;
        s.end = RunEnd::AnalyticsDown;
        Fail(at, Widen("the analytics library did not come up"));
        return;
    }
    if (*record.kind == Token::LibraryUnavailable) {
        Fail(at, Widen("analytics library missing: ") + kv8::Text(f[1]) + Widen(" (") +
                     kv8::Text(f[2]) + Widen(")"));
        return;
    }
    if (!s.analytics) s.analytics = true;  // a line of a run reporting
    switch (*record.kind) {
    case Token::ShutdownML:
        if (s.end != RunEnd::Crash) s.end = RunEnd::Shutdown;
        break;
    case Token::OnCrash:
        s.end = RunEnd::Crash;
        Fail(at, Widen("the setup crashed"));
        break;
    case Token::SetupAttribute: s.setup.emplace_back(kv8::Text(f[1]), kv8::Text(f[2])); break;
    case Token::Warning: s.warnings.push_back({at, kv8::Text(subject)}); break;
    case Token::DownloadBegin: Open(s.downloads, subject, at); break;
    case Token::InstallBegin: Open(s.installs, subject, at); break;
    case Token::DownloadPause: Latest(s.downloads, subject).pauses.push_back(at); break;
    case Token::DownloadResume: Latest(s.downloads, subject).resumes.push_back(at); break;
    case Token::DownloadEnd: Close(s.downloads, subject, at, Outcome::Ended); break;
    case Token::InstallEnd: Close(s.installs, subject, at, Outcome::Ended); break;
    case Token::DownloadCancel: Close(s.downloads, subject, at, Outcome::Cancelled); break;
    case Token::InstallCancel: Close(s.installs, subject, at, Outcome::Cancelled); break;
    case Token::DownloadError: {
        Span& span = Close(s.downloads, subject, at, Outcome::Failed);
        span.message = kv8::Text(f[2]);
        Fail(at, Widen("download failed: ") + span.subject + Widen(": ") + span.message);
        break;
    }
    case Token::InstallError:
        Fail(at, Widen("installation failed: ") +
                     Close(s.installs, subject, at, Outcome::Failed).subject);
        break;
    case Token::InitML:
    case Token::FailToInitialize:
    case Token::LibraryUnavailable:
    case Token::CommitSetupWaypoint:
    case Token::CommitProducts:
    case Token::DownloadMilestone:
    case Token::ProductData: break;
    }
}

std::string SummaryText(const std::string& file, const RunSummary& s) {
    std::string out = file + "\n";
    auto line = [&](const std::string& label, const std::string& value) {
        out += "  " + label + std::string(14 - label.size(), ' ') + value + "\n";
    };
    line("started", s.started ? s.started->time : "(no timed record)");
    std::string how = s.end == RunEnd::CutShort ? "cut short: the setup died or is still running"
                      : s.end == RunEnd::Crash  ? "crashed (OnCrash)"
                      : s.end == RunEnd::Shutdown
                          ? "ended normally (ShutdownML)"
                          : "the analytics library did not come up (Fail to initialize KV8)";
    line("ended", (s.ended ? s.ended->time + "  " : "") + how);
    line("analytics", !s.analytics   ? "unknown (no line after InitML)"
                      : *s.analytics ? "came up"
                                     : "did not come up");
    for (const auto& [name, value] : s.setup) line("setup", ToUtf8(name) + " = " + Json(value));
    auto spans = [&](const char* label, const std::vector<Span>& list) {
        for (const Span& span : list) {
            std::string text = ToUtf8(span.subject) + ": " + OutcomeText(span.outcome);
            if (!span.message.empty()) text += " " + Json(span.message);
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
        line("warning", warning.at.time + "  " + Json(warning.text));
    if (s.firstError)
        line("first error", s.firstError->at.time + "  " + ToUtf8(s.firstError->text));
    line("records",
         std::to_string(s.records) +
             (s.problems ? ", " + std::to_string(s.problems) + " not as TEV writes them" : ""));
    return out;
}

std::string SummaryJson(const std::string& file, const RunSummary& s) {
    std::string out = "{\"file\":" + Json(FromUtf8(file));
    out += ",\"started\":" + JsonTime(s.started) + ",\"ended\":" + JsonTime(s.ended);
    out += std::string(",\"end\":\"") + RunEndText(s.end) +
           "\",\"analytics\":" + (s.analytics ? (*s.analytics ? "true" : "false") : "null");
    out += ",\"setup\":[";
    for (size_t i = 0; i < s.setup.size(); ++i)
        out += (i ? "," : "") + std::string("{\"name\":") + Json(s.setup[i].first) +
               ",\"value\":" + Json(s.setup[i].second) + "}";
    out += "]";
    // A failed download's error text is shown; an installation's error has none.
    auto spans = [&](const char* key, const char* subject, const std::vector<Span>& list,
                     bool downloads) {
        out += std::string(",\"") + key + "\":[";
        for (size_t i = 0; i < list.size(); ++i) {
            const Span& span = list[i];
            out += (i ? "," : "") + std::string("{\"") + subject + "\":" + Json(span.subject) +
                   ",\"begin\":" + JsonTime(span.begin) + ",\"end\":" + JsonTime(span.end) +
                   ",\"outcome\":\"" + OutcomeText(span.outcome) +
                   "\",\"pauses\":" + std::to_string(span.pauses.size()) +
                   ",\"resumes\":" + std::to_string(span.resumes.size()) +
                   ",\"seconds\":" + (span.Seconds() ? std::to_string(*span.Seconds()) : "null");
            if (span.outcome == Outcome::Failed && downloads)
                out += ",\"error\":" + Json(span.message);
            out += "}";
        }
        out += "]";
    };
    spans("downloads", "url", s.downloads, true);
    spans("installs", "product", s.installs, false);
    out += ",\"warnings\":[";
    for (size_t i = 0; i < s.warnings.size(); ++i) out += (i ? "," : "") + Json(s.warnings[i].text);
    out += "],\"first_error\":" + (s.firstError ? Json(s.firstError->text) : std::string("null"));
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
                      (s.ended ? s.ended->time : "") + "," + RunEndText(s.end) + "," +
                      (s.analytics ? (*s.analytics ? "true" : "false") : "") + ",";
    row += std::to_string(s.downloads.size()) + "," + std::to_string(Failures(s.downloads)) + "," +
           std::to_string(s.installs.size()) + "," + std::to_string(Failures(s.installs)) + "," +
           std::to_string(s.warnings.size()) + ",";
    row += Csv(s.firstError ? ToUtf8(s.firstError->text) : "") + "," + std::to_string(s.records) +
           "," + std::to_string(s.problems) + "," + (s.Failed() ? "true" : "false");
    return row;
}

}  // namespace tevtool
