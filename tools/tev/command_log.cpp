// tev log: decodes diagnostic logs, or tells each run's story.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
#include <thread>

#include "tev/commands.h"
#include "tev/files.h"
#include "logreader/fleet_totals.h"
#include "logreader/log_decoder.h"
#include "logreader/run_summary.h"
#include "printers/log_page.h"
#include "printers/record_print.h"
#include "printers/escaped_text.h"
#include "printers/summary_print.h"
#include "tev/tool_system.h"
#include "tev/help_texts.h"
#include "tev/terminal.h"
#include "vocabulary/log_format.h"

namespace tevtool {
namespace {

// The worse of two exit statuses, in the order of precedence commands.h gives.
int Worse(int status, int other) {
    auto rank = [](int s) {
        return s == kUsageError ? 3 : s == kRunFailed ? 2 : s == kFailure ? 1 : 0;
    };
    return rank(other) > rank(status) ? other : status;
}

struct LogOptions {
    bool json = false, summary = false, csv = false, html = false, failed = false, local = false;
    bool totals = false;  // only the totals of the runs, not each run
    bool follow = false;  // the log shown as it is written
    std::string output;   // -o FILE; standard output when empty
};

// The output (standard output or -o FILE) in large writes: a log of a hundred megabytes is decoded
// in one pass.
class Output {
public:
    Output(std::FILE* file, std::string name) : file_(file), name_(std::move(name)) {}
    ~Output() { Flush(); }
    std::FILE* File() const { return file_; }
    std::string& Buffer() { return buffer_; }
    void Line() {
        buffer_ += '\n';
        if (buffer_.size() >= (1 << 16)) Flush();
    }
    void Flush() {
        std::fwrite(buffer_.data(), 1, buffer_.size(), file_);
        EndIfWriteFailed(file_, name_);
        buffer_.clear();
    }

    // Everything written so far out of the process, before a message on standard error.
    void Sync() {
        Flush();
        std::fflush(file_);
        EndIfWriteFailed(file_, name_);
    }

private:
    std::FILE* file_;
    std::string name_;
    std::string buffer_;
};

// A message about `path` on standard error, after what was written so far.
void Complain(Output& out, const std::string& path, const std::string& message, Style style) {
    out.Sync();
    std::cerr << Styled(style, "tev: " + ShownUtf8(path) + ": " + ShownUtf8(message)) << '\n';
}

// A usage error: its message on standard error, and the status.
int Refuse(const std::string& message) {
    std::cerr << Styled(Style::Error, "tev: " + ShownUtf8(message)) << '\n';
    return kUsageError;
}

// Whether the text begins as a log's record does, with a date: M/D/YYYY and the part's end.
bool StartsWithDate(WideView text) {
    size_t at = 0;
    auto digits = [&](size_t least, size_t most) {
        size_t start = at;
        while (at < text.size() && at - start < most && text[at] >= '0' && text[at] <= '9') ++at;
        return at - start >= least;
    };
    auto separator = [&](TEVChar unit) { return at < text.size() && text[at++] == unit; };
    using namespace tev::logformat;
    return digits(1, 2) && separator(kDateSeparator) && digits(1, 2) && separator(kDateSeparator) &&
           digits(4, 4) && separator(TEVChar(kStampPartEnd[0]));
}

// Whether a file's first bytes (its first kJudged, or all of a shorter file) hold a log's first
// whole record, whatever its name and wherever in them that record starts (a log cut short, or
// whose start is torn, too).
constexpr size_t kJudged = 4096;
bool StartsAsLog(std::string_view start) {
    bool dated = false, first = true;
    LogDecoder decoder([&](const LogRecord& record) {
        if (first) dated = StartsWithDate(record.text);
        first = false;
    });
    // A little at a time, until the first record is out: a log's is at its start.
    constexpr size_t kStep = 512;
    for (size_t at = 0; first && at < start.size(); at += kStep)
        decoder.Feed(start.substr(at, kStep));
    if (first) decoder.Finish();
    return dated;
}

// The plain decode of a record: "-- run N --" above an InitML record that starts a run (but for
// the log's first record), then the record as one line; each line after `linePrefix`.
void AppendPlainLines(const LogRecord& record, bool startsRun, const RunSplit& split,
                      const std::string& linePrefix, Output& out) {
    if (startsRun && split.Records() > 1) {
        out.Buffer() += linePrefix + "-- run " + std::to_string(split.Ordinal()) + " --";
        out.Line();
    }
    if (!linePrefix.empty()) out.Buffer() += linePrefix;
    AppendRecordText(record, out.Buffer());
    out.Line();
}

constexpr size_t kProblemsShown = 10;
constexpr size_t kSkippedNamed = 10;  // files of a folder that are no log, named one by one
constexpr char kNotALog[] = "not a log by its content (no dated record of TEV's in its first 4 KB)";

// Where the runs go: summaries to `out` (`blocks` counts the text ones, to set them apart), or
// the page; and into the totals, when they are to be given.
struct RunsOut {
    Output& out;
    LogPage* page = nullptr;
    FleetTotals* totals = nullptr;
    size_t blocks = 0;
};

// How a file is taken: as a log whatever it holds (standard input), or only when its content
// begins as a log's does; a file named on the command line that holds nothing is a log that holds
// nothing yet, a folder's is not.
enum class Judged { Never, Named, InFolder };

// What LogOne made of a file: a log (read whole or not), no log by its content, or nothing (it
// could not be read as far as its content is judged).
enum class Taken { Log, NotALog, Unread };

// Decodes one log into `runs`, opening it once; returns its exit status. A file that is not a log
// by its content is left unread after its first bytes, and nothing is shown of it.
int LogOne(const std::string& path, bool many, const LogOptions& options, RunsOut& runs,
           Judged judged, Taken& taken) {
    taken = Taken::Unread;
    Output& out = runs.out;
    std::vector<std::string> complaints;
    int status = 0;
    const LogName name(path);  // as every run and record of the log gives it
    // The plain decode of several logs: on a terminal a heading above each, elsewhere (a pipe, a
    // file) each line begins with its log's name, so that a line found by grep says where it was.
    const bool plain = !options.summary && !options.json && !runs.page;
    const bool headed = many && plain && OnTerminal(out.File());
    const std::string linePrefix = many && plain && !headed ? name.shown + ":" : "";
    const bool summarizing = options.summary || runs.page;
    bool failed = false;
    RunSummarizer summarizer([&](const RunSummary& run) {
        failed |= run.Failed();
        if (runs.totals) runs.totals->AddRun(path, run);
        bool shown = !options.failed || run.Failed();
        if (runs.page) return runs.page->AddRun(path, run, shown);
        if (!shown || options.totals) return;
        if (options.csv) {
            out.Buffer() += SummaryCsv(name, run);
        } else if (options.json) {
            out.Buffer() += SummaryJson(name, run);
        } else {
            if (runs.blocks++) out.Line();
            // Painted only where colour shows: elsewhere the outcome is copied as it is.
            OutcomePainter paint = nullptr;
            if (ShowsColour(out.File()))
                paint = [&](bool bad, std::string_view text) {
                    return Styled(bad ? Style::Error : Style::Success, text, out.File());
                };
            AppendSummaryText(name, run, out.Buffer(), paint);
            out.Buffer().pop_back();  // Line() ends it
        }
        out.Line();
    });
    RunSplit split;  // the plain decode marks where each run starts
    size_t problems = 0;
    LogDecoder decoder([&](const LogRecord& record) {
        if (!record.problem.empty()) {
            status = kFailure;
            if (++problems <= kProblemsShown)
                complaints.push_back("line " + std::to_string(record.line) + " (byte " +
                                     std::to_string(record.byte) + "): " + record.problem);
        }
        if (summarizing) {
            summarizer.Add(record);
            if (runs.page) runs.page->AddRecord(record);
            return;
        }
        // An InitML record starts a run: JSON gives it the run's ordinal, text a line above it
        // (but for the log's first record).
        bool starts = split.Starts(record) && record.kind == tev::logformat::Token::InitML;
        if (options.json) {
            AppendRecordJson(record, name.json, out.Buffer());
            if (starts) {
                out.Buffer().pop_back();
                out.Buffer() += ",\"run\":" + std::to_string(split.Ordinal()) + "}";
            }
            out.Line();
        } else {
            AppendPlainLines(record, starts, split, linePrefix, out);
        }
    });
    std::string error;
    std::uint64_t size = 0;
    std::optional<Progress> progress;
    std::string head;  // the first bytes, while the file is not yet known to be a log
    bool started = false;
    auto start = [&](std::string_view first) {
        started = true;
        // Judged after any zeros it begins with (a crash while it was written leaves them).
        size_t zeros = std::min(first.find_first_not_of('\0'), first.size()) & ~size_t{1};
        if (judged != Judged::Never && !StartsAsLog(first.substr(zeros, kJudged)) &&
            !(first.empty() && judged == Judged::Named))
            return taken = Taken::NotALog, false;
        if (headed)
            out.Buffer() += Styled(Style::Heading, "== " + name.shown + " ==", out.File()) + '\n';
        taken = Taken::Log;
        if (runs.totals) runs.totals->AddLog();
        progress.emplace(name.shown, size);
        decoder.Feed(first);
        progress->Advance(first.size());
        return true;
    };
    bool read = ReadRegularFileUntil(
        path,
        [&](std::string_view piece) {
            if (started) {
                decoder.Feed(piece);
                progress->Advance(piece.size());
                return true;
            }
            if (head.empty() && piece.size() >= kJudged) return start(piece);
            head.append(piece);
            return head.size() < kJudged || start(head);
        },
        error, &size, judged == Judged::InFolder);
    if (read && !started) start(head);  // a file shorter than what is judged
    if (taken == Taken::NotALog) return 0;
    if (!read) {
        if (progress) progress->Done();
        Complain(out, path, error, Style::Error);
        if (runs.page) runs.page->ForgetRecords();  // of a file read partly
        return kUsageError;
    }
    progress->Done();
    decoder.Finish();
    if (summarizing) summarizer.Finish();
    complaints.insert(complaints.begin(), decoder.Notes().begin(), decoder.Notes().end());
    if (!decoder.Problem().empty()) {
        complaints.push_back(decoder.Problem());
        status = kFailure;
    }
    if (problems > kProblemsShown)
        complaints.push_back("and " + std::to_string(problems - kProblemsShown) +
                             " more records not as TEV writes them");
    for (const std::string& complaint : complaints) Complain(out, path, complaint, Style::Warning);
    if (summarizing && failed) status = Worse(status, kRunFailed);
    return status;
}

// Reads a log named on the command line: a file that does not begin as a log is refused, as a
// folder's walk skips it (an empty file is a log that holds nothing yet).
int LogNamed(const std::string& path, bool many, const LogOptions& options, RunsOut& runs) {
    Taken taken;
    int status =
        LogOne(path, many, options, runs, path == "-" ? Judged::Never : Judged::Named, taken);
    if (taken != Taken::NotALog) return status;
    Complain(runs.out, path, kNotALog, Style::Error);
    return kUsageError;
}

// Reads every log of a folder: each regular file that begins as a log, whatever its name (the
// first few others are named, the rest counted).
int LogFolder(const std::string& dir, const LogOptions& options, RunsOut& runs) {
    Output& out = runs.out;
    int status = 0;
    size_t logs = 0, others = 0;
    ForEachFile(
        dir,
        [&](const std::string& file) {
            Taken taken;
            int read = LogOne(file, true, options, runs, Judged::InFolder, taken);
            if (taken == Taken::NotALog) {
                if (++others <= kSkippedNamed)
                    Complain(out, file, std::string("skipped: ") + kNotALog, Style::Warning);
                return;
            }
            logs += taken == Taken::Log;
            status = Worse(status, read);
        },
        [&](const std::string& path, const std::string& problem) {
            Complain(out, path, problem, Style::Error);
            status = Worse(status, kUsageError);
        });
    if (others > kSkippedNamed)
        Complain(
            out, dir,
            "and " + std::to_string(others - kSkippedNamed) + " more files skipped: " + kNotALog,
            Style::Warning);
    if (logs == 0) {
        Complain(out, dir, "the folder holds no log", Style::Error);
        status = Worse(status, kUsageError);
    }
    return status;
}

// tev log --follow: a log shown as TEV writes it, record by record, as the plain decode shows it,
// until its run ends (the lines of ShutdownML, which OnCrash runs too, or the analytics library not
// coming up) or an interrupt. The file is read again from where it was each kPause: a record being
// written is shown once its line is whole; a torn last line cut back and written again is read
// anew from the last record shown; a file no longer holding what was shown (a new run truncated or
// recreated it) is said so in one line and followed from its start. The file is held open only
// for each read: on Windows TEV creates its log shared with no one, and fails to while anything
// else has it open.
class Follower {
public:
    Follower(std::string path, Output& out) : path_(std::move(path)), out_(out) {}

    int Follow() {
        process::NoteInterrupts();
        Restart(0);
        for (;;) {
            if (process::Interrupted()) {
                out_.Sync();
                return kInterrupted;
            }
            bool moved = false;
            if (!ReadOn(moved)) {
                std::this_thread::sleep_for(kPause);
                continue;
            }
            if (moved) {
                Resynchronize();
                continue;
            }
            out_.Sync();
            if (ended_) return status_;
            std::this_thread::sleep_for(kPause);
        }
    }

private:
    static constexpr auto kPause = std::chrono::milliseconds(100);
    static constexpr size_t kChecked = 64;  // bytes before the place read from, compared each time

    // FNV-1a, over the bytes of the file whose records were all shown.
    static std::uint64_t Hash(std::uint64_t hash, std::string_view bytes) {
        for (unsigned char byte : bytes) hash = (hash ^ byte) * 0x100000001b3ull;
        return hash;
    }
    static constexpr std::uint64_t kHashStart = 0xcbf29ce484222325ull;

    // Decodes from byte `at` of the file, where a record begins.
    void Restart(std::uint64_t at) {
        base_ = offset_ = at;
        unhashed_.clear();
        hashed_ = 0;
        decoder_.emplace([this](const LogRecord& record) { Show(record); });
    }

    // Reads what the file holds past offset_; false when it cannot be read (said once). `moved`:
    // the bytes before offset_ are no longer those read, or the file is another.
    bool ReadOn(bool& moved) {
        std::string checked = Checked(), head, error;
        bool same = true, grew = false;
        std::uint64_t size = 0;
        bool read = ReadRegularFileUntil(
            path_,
            [&](std::string_view bytes) {
                if (head.size() < checked.size()) {
                    size_t taken = std::min(checked.size() - head.size(), bytes.size());
                    head.append(bytes.substr(0, taken));
                    bytes.remove_prefix(taken);
                    if (head.size() < checked.size()) return true;
                    if (head != checked) return same = false;
                }
                if (!bytes.empty()) Take(bytes), grew = true;
                return true;
            },
            error, &size, false, offset_ - checked.size());
        if (!read) {
            if (error != unreadable_)
                Complain(out_, path_, error + "; waiting for it", Style::Warning);
            unreadable_ = error;
            return false;
        }
        if (!unreadable_.empty())  // readable again: whatever it holds now is read from its start
            moved = offset_ > 0;
        unreadable_.clear();
        std::optional<process::FileIdentity> identity = process::IdentityOf(path_);
        moved =
            moved || !same || head.size() < checked.size() || (identity_ && identity != identity_);
        identity_ = identity;
        if (!moved && grew) ShowWhatIsWhole();
        return true;
    }

    // The last bytes read, which the next read must find again where they were.
    std::string Checked() const {
        size_t kept = static_cast<size_t>(std::min<std::uint64_t>(tail_.size(), offset_));
        return tail_.substr(tail_.size() - kept);
    }

    // The bytes are there to be hashed before the decoder shows the records they end.
    void Take(std::string_view bytes) {
        unhashed_.append(bytes);
        offset_ += bytes.size();
        decoder_->Feed(bytes);
        unhashed_.erase(0, hashed_);  // once a piece, not once a record
        hashed_ = 0;
        tail_.append(bytes);
        if (tail_.size() > kChecked) tail_.erase(0, tail_.size() - kChecked);
    }

    // The records held back for the line that follows them, shown now when each is whole: what a
    // reader would be given if the file ended here.
    void ShowWhatIsWhole() {
        LogDecoder atEnd = *decoder_;
        tentative_ = true;
        wholeToEnd_ = true;
        atEnd.Finish();
        tentative_ = false;
        if (wholeToEnd_) Confirm(offset_);
    }

    // The bytes before `at` hold only records shown.
    void Confirm(std::uint64_t at) {
        if (at <= confirmed_) return;
        size_t bytes = static_cast<size_t>(at - confirmed_);
        hash_ = Hash(hash_, std::string_view(unhashed_).substr(hashed_, bytes));
        hashed_ += bytes;
        confirmed_ = at;
    }

    void Show(const LogRecord& record) {
        const std::uint64_t at = base_ + record.byte;
        if (ended_ || (anyShown_ && at <= lastShown_)) return;  // shown before it was followed
        if (tentative_ && !wholeToEnd_) return;
        Confirm(at);  // every record before it is whole and shown
        if (tentative_ && (record.partial || !record.problem.empty()))
            return void(wholeToEnd_ = false);  // to be shown when it is whole
        anyShown_ = true;
        lastShown_ = at;
        using tev::logformat::Token;
        AppendPlainLines(record, split_.Starts(record) && record.kind == Token::InitML, split_, "",
                         out_);
        if (!record.problem.empty()) {
            status_ = kFailure;
            Complain(out_, path_, "byte " + std::to_string(at) + ": " + record.problem,
                     Style::Warning);
        }
        ending_ = ending_ || record.kind == Token::ShutdownML || record.kind == Token::OnCrash;
        ended_ = (ending_ && record.kind == Token::CommitProducts) ||
                 record.kind == Token::FailToInitialize;
    }

    // The file no longer holds what was read where it was read: a torn last line cut back (what
    // was shown is still there, and is read on from), or a new run (said, and read from its
    // start).
    void Resynchronize() {
        std::uint64_t hash = kHashStart, hashed = 0;
        std::string error, tail;
        bool read = ReadRegularFileUntil(
            path_,
            [&](std::string_view bytes) {
                bytes = bytes.substr(0, static_cast<size_t>(confirmed_ - hashed));
                hash = Hash(hash, bytes);
                hashed += bytes.size();
                tail.append(bytes);
                if (tail.size() > kChecked) tail.erase(0, tail.size() - kChecked);
                return hashed < confirmed_;
            },
            error);
        tail_ = tail;
        if (read && hashed == confirmed_ && hash == hash_) return Restart(confirmed_);
        out_.Buffer() += "-- the log was replaced (a new run): from its start --";
        out_.Line();
        out_.Sync();
        split_ = RunSplit();
        anyShown_ = ending_ = false;
        hash_ = kHashStart;
        confirmed_ = 0;
        tail_.clear();
        Restart(0);
    }

    std::string path_;
    Output& out_;
    std::optional<LogDecoder> decoder_;
    // The decoder reads from base_; the file was read to offset_. Every record that begins before
    // confirmed_ was shown, and those bytes hash to hash_; unhashed_ holds the bytes read since,
    // of which the first hashed_ are hashed already (dropped once a piece).
    std::uint64_t base_ = 0, offset_ = 0, confirmed_ = 0, hash_ = kHashStart;
    std::string unhashed_, tail_;  // tail_: the last kChecked bytes read
    size_t hashed_ = 0;
    std::optional<process::FileIdentity> identity_;
    std::string unreadable_;  // why the file could not be read last time, once said
    RunSplit split_;
    bool anyShown_ = false, tentative_ = false, wholeToEnd_ = false;
    std::uint64_t lastShown_ = 0;  // where the last record shown begins
    bool ending_ = false, ended_ = false;
    int status_ = 0;
};

// Whether `file` is `source` or inside it, however either is reached: -o there would empty a log
// before it is read, or be read back as it is written.
bool Within(const std::string& file, const std::string& source) {
    std::error_code error;
    std::filesystem::path folder = std::filesystem::canonical(PathOf(source), error);
    if (error) return false;
    std::filesystem::path path = std::filesystem::weakly_canonical(PathOf(file), error);
    for (; !error && !path.empty(); path = path.parent_path()) {
        if (path == folder) return true;
        if (path == path.parent_path()) break;
    }
    return false;
}

// Whether `output` is one of the files read by another name: a hard link, a link in a folder read,
// a name in other letter case, standard input. Opening it for writing would empty it before it is
// read.
bool ReadUnderAnotherName(const std::string& output, const std::vector<std::string>& sources) {
    std::optional<process::FileIdentity> target = process::IdentityOf(output);
    if (!target) return false;
    bool read = false;
    auto compare = [&](const std::string& file) {
        read = read || (file == "-" ? process::IdentityOfStandardInput()
                                    : process::IdentityOf(file)) == target;
    };
    for (const std::string& source : sources) {
        std::error_code error;
        if (source != "-" && std::filesystem::is_directory(PathOf(source), error))
            ForEachFile(source, compare, [](const std::string&, const std::string&) {});
        else
            compare(source);
    }
    return read;
}

// Whether -o names what is read, or a file in a folder read (which the walk would read back).
bool OutputIsRead(const std::string& output, const std::vector<std::string>& sources) {
    return ReadUnderAnotherName(output, sources) ||
           std::any_of(sources.begin(), sources.end(), [&](const std::string& source) {
               return source != "-" && Within(output, source);
           });
}

int DecodeLogs(std::vector<std::string> sources, LogOptions options) {
    if (options.follow) {
        if (sources.size() > 1) return Refuse("--follow follows one log");
        std::string path =
            sources.empty() ? process::TevTempFilePath(tev::logformat::kFileName) : sources.front();
        if (path.empty())
            return Refuse("there is no usable temporary directory, so no log of TEV's to follow");
        std::error_code error;
        if (path == "-" || std::filesystem::is_directory(PathOf(path), error))
            return Refuse("--follow follows a log file, not " +
                          std::string(path == "-" ? "standard input" : "a folder"));
        Output out(stdout, "standard output");
        return Follower(path, out).Follow();
    }
    if (options.csv || options.totals || (options.failed && !options.html)) options.summary = true;
    if (options.local && !options.json && !options.summary && !options.html)
        return Refuse(
            "--local shows the times of --json, --summary and --html in this machine's "
            "time zone; the plain decode shows each record as logged, in UTC");
    ShowTimesInLocalZone(options.local);
    if (sources.empty()) {
        std::string path = process::TevTempFilePath(tev::logformat::kFileName);
        if (path.empty())
            return Refuse("there is no usable temporary directory, so no log of TEV's to read");
        sources.push_back(path);
    }
    std::error_code error;
    bool many = sources.size() > 1 ||
                std::any_of(sources.begin(), sources.end(), [&](const std::string& source) {
                    return source != "-" && std::filesystem::is_directory(PathOf(source), error);
                });
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(nullptr, std::fclose);
    if (!options.output.empty()) {
        if (OutputIsRead(options.output, sources))
            return Refuse("-o " + options.output + " is among what is read; name another file");
        file.reset(process::OpenForWriting(options.output));
        if (!file)
            return Refuse("cannot write " + options.output + ": " + process::ErrorText(errno));
    }
    int status = 0;
    {
        Output out(file ? file.get() : stdout, file ? options.output : "standard output");
        LogPage page;
        FleetTotals totals;
        // Of several logs (a folder, say), the summary ends with their totals; a CSV file is one
        // table, so it gives them, instead of its rows, only when asked.
        const bool totalled =
            options.html || (options.summary && (options.totals || (many && !options.csv)));
        RunsOut runs{out, options.html ? &page : nullptr, totalled ? &totals : nullptr};
        if (options.csv && !options.totals) {
            out.Buffer() += SummaryCsvHeader();
            out.Line();
        }
        for (const std::string& source : sources)
            status =
                Worse(status, source != "-" && std::filesystem::is_directory(PathOf(source), error)
                                  ? LogFolder(source, options, runs)
                                  : LogNamed(source, many, options, runs));
        if (options.html) {
            out.Flush();
            out.Buffer() = page.Page(
                sources.size() == 1 ? sources.front() : std::to_string(sources.size()) + " logs",
                totals);
        } else if (totalled && options.csv) {
            out.Buffer() += TotalsCsv(totals);
        } else if (totalled && options.json) {
            out.Buffer() += TotalsJson(totals);
            out.Line();
        } else if (totalled) {
            if (runs.blocks) out.Line();
            AppendTotalsText(totals, out.Buffer());
        }
    }
    if (file) {
        std::fflush(file.get());
        EndIfWriteFailed(file.get(), options.output);
    }
    return status;
}

}  // namespace

Command AddLogCommand(CLI::App& tev) {
    auto options = std::make_shared<LogOptions>();
    auto paths = std::make_shared<std::vector<std::string>>();
    CLI::App* log = tev.add_subcommand("log",
                                       "Decode diagnostic logs to UTF-8, or tell each run's story "
                                       "(default: Setup_TEV.log where TEV writes it)");
    log->add_option("FILE", *paths,
                    "Logs to read; a folder gives every log in it and its subfolders, by name, "
                    "whatever the files are called")
        ->type_name("");
    CLI::Option* json =
        log->add_flag("--json", options->json,
                      "One JSON object per record: time, token, fields (\"partial\", \"problem\" "
                      "and, with several logs, \"file\" when they apply; an InitML record "
                      "has its \"run\"); with --summary one object per run");
    CLI::Option* summary = log->add_flag(
        "--summary", options->summary,
        "Each run's story: start, end, analytics library, setup attributes, downloads, "
        "installations, warnings, first error; of a folder or several logs, their totals last");
    CLI::Option* csv = log->add_flag("--csv", options->csv, "The summary as CSV, one row per run");
    CLI::Option* html = log->add_flag(
        "--html", options->html,
        "One self-contained HTML page of the logs: their first errors grouped, a table "
        "of their runs (a switch shows only those that failed), then each "
        "run's first error, a timeline of its downloads and installations, and its "
        "records");
    CLI::Option* follow = log->add_flag(
        "--follow", options->follow,
        "Show the log's records as TEV writes them (as the plain decode does), until its run "
        "ends (after the lines of ShutdownML, or the analytics library not coming up) or Ctrl-C; "
        "a new run that replaces the log is said in one line and followed from its start");
    CLI::Option* totals = log->add_flag(
        "--totals", options->totals,
        "Only the totals of the runs read, not each run: runs, logs, outcomes and the "
        "first errors grouped (the summary of several logs ends with them; with --csv "
        "they are a table of their own, given only with this option)");
    CLI::Option* failed = log->add_flag(
        "--failed", options->failed,
        "Only the runs that failed, in the summary (the default with it) or the page");
    CLI::Option* local = log->add_flag(
        "--local", options->local,
        "Times in this machine's time zone, with its offset (\"+01:00\"); the default is "
        "UTC, as the log's own stamps are, marked \"Z\"");
    json->excludes(csv);
    html->excludes(json)->excludes(summary)->excludes(csv)->excludes(totals);
    follow->excludes(json)->excludes(summary)->excludes(csv)->excludes(html)->excludes(totals);
    CLI::Option* output =
        log->add_option("-o,--output", options->output,
                        "Write to FILE instead of standard output (never one of the logs read)")
            ->type_name("FILE");
    follow->excludes(failed)->excludes(local)->excludes(output);
    log->footer(std::string("\n") + resource::kLogHelp);
    return {log, [options, paths] { return DecodeLogs(*paths, *options); }};
}

}  // namespace tevtool
