#include "log_summary.h"

#include <algorithm>

namespace tevtool {
namespace {

namespace logformat = tev::logformat;

kv8::Text Widen(std::string_view ascii) { return kv8::Text(ascii.begin(), ascii.end()); }

// 64 bits whatever the platform, so that subjects and texts are told apart by it: four code units
// at a time, each step a multiply and a shift (MurmurHash3's mixing), never 0.
std::uint64_t Hash(WideView text) {
    auto mix = [](std::uint64_t hash, std::uint64_t word) {
        hash = (hash ^ word) * 0xff51afd7ed558ccdull;
        return hash ^ (hash >> 32);
    };
    std::uint64_t hash = 0x9e3779b97f4a7c15ull ^ text.size();
    size_t at = 0;
    for (; at + 4 <= text.size(); at += 4) {
        std::uint64_t word = 0;
        for (size_t i = 0; i < 4; ++i)
            word |= std::uint64_t{static_cast<std::uint16_t>(text[at + i])} << (16 * i);
        hash = mix(hash, word);
    }
    for (; at < text.size(); ++at) hash = mix(hash, static_cast<std::uint16_t>(text[at]));
    hash = (hash ^ (hash >> 33)) * 0xc4ceb9fe1a85ec53ull;
    hash ^= hash >> 33;
    return hash ? hash : 1;
}

// The text as a summary keeps it: at most kTextKept code units, cut between characters, with an
// ellipsis where it was cut.
kv8::Text KeptText(WideView text) {
    if (text.size() <= kTextKept) return kv8::Text(text);
    size_t cut = kTextKept;
    if (text[cut - 1] >= 0xD800 && text[cut - 1] <= 0xDBFF) --cut;  // not inside a pair
    return kv8::Text(text.substr(0, cut)) + static_cast<TEVChar>(0x2026);
}

std::string JsonTime(const std::optional<Moment>& moment) {
    return moment && moment->timed ? "\"" + TimeText(*moment) + "\"" : "null";
}

// A CSV field: a text a spreadsheet would take for a formula gets a leading ', and a field that
// holds a comma or a quote is quoted. Texts come shown (ShownText), so they hold no line break.
std::string Csv(std::string text) {
    if (!text.empty() && std::string_view("=+-@\t\r").find(text[0]) != std::string_view::npos)
        text.insert(0, 1, '\'');
    if (text.find_first_of(",\"") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

}  // namespace

void AppendTime(const Moment& moment, std::string& out) {
    if (moment.timed) AppendTime(moment.seconds, out);
}

std::string TimeText(const Moment& moment) {
    std::string text;
    AppendTime(moment, text);
    return text;
}

void Tallies::Add(WideView text, const Moment& at) {
    ++total_;
    auto [row, added] = index_.try_emplace(Hash(text), rows_.size());
    if (added) {
        if (rows_.size() == kRowsKept) {
            index_.erase(row);
            ++notKept_;
            return;
        }
        rows_.push_back(Tally{KeptText(text), 0, at, at});
    }
    Tally& tally = rows_[row->second];
    ++tally.count;
    tally.last = at;
}

const char* OutcomeText(Outcome outcome) {
    switch (outcome) {
    case Outcome::Unfinished: return "unfinished";
    case Outcome::Ended: return "ended";
    case Outcome::Cancelled: return "cancelled";
    case Outcome::Failed: return "failed";
    }
    return "";
}

std::optional<std::int64_t> Span::Seconds() const {
    if (!begin || !end || !begin->timed || !end->timed) return std::nullopt;
    return end->seconds - begin->seconds;
}

Spans::Open* Spans::OpenIndex::Find(std::uint64_t key, bool make) {
    make = make && size_ < kOpenFollowed;
    if (make && (size_ + 1) * 2 > slots_.size()) Grow();  // at most half full: short probes
    if (slots_.empty()) return nullptr;
    size_t at = Home(key);
    for (; slots_[at].key; at = (at + 1) & (slots_.size() - 1))
        if (slots_[at].key == key) return &slots_[at];
    if (!make) return nullptr;
    ++size_;
    slots_[at].key = key;
    return &slots_[at];
}

void Spans::OpenIndex::Grow() {
    std::vector<Open> old(std::max<size_t>(slots_.size() * 2, 8));
    old.swap(slots_);
    for (const Open& open : old) {
        if (!open.key) continue;
        size_t at = Home(open.key);
        while (slots_[at].key) at = (at + 1) & (slots_.size() - 1);
        slots_[at] = open;
    }
}

void Spans::OpenIndex::Erase(Open& open) {
    // Each slot after the freed one that its probe would no longer reach moves back into it.
    size_t mask = slots_.size() - 1, slot = static_cast<size_t>(&open - slots_.data());
    for (size_t at = (slot + 1) & mask; slots_[at].key; at = (at + 1) & mask) {
        size_t home = Home(slots_[at].key);
        bool reachable = slot <= at ? slot < home && home <= at : slot < home || home <= at;
        if (!reachable) {
            slots_[slot] = slots_[at];
            slot = at;
        }
    }
    slots_[slot] = Open();
    --size_;
}

Span* Spans::Start(WideView subject, std::optional<Moment> begin, bool open) {
    ++total_;
    Span* span = nullptr;
    if (kept_.size() < kSpansKept) {
        span = &kept_.emplace_back();
        span->subject = KeptText(subject);
        span->begin = begin;
        earlierOpen_.push_back(kNoSpan);
    }
    Open* followed = open ? open_.Find(Hash(subject), true) : nullptr;
    if (!followed) return span;
    if (span) {
        earlierOpen_.back() = followed->latestKept;
        followed->latestKept = static_cast<std::uint32_t>(kept_.size() - 1);
    } else {
        ++followed->counted;
    }
    return span;
}

Span* Spans::Latest(WideView subject, bool closing) {
    Open* open = open_.Find(Hash(subject), false);
    if (!open) return Start(subject, std::nullopt, !closing);
    Span* span = nullptr;
    if (open->counted) {
        open->counted -= closing;
    } else {
        span = &kept_[open->latestKept];
        if (closing) open->latestKept = earlierOpen_[open->latestKept];
    }
    if (open->latestKept == kNoSpan && open->counted == 0) open_.Erase(*open);
    return span;
}

void Spans::Begin(WideView subject, const Moment& at) { Start(subject, at, true); }

void Spans::Pause(WideView subject, const Moment& at) {
    if (Span* span = Latest(subject, false)) {
        ++span->pauses;
        if (span->pauseMoments.size() < kPausesKept) span->pauseMoments.push_back(at);
    }
}

void Spans::Resume(WideView subject) {
    if (Span* span = Latest(subject, false)) ++span->resumes;
}

Span* Spans::Close(WideView subject, const Moment& at, Outcome outcome) {
    Span* span = Latest(subject, true);
    if (outcome == Outcome::Failed) ++failures_;
    if (span) {
        span->end = at;
        span->outcome = outcome;
    }
    return span;
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

bool RunSummary::Failed() const {
    return firstError || end == RunEnd::CutShort || end == RunEnd::Crash || analytics == false;
}

bool RunSplit::Starts(const LogRecord& record) {
    bool starts = records_++ == 0 || record.kind == logformat::Token::InitML;
    ordinal_ += starts;
    return starts;
}

void RunSummarizer::Fail(const Moment& at, WideView what) {
    run_->errors.Add(what, at);
    if (!run_->firstError) run_->firstError = Tally{KeptText(what), 1, at, at};
}

void RunSummarizer::Finish() {
    if (!run_) run_.emplace();
    finished_(*run_);
    run_.reset();
}

void RunSummarizer::Add(const LogRecord& record) {
    using logformat::Token;
    if (split_.Starts(record)) {
        if (run_) finished_(*run_);
        run_.emplace();
        run_->ordinal = split_.Ordinal();
    }
    RunSummary& s = *run_;
    if (s.records++ == 0) s.firstRecord = split_.Records();
    if (!record.problem.empty()) ++s.problems;
    Moment at{split_.Records(), record.timed, SecondsSinceEpoch(record)};
    if (record.timed) {
        if (!s.started) s.started = at;
        s.ended = at;
    }
    if (!record.problem.empty() || !record.kind) return;  // nothing of it can be trusted
    const std::vector<WideView>& f = record.fields;
    WideView subject = f.size() > 1 ? f[1] : WideView();
    if (*record.kind == Token::InitML) return;
    if (*record.kind == Token::FailToInitialize) {
        s.analytics = false;
        s.end = RunEnd::AnalyticsDown;
        Fail(at, TEV_TEXT("the analytics library did not come up"));
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
        Fail(at, TEV_TEXT("the setup crashed"));
        break;
    case Token::SetupAttribute:
        if (s.setup.size() < kRowsKept)
            s.setup.emplace_back(KeptText(f[1]), KeptText(f[2]));
        else
            ++s.setupNotKept;
        break;
    case Token::Warning: s.warnings.Add(subject, at); break;
    case Token::DownloadBegin: s.downloads.Begin(subject, at); break;
    case Token::InstallBegin: s.installs.Begin(subject, at); break;
    case Token::DownloadPause: s.downloads.Pause(subject, at); break;
    case Token::DownloadResume: s.downloads.Resume(subject); break;
    case Token::DownloadEnd: s.downloads.Close(subject, at, Outcome::Ended); break;
    case Token::InstallEnd: s.installs.Close(subject, at, Outcome::Ended); break;
    case Token::DownloadCancel: s.downloads.Close(subject, at, Outcome::Cancelled); break;
    case Token::InstallCancel: s.installs.Close(subject, at, Outcome::Cancelled); break;
    case Token::DownloadError:
        if (Span* span = s.downloads.Close(subject, at, Outcome::Failed))
            span->message = KeptText(f[2]);
        Fail(at, Widen("download failed: ") + kv8::Text(subject) + Widen(": ") + kv8::Text(f[2]));
        break;
    case Token::InstallError:
        s.installs.Close(subject, at, Outcome::Failed);
        Fail(at, Widen("installation failed: ") + kv8::Text(subject));
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

void ForEachSummaryLine(const RunSummary& s,
                        const std::function<void(std::string_view, std::string_view)>& visit) {
    std::string value;  // one buffer for every line: a summary per run of a long log is cheap
    auto line = [&](std::string_view label) {
        visit(label, value);
        value.clear();
    };
    auto number = [&](size_t count) { value += std::to_string(count); };
    auto quoted = [&](WideView text) {
        value += '"';
        AppendShown(text, value);
        value += '"';
    };
    if (s.started)
        AppendTime(*s.started, value);
    else
        value += "(no timed record)";
    line("started");
    if (s.ended) {
        AppendTime(*s.ended, value);
        value += "  ";
    }
    value += s.end == RunEnd::CutShort ? "cut short: the setup died or is still running"
             : s.end == RunEnd::Crash  ? "crashed (OnCrash)"
             : s.end == RunEnd::Shutdown
                 ? "ended normally (ShutdownML)"
                 : "the analytics library did not come up (Fail to initialize KV8)";
    line("ended");
    value += !s.analytics   ? "unknown (no line after InitML)"
             : *s.analytics ? "came up"
                            : "did not come up";
    line("analytics");
    for (const auto& [name, text] : s.setup) {
        AppendShown(name, value);
        value += " = ";
        quoted(text);
        line("setup");
    }
    auto more = [&](size_t count, const char* what) {
        value += "and ";
        number(count);
        value += " more ";
        value += what;
        value += ", not listed";
    };
    if (s.setupNotKept) {
        more(s.setupNotKept, "attributes");
        line("setup");
    }
    auto spans = [&](const char* label, const Spans& list) {
        for (const Span& span : list.Kept()) {
            AppendShown(span.subject, value);
            value += ": ";
            value += OutcomeText(span.outcome);
            if (!span.message.empty()) {
                value += ' ';
                quoted(span.message);
            }
            if (auto seconds = span.Seconds()) value += " after " + std::to_string(*seconds) + " s";
            if (span.pauses) {
                value += ", paused ";
                number(span.pauses);
                value += "x, resumed ";
                number(span.resumes);
                value += 'x';
            }
            if (!span.begin) value += " (no begin in the log)";
            line(label);
        }
        if (list.NotKept()) {
            more(list.NotKept(), label);
            value += " (";
            number(list.Failures());
            value += " of all ";
            number(list.Total());
            value += " failed)";
            line(label);
        }
    };
    spans("download", s.downloads);
    spans("install", s.installs);
    for (const Tally& warning : s.warnings.Rows()) {
        AppendTime(warning.first, value);
        if (warning.count > 1) {
            value += " to ";
            AppendTime(warning.last, value);
            value += ", ";
            number(warning.count);
            value += " times";
        }
        value += "  ";
        quoted(warning.text);
        line("warning");
    }
    if (s.warnings.NotKept()) {
        more(s.warnings.NotKept(), "of other texts");
        line("warning");
    }
    if (s.firstError) {
        AppendTime(s.firstError->first, value);
        value += "  ";
        AppendShown(s.firstError->text, value);
        line("first error");
    }
    if (s.errors.Total() > 1) {
        number(s.errors.Total());
        value += " in all";
        line("errors");
    }
    number(s.records);
    if (s.problems) {
        value += ", ";
        number(s.problems);
        value += " not as TEV writes them";
    }
    line("records");
}

void AppendSummaryText(const std::string& file, const RunSummary& s, std::string& out) {
    AppendShown(FromUtf8(file), out);
    out += " (run " + std::to_string(s.ordinal) + ")\n";
    ForEachSummaryLine(s, [&](std::string_view label, std::string_view value) {
        out += "  ";
        out += label;
        out.append(14 - label.size(), ' ');
        out += value;
        out += '\n';
    });
}

std::string SummaryJson(const std::string& file, const RunSummary& s) {
    std::string out = "{\"file\":" + Json(FromUtf8(file)) + ",\"run\":" + std::to_string(s.ordinal);
    out += ",\"started\":" + JsonTime(s.started) + ",\"ended\":" + JsonTime(s.ended);
    out += std::string(",\"end\":\"") + RunEndText(s.end) +
           "\",\"analytics\":" + (s.analytics ? (*s.analytics ? "true" : "false") : "null");
    out += ",\"setup\":[";
    for (size_t i = 0; i < s.setup.size(); ++i)
        out += (i ? "," : "") + std::string("{\"name\":") + Json(s.setup[i].first) +
               ",\"value\":" + Json(s.setup[i].second) + "}";
    out += "],\"setup_not_kept\":" + std::to_string(s.setupNotKept);
    // A failed download's error text is shown; an installation's error has none.
    auto spans = [&](const char* key, const char* subject, const Spans& list, bool downloads) {
        out += std::string(",\"") + key + "\":[";
        const std::vector<Span>& kept = list.Kept();
        for (size_t i = 0; i < kept.size(); ++i) {
            const Span& span = kept[i];
            out += (i ? "," : "") + std::string("{\"") + subject + "\":" + Json(span.subject) +
                   ",\"begin\":" + JsonTime(span.begin) + ",\"end\":" + JsonTime(span.end) +
                   ",\"outcome\":\"" + OutcomeText(span.outcome) +
                   "\",\"pauses\":" + std::to_string(span.pauses) +
                   ",\"resumes\":" + std::to_string(span.resumes) +
                   ",\"seconds\":" + (span.Seconds() ? std::to_string(*span.Seconds()) : "null");
            if (downloads)
                out += ",\"error\":" +
                       (span.outcome == Outcome::Failed ? Json(span.message) : std::string("null"));
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
            out += (i ? "," : "") + std::string("{\"text\":") + Json(row.text) +
                   ",\"count\":" + std::to_string(row.count) + ",\"first\":" + JsonTime(row.first) +
                   ",\"last\":" + JsonTime(row.last) + "}";
        }
        out += std::string("],\"") + key + "_total\":" + std::to_string(list.Total()) + ",\"" +
               key + "_not_kept\":" + std::to_string(list.NotKept());
    };
    tallies("warnings", s.warnings);
    tallies("errors", s.errors);
    out += ",\"first_error\":" + (s.firstError ? Json(s.firstError->text) : std::string("null"));
    out += ",\"first_error_time\":" +
           (s.firstError ? JsonTime(s.firstError->first) : std::string("null"));
    out +=
        ",\"records\":" + std::to_string(s.records) + ",\"problems\":" + std::to_string(s.problems);
    out += std::string(",\"failed\":") + (s.Failed() ? "true" : "false") + "}";
    return out;
}

std::string SummaryCsvHeader() {
    return "file,run,started,ended,end,analytics,downloads,downloads_failed,installs,"
           "installs_failed,warnings,first_error,records,problems,failed";
}

std::string SummaryCsv(const std::string& file, const RunSummary& s) {
    std::string row = Csv(ShownText(FromUtf8(file))) + "," + std::to_string(s.ordinal) + "," +
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

}  // namespace tevtool
