// tev: shows an installer engineer what their installer's calls to TEV would report.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "files.h"
#include "log_decoder.h"
#include "log_summary.h"
#include "play.h"
#include "platform/platform.h"
#include "vocabulary/log_format.h"
#include "scenario.h"
#include "text.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <shellapi.h>
#endif

extern const char* const kDefaultScenario;

namespace {

// Exit statuses; with several, the first in this order wins: usage or I/O error, malformed
// records, a failure the log shows.
constexpr int kFailure = 1;     // tev run: ownership violations; tev log: malformed or cut records
constexpr int kUsageError = 2;  // bad command line, unreadable file or scenario
constexpr int kRunFailed = 3;   // tev log --summary: a log shows a failure

int Worse(int status, int other) {
    auto rank = [](int s) {
        return s == kUsageError ? 3 : s == kFailure ? 2 : s == kRunFailed ? 1 : 0;
    };
    return rank(other) > rank(status) ? other : status;
}

std::string Utf8Path(const kv8::Text& path) {
#ifdef _WIN32
    return tevtool::Utf8Of(std::filesystem::path(path));
#else
    return tevtool::ToUtf8(path);
#endif
}

// Where TEV writes its log now; empty when it can write none.
std::string TevLogPath() {
    return Utf8Path(tev::platform::TempFilePath(tev::logformat::kFileName));
}

void SetEnvironment(const char* name, const std::string& value) {
#ifdef _WIN32
    std::wstring wideName(name, name + std::strlen(name));
    _wputenv_s(wideName.c_str(), tevtool::PathOf(value).wstring().c_str());
#else
    setenv(name, value.c_str(), 1);
#endif
}

// TEV's temporary directory for the play: `dir`, or a folder of the tool's own, so that the play
// never touches the log of a real setup. A folder of the tool's own that cannot be made costs the
// play its log (TEV is pointed at it all the same, or finds no temporary directory either); a
// `dir` asked for that cannot be used is an error.
bool PointTemporaryDirectoryAt(const std::string& asked) {
    std::string dir =
        asked.empty() ? Utf8Path(tev::platform::TempFilePath(TEV_TEXT("tev-run"))) : asked;
    std::error_code error;
    if (dir.empty() || (std::filesystem::create_directories(tevtool::PathOf(dir), error), error) ||
        !std::filesystem::is_directory(tevtool::PathOf(dir), error)) {
        std::cerr << "tev: " << (asked.empty() ? "the play writes no log: " : "") << "cannot use "
                  << (dir.empty() ? "the temporary directory" : dir) << " for the log: "
                  << (dir.empty() ? "there is none"
                      : error     ? error.message()
                                  : "not a directory")
                  << '\n';
        if (!asked.empty()) return false;
    }
    if (dir.empty()) return true;
#ifdef _WIN32
    SetEnvironment("TMP", dir);
    SetEnvironment("TEMP", dir);
#else
    SetEnvironment("TMPDIR", dir);
#endif
    return true;
}

// What identifies the file at `path` as it is: none when there is no regular file.
std::optional<std::pair<std::uintmax_t, std::filesystem::file_time_type>> Snapshot(
    const std::string& path) {
    std::error_code error;
    std::filesystem::path file = tevtool::PathOf(path);
    if (path.empty() || !std::filesystem::is_regular_file(file, error)) return std::nullopt;
    auto size = std::filesystem::file_size(file, error);
    auto time = std::filesystem::last_write_time(file, error);
    if (error) return std::nullopt;
    return std::make_pair(size, time);
}

int Run(const std::string& source, bool trace, const std::string& outbox,
        const std::string& logDir) {
    std::string text = kDefaultScenario;
    std::string name = "the default scenario";
    std::string error;
    if (!source.empty()) {
        if (!tevtool::ReadRegularFile(source, text, error)) {
            std::cerr << "tev: cannot read " << source << ": " << error << '\n';
            return kUsageError;
        }
        name = source == "-" ? "standard input" : source;
    }
    tevtool::ParseError parseError;
    std::optional<tevtool::Scenario> scenario = tevtool::ParseScenario(text, parseError);
    if (!scenario) {
        std::cerr << "tev: " << name << ": line " << parseError.line << ", column "
                  << parseError.column << ": " << parseError.message << '\n';
        return kUsageError;
    }
    if (!PointTemporaryDirectoryAt(logDir)) return kUsageError;
    if (!outbox.empty()) SetEnvironment("KV8_OUTBOX", outbox);

    // The last play's log goes first, so that only a log this play wrote is named; one that cannot
    // be removed (another process holds it) counts only if the play changed it.
    std::string log = TevLogPath();
    std::error_code ignored;
    if (Snapshot(log)) std::filesystem::remove(tevtool::PathOf(log), ignored);
    auto before = Snapshot(log);
    tevtool::PlayOutcome outcome = tevtool::Play(*scenario, trace ? &std::cout : nullptr);
    if (!trace) {
        std::cout << "What the analytics library received from " << name << " ("
                  << scenario->steps.size() << " steps):\n\n";
        tevtool::PrintReport(std::cout);
        if (scenario->asksForLog) {
            auto after = Snapshot(log);
            if (after && after != before)
                std::cout << "Diagnostic log: " << log << " (read it with: tev log " << log
                          << ")\n";
            else
                std::cout << "Diagnostic log: none could be written in "
                          << (log.empty() ? "the temporary directory" : log) << '\n';
        }
        if (!outbox.empty()) std::cout << "Outbox: " << outbox << '\n';
    }
    if (!outcome.violations.empty()) {
        std::cerr << "tev: the analytics library saw " << outcome.violations.size()
                  << " ownership violation(s):\n";
        for (const std::string& violation : outcome.violations)
            std::cerr << "  " << violation << '\n';
        return kFailure;
    }
    return 0;
}

struct LogOptions {
    bool json = false, summary = false, csv = false, html = false;
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

// Decodes one log into `out`; returns its exit status.
int LogOne(const std::string& path, bool many, const LogOptions& options, Output& out) {
    std::vector<std::string> complaints;
    int status = 0;
    std::string fileJson = many ? tevtool::Json(tevtool::FromUtf8(path)) : "";
    tevtool::RunSummarizer summarizer;
    std::vector<std::string> rows;
    size_t problems = 0;
    if (many && !options.summary && !options.json) out.Buffer() += "== " + path + " ==\n";
    tevtool::LogDecoder decoder([&](const tevtool::LogRecord& record) {
        if (!record.problem.empty()) {
            status = kFailure;
            if (++problems <= kProblemsShown)
                complaints.push_back("line " + std::to_string(record.line) + " (byte " +
                                     std::to_string(record.byte) + "): " + record.problem);
        }
        if (options.summary || options.html) {
            summarizer.Add(record);
            if (options.html) rows.push_back(tevtool::RecordRowHtml(record));
            return;
        }
        if (options.json)
            tevtool::AppendRecordJson(record, fileJson, out.Buffer());
        else
            tevtool::AppendRecordText(record, out.Buffer());
        out.Line();
    });
    std::string error;
    if (!tevtool::ReadRegularFile(
            path, [&](std::string_view piece) { decoder.Feed(piece); }, error)) {
        out.Flush();
        std::cerr << "tev: " << path << ": " << error << '\n';
        return kUsageError;
    }
    decoder.Finish();
    complaints.insert(complaints.begin(), decoder.Notes().begin(), decoder.Notes().end());
    if (!decoder.Problem().empty()) {
        complaints.push_back(decoder.Problem());
        status = kFailure;
    }
    if (problems > kProblemsShown)
        complaints.push_back("and " + std::to_string(problems - kProblemsShown) +
                             " more records not as TEV writes them");
    const tevtool::RunSummary& summary = summarizer.Summary();
    if (options.html) {
        out.Buffer() += tevtool::SummaryHtml(path, summary, rows);
    } else if (options.summary) {
        out.Buffer() += options.csv    ? tevtool::SummaryCsv(path, summary)
                        : options.json ? tevtool::SummaryJson(path, summary)
                                       : tevtool::SummaryText(path, summary);
        if (!options.csv && !options.json && many) out.Buffer() += '\n';
        out.Line();
    }
    if (!complaints.empty()) {
        out.Flush();
        for (const std::string& complaint : complaints)
            std::cerr << "tev: " << path << ": " << complaint << '\n';
    }
    if ((options.summary || options.html) && status == 0 && summary.Failed()) status = kRunFailed;
    return status;
}

int Log(std::vector<std::string> sources, LogOptions options) {
    if (options.csv) options.summary = true;
    if (options.html && (options.summary || options.json)) {
        std::cerr << "tev: --html writes a page of its own; it does not go with --json, --summary "
                     "or --csv\n";
        return kUsageError;
    }
    if (sources.empty()) {
        std::string path = TevLogPath();
        if (path.empty()) {
            std::cerr
                << "tev: there is no usable temporary directory, so no log of TEV's to read\n";
            return kUsageError;
        }
        sources.push_back(path);
    }
    std::error_code error;
    bool many =
        sources.size() > 1 ||
        std::any_of(sources.begin(), sources.end(), [&](const std::string& source) {
            return source != "-" && std::filesystem::is_directory(tevtool::PathOf(source), error);
        });
    if (options.html && many) {
        std::cerr << "tev: --html makes the page of one log; name one file\n";
        return kUsageError;
    }
    Output out;
    if (options.csv) {
        out.Buffer() += tevtool::SummaryCsvHeader();
        out.Line();
    }
    int status = 0;
    for (const std::string& source : sources) {
        if (source != "-" && std::filesystem::is_directory(tevtool::PathOf(source), error)) {
            std::string problem;
            size_t files = 0;
            if (!tevtool::ForEachLogFile(
                    source,
                    [&](const std::string& file) {
                        ++files;
                        status = Worse(status, LogOne(file, true, options, out));
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
        status = Worse(status, LogOne(source, many, options, out));
    }
    return status;
}

std::string EntryList() {
    std::string list = "\nEntries (one per scenario line, arguments in this order):\n";
    for (const std::string& usage : tevtool::EntryUsages()) list += "  " + usage + "\n";
    list +=
        "\nStand-in steering lines:\n"
        "  kv8 refuse waypoint|state|attribute \"NAME\" [COUNT|*]   the next COUNT creations give "
        "null\n"
        "  kv8 refuse get_state [COUNT|*]                          GetState gives null\n"
        "  kv8 refuse initialize [COUNT|*]                         Initialize leaves the library "
        "down\n"
        "\nExit status: 0 on success, 1 when the stand-in saw an ownership violation, 2 for\n"
        "usage and scenario errors.";
    return list;
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    // The same bytes on every platform: no CR added before each LF, none taken from the input.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    _setmode(_fileno(stdin), _O_BINARY);
#endif
    CLI::App app{
        "tev: play a setup run through TEV and see what it reports, or read its diagnostic log."};
    app.name("tev");
    app.set_version_flag("--version", std::string("tev ") + TEV_VERSION);
    app.require_subcommand(1);
    app.footer(
        "\nExamples:\n  tev run                  play the default setup run\n"
        "  tev scenario > my.tev    start a scenario of your own\n"
        "  tev run my.tev --trace   every call into the analytics library, as JSON Lines\n"
        "  tev log FILE --json      a log, one JSON object per record\n"
        "  tev log DIR --summary --csv   one row per log of a folder\n"
        "  tev log FILE --html > run.html   the run as a page\n"
        "\nExit status: 0 success; 1 tev run: the stand-in saw an ownership violation, tev log: a\n"
        "record is malformed or cut short; 2 usage error or unreadable file; 3 tev log --summary "
        "or\n"
        "--html: a log shows a failure. tev run --help and tev log --help say more.");

    std::string scenarioPath, outbox, logDir;
    std::vector<std::string> logPaths;
    bool trace = false;
    LogOptions logOptions;
    CLI::App* run = app.add_subcommand(
        "run", "Play a scenario (default: a typical setup run) and print what was reported");
    run->add_option("SCENARIO", scenarioPath, "Scenario file, or - for standard input")
        ->type_name("FILE");
    run->add_flag("--trace", trace,
                  "Print the stand-in's trace as JSON Lines, one result line after each entry");
    run->add_option("--outbox", outbox,
                    "Append each waypoint handed over to FILE as JSON (sets KV8_OUTBOX)")
        ->type_name("FILE");
    run->add_option(
           "--log-dir", logDir,
           "Where TEV writes the play's log (default: a folder of the tool's own in the temporary "
           "directory; never the log of a real setup)")
        ->type_name("DIR");
    run->footer(EntryList());

    CLI::App* log = app.add_subcommand("log",
                                       "Decode diagnostic logs to UTF-8, or tell each run's story "
                                       "(default: Setup_TEV.log where TEV writes it)");
    log->add_option("FILE", logPaths,
                    "Logs to read; a folder gives every *.log file in it and its subfolders")
        ->type_name("");
    log->add_flag("--json", logOptions.json,
                  "One JSON object per record: time, token, fields (\"partial\", \"problem\" and, "
                  "with several "
                  "logs, \"file\" when they apply); with --summary one object per log");
    log->add_flag("--summary", logOptions.summary,
                  "Each run's story: start, end, analytics library, setup attributes, downloads, "
                  "installations, "
                  "warnings, first error");
    log->add_flag("--csv", logOptions.csv, "The summary as CSV, one row per log");
    log->add_flag("--html", logOptions.html,
                  "One self-contained HTML page of one log: a timeline of downloads and "
                  "installations, then the records");
    log->footer(
        "\nExit status: 0 when every record of every log was read whole; 1 when a record is "
        "malformed or\n"
        "cut short (what could be decoded is printed, the problems go to standard error); 2 for "
        "usage\n"
        "errors and files that cannot be read (the others are still read); with --summary or "
        "--html, 3\n"
        "when the records are whole but a log shows a failure: a download or installation error, "
        "a\n"
        "crash, an analytics library that did not come up, or a run that never ended. With "
        "several,\n"
        "2 wins over 1, and 1 over 3.\n"
        "\nA text that holds ';' is put back from the number of strings each line holds; where a "
        "line\n"
        "has two texts that could hold it (SETUP, DownloadError, PRODUCTNRDATA), the last text is "
        "taken\n"
        "to hold every extra ';'. A line that does not begin with a date continues the record "
        "above\n"
        "(a text that held CR LF); in text output CR and LF inside a record are shown as \\r and "
        "\\n.");

    app.add_subcommand("scenario", "Print the default scenario, to copy and edit");

    std::vector<std::string> arguments;
#ifdef _WIN32
    // The command line as UTF-16, passed on as UTF-8 like everywhere else.
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    for (int i = 1; i < count; ++i) arguments.push_back(tevtool::ToUtf8(wide[i]));
    LocalFree(wide);
    (void)argc;
    (void)argv;
#else
    arguments.assign(argv + 1, argv + argc);
#endif
    const std::vector<std::string> subcommands = {"run", "log", "scenario"};
    if (!arguments.empty() && !arguments.front().starts_with("-") &&
        std::find(subcommands.begin(), subcommands.end(), arguments.front()) == subcommands.end()) {
        std::cerr << "tev: unknown subcommand " << arguments.front()
                  << " (the subcommands are run, log and scenario; "
                  << "see tev --help)\n";
        return kUsageError;
    }
    try {
        std::reverse(arguments.begin(), arguments.end());  // CLI11 takes them last first
        app.parse(arguments);
    } catch (const CLI::ParseError& error) {
        int status = app.exit(error);
        return status == 0 ? 0 : kUsageError;
    }
    if (run->parsed()) return Run(scenarioPath, trace, outbox, logDir);
    if (log->parsed()) return Log(logPaths, logOptions);
    std::cout << kDefaultScenario;
    return 0;
}
