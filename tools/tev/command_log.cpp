// tev log: decodes diagnostic logs, or tells each run's story.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <memory>

#include "commands.h"
#include "files.h"
#include "log_decoder.h"
#include "log_summary.h"
#include "process.h"
#include "resources.h"
#include "vocabulary/log_format.h"

namespace tevtool {
namespace {

// The worse of two exit statuses, in the order of precedence commands.h gives.
int Worse(int status, int other) {
    auto rank = [](int s) {
        return s == kUsageError ? 3 : s == kFailure ? 2 : s == kRunFailed ? 1 : 0;
    };
    return rank(other) > rank(status) ? other : status;
}

struct LogOptions {
    bool json = false, summary = false, csv = false, html = false, failed = false;
};

// Standard output in large writes: a log of a hundred megabytes is decoded in one pass.
class Output {
public:
    ~Output() { Flush(); }
    std::string& Buffer() { return buffer_; }
    void Line() {
        buffer_ += '\n';
        if (buffer_.size() >= (1 << 16)) Flush();
    }
    void Flush() {
        std::fwrite(buffer_.data(), 1, buffer_.size(), stdout);
        buffer_.clear();
    }

private:
    std::string buffer_;
};

constexpr size_t kProblemsShown = 10;

// Where the runs go: summaries to `out` (`blocks` counts the text ones, to set them apart), or
// the page.
struct RunsOut {
    Output& out;
    LogPage* page = nullptr;
    size_t blocks = 0;
};

// Decodes one log into `runs`; returns its exit status.
int LogOne(const std::string& path, bool many, const LogOptions& options, RunsOut& runs) {
    Output& out = runs.out;
    std::vector<std::string> complaints;
    int status = 0;
    std::string fileJson = many ? Json(FromUtf8(path)) : "";
    const bool summarizing = options.summary || runs.page;
    bool failed = false;
    RunSummarizer summarizer([&](const RunSummary& run) {
        failed |= run.Failed();
        bool shown = !options.failed || run.Failed();
        if (runs.page) return runs.page->AddRun(path, run, shown);
        if (!shown) return;
        if (options.csv) {
            out.Buffer() += SummaryCsv(path, run);
        } else if (options.json) {
            out.Buffer() += SummaryJson(path, run);
        } else {
            if (runs.blocks++) out.Line();
            AppendSummaryText(path, run, out.Buffer());
            out.Buffer().pop_back();  // Line() ends it
        }
        out.Line();
    });
    RunSplit split;  // the plain decode marks where each run starts
    size_t problems = 0;
    if (many && !options.summary && !options.json && !runs.page)
        out.Buffer() += "== " + path + " ==\n";
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
            AppendRecordJson(record, fileJson, out.Buffer());
            if (starts) {
                out.Buffer().pop_back();
                out.Buffer() += ",\"run\":" + std::to_string(split.Ordinal()) + "}";
            }
        } else {
            if (starts && split.Records() > 1) {
                out.Buffer() += "-- run " + std::to_string(split.Ordinal()) + " --";
                out.Line();
            }
            AppendRecordText(record, out.Buffer());
        }
        out.Line();
    });
    std::string error;
    if (!ReadRegularFile(
            path, [&](std::string_view piece) { decoder.Feed(piece); }, error)) {
        out.Flush();
        std::cerr << "tev: " << path << ": " << error << '\n';
        if (runs.page) runs.page->ForgetRecords();  // of a file read partly
        return kUsageError;
    }
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
    if (!complaints.empty()) {
        out.Flush();
        for (const std::string& complaint : complaints)
            std::cerr << "tev: " << path << ": " << complaint << '\n';
    }
    if (summarizing && status == 0 && failed) status = kRunFailed;
    return status;
}

int Log(std::vector<std::string> sources, LogOptions options) {
    if (options.csv || (options.failed && !options.html)) options.summary = true;
    if (options.html && (options.summary || options.json)) {
        std::cerr << "tev: --html writes a page of its own; it does not go with --json, --summary "
                     "or --csv\n";
        return kUsageError;
    }
    if (sources.empty()) {
        std::string path = process::TevTempFilePath(tev::logformat::kFileName);
        if (path.empty()) {
            std::cerr
                << "tev: there is no usable temporary directory, so no log of TEV's to read\n";
            return kUsageError;
        }
        sources.push_back(path);
    }
    std::error_code error;
    bool many = sources.size() > 1 ||
                std::any_of(sources.begin(), sources.end(), [&](const std::string& source) {
                    return source != "-" && std::filesystem::is_directory(PathOf(source), error);
                });
    Output out;
    LogPage page;
    RunsOut runs{out, options.html ? &page : nullptr};
    if (options.csv) {
        out.Buffer() += SummaryCsvHeader();
        out.Line();
    }
    int status = 0;
    for (const std::string& source : sources) {
        if (source != "-" && std::filesystem::is_directory(PathOf(source), error)) {
            std::string problem;
            size_t files = 0;
            if (!ForEachLogFile(
                    source,
                    [&](const std::string& file) {
                        ++files;
                        status = Worse(status, LogOne(file, true, options, runs));
                    },
                    problem) ||
                files == 0) {
                out.Flush();
                std::cerr << "tev: " << source << ": "
                          << (problem.empty() ? "the folder holds no *.log file" : problem) << '\n';
                status = Worse(status, kUsageError);
            }
            continue;
        }
        status = Worse(status, LogOne(source, many, options, runs));
    }
    if (options.html) {
        out.Flush();
        out.Buffer() = page.Page(sources.size() == 1 ? sources.front()
                                                     : std::to_string(sources.size()) + " logs");
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
                    "Logs to read; a folder gives every *.log file in it and its subfolders")
        ->type_name("");
    log->add_flag("--json", options->json,
                  "One JSON object per record: time, token, fields (\"partial\", \"problem\" "
                  "and, with several logs, \"file\" when they apply; an InitML record "
                  "has its \"run\"); with --summary one object per run");
    log->add_flag("--summary", options->summary,
                  "Each run's story: start, end, analytics library, setup attributes, downloads, "
                  "installations, warnings, first error");
    log->add_flag("--csv", options->csv, "The summary as CSV, one row per run");
    log->add_flag("--html", options->html,
                  "One self-contained HTML page of the logs: a table of their runs, then each "
                  "run's first error, a timeline of its downloads and installations, and its "
                  "records");
    log->add_flag("--failed", options->failed,
                  "Only the runs that failed, in the summary (the default with it) or the page");
    log->footer(std::string("\n") + resource::kLogHelp);
    return {log, [options, paths] { return Log(*paths, *options); }};
}

}  // namespace tevtool
