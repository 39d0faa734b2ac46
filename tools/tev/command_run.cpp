// tev run: plays a scenario against TEV and the stand-in and shows what was reported.
#include <CLI/CLI.hpp>

#include <fstream>
#include <iostream>
#include <memory>

#include "tev/commands.h"
#include "tev/files.h"
#include "player/play.h"
#include "tev/tool_system.h"
#include "player/default_scenario.h"
#include "tev/help_texts.h"
#include "player/scenario.h"
#include "printers/escaped_text.h"
#include "tev/suggest.h"
#include "vocabulary/log_format.h"

namespace tevtool {
namespace {

// Points TEV's temporary directory at a folder of the play's own, so that the play never touches
// the log of a real setup nor another play's: `asked`, unless that is where a real setup writes its
// log (however it is reached), or else a new folder in the temporary directory. A new folder that
// cannot be made costs the play its log (TEV is pointed where no file can be made); a folder asked
// for that cannot be used is an error. False after the error's message.
bool PointTemporaryDirectoryAt(const std::string& asked) {
    std::string realLog = process::TevTempFilePath(tev::logformat::kFileName);
    std::error_code error;
    if (!asked.empty()) {
        std::string problem =
            !std::filesystem::is_directory(PathOf(asked), error)
                ? (error ? process::ErrorText(error) : "not a directory")
            : !realLog.empty() &&
                    std::filesystem::equivalent(PathOf(asked), PathOf(realLog).parent_path(), error)
                ? "a real setup writes its log there"
                : "";
        if (!problem.empty()) {
            std::cerr << "tev: cannot use " << ShownUtf8(asked) << " for the log: " << problem
                      << '\n';
            return false;
        }
        process::SetTemporaryDirectory(asked);
        return true;
    }
    std::string prefix = process::TevTempFilePath(TEV_TEXT("tev-run-")), problem;
    std::string own = prefix.empty() ? "" : process::MakeOwnFolder(prefix, problem);
    if (own.empty()) {
        std::cerr << "tev: the play writes no log: "
                  << (prefix.empty()
                          ? "there is no temporary directory"
                          : "cannot make a folder " + ShownUtf8(prefix) + "...: " + problem)
                  << '\n';
        own = process::NoTemporaryDirectory();
    }
    process::SetTemporaryDirectory(own);
    return true;
}

// What identifies the file at `path` as it is: none when there is no regular file.
std::optional<std::pair<std::uintmax_t, std::filesystem::file_time_type>> Snapshot(
    const std::string& path) {
    std::error_code error;
    std::filesystem::path file = PathOf(path);
    if (path.empty() || !std::filesystem::is_regular_file(file, error)) return std::nullopt;
    auto size = std::filesystem::file_size(file, error);
    auto time = std::filesystem::last_write_time(file, error);
    if (error) return std::nullopt;
    return std::make_pair(size, time);
}

// Ends the last line of an outbox asked for when it is cut short: the stand-in takes a cut last
// line that looks like its own for one it left half-written and removes it, and the play must
// remove nothing it did not write. False when the file cannot be written.
bool EndLastLine(const std::string& outbox) {
    std::error_code error;
    std::filesystem::path path = PathOf(outbox);
    if (!std::filesystem::is_regular_file(path, error)) return true;
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    if (!file) return false;
    file.seekg(0, std::ios::end);
    if (file.tellg() <= 0) return true;
    file.seekg(-1, std::ios::end);
    if (file.get() == '\n') return true;
    file.seekp(0, std::ios::end);
    file.put('\n');
    return static_cast<bool>(file.flush());
}

// Why the stand-in could not append to the outbox asked for (its folder is not there, or its last
// line cannot be ended); empty when it can. The stand-in itself says nothing of a failed append.
std::string OutboxProblem(const std::string& outbox) {
    std::error_code error;
    std::filesystem::path folder = PathOf(outbox).parent_path();
    if (!folder.empty() && !std::filesystem::exists(folder, error)) return process::kNoSuchPath;
    return EndLastLine(outbox) ? "" : "it cannot be opened for writing";
}

struct RunOptions {
    std::string scenario, outbox, logDir;
    bool trace = false;
};

int PlayScenario(const RunOptions& options) {
    const std::string& source = options.scenario;
    std::string text = resource::kDefaultScenario;
    std::string name = "the default scenario";
    std::string error;
    if (!source.empty()) {
        name = source == "-" ? "standard input" : ShownUtf8(source);
        if (!ReadRegularFile(source, text, error, kScenarioBytes + 1)) {
            std::cerr << "tev: " << name << ": " << error << '\n';
            return kUsageError;
        }
    }
    ParseError parseError;
    std::optional<Scenario> scenario;
    if (text.size() <= kScenarioBytes || FirstLongLine(text))
        scenario = ParseScenario(text, parseError);
    else
        parseError = {0, 0, "longer than 4 MiB; a scenario is a few lines"};
    if (!scenario) {
        std::cerr << "tev: " << name << ": "
                  << (parseError.line ? "line " + std::to_string(parseError.line) + ", column " +
                                            std::to_string(parseError.column) + ": "
                                      : "")
                  << ShownUtf8(parseError.message)
                  << (parseError.unknownEntry.empty()
                          ? ""
                          : ShownUtf8(Suggestion(parseError.unknownEntry, EntryNames())))
                  << '\n';
        return kUsageError;
    }
    if (!PointTemporaryDirectoryAt(options.logDir)) return kUsageError;
    // The stand-in appends to KV8_OUTBOX: only to the outbox asked for, never to one inherited.
    if (options.outbox.empty()) {
        process::UnsetEnvironment("KV8_OUTBOX");
    } else if (std::string problem = OutboxProblem(options.outbox); problem.empty()) {
        process::SetEnvironment("KV8_OUTBOX", options.outbox);
    } else {
        std::cerr << "tev: cannot write the outbox " << ShownUtf8(options.outbox) << ": " << problem
                  << '\n';
        return kUsageError;
    }

    // Nothing is removed: a log is named only when the play wrote it (one already in a folder asked
    // for counts only if the play changed it).
    std::string log = process::TevTempFilePath(tev::logformat::kFileName);
    auto before = Snapshot(log);
    PlayOutcome outcome = Play(*scenario, options.trace ? &std::cout : nullptr);
    if (!options.trace) {
        std::cout << "What the analytics library received from " << name << " ("
                  << scenario->steps.size() << " steps):\n\n";
        PrintReport(std::cout, ShownText, ShownQuoted);
        if (scenario->asksForLog) {
            auto after = Snapshot(log);
            if (after && after != before)
                std::cout << "Diagnostic log: " << ShownUtf8(log) << " (read it with: tev log "
                          << ShownUtf8(log) << ")\n";
            else
                std::cout << "Diagnostic log: none could be written in "
                          << (log.empty() || log.starts_with(process::NoTemporaryDirectory())
                                  ? "the temporary directory"
                                  : ShownUtf8(log))
                          << '\n';
        }
        if (!options.outbox.empty()) std::cout << "Outbox: " << ShownUtf8(options.outbox) << '\n';
    }
    if (!outcome.violations.empty()) {
        std::cerr << "tev: the analytics library saw " << outcome.violations.size()
                  << " ownership violation(s):\n";
        for (const std::string& violation : outcome.violations)
            std::cerr << "  " << ShownUtf8(violation) << '\n';
        return kFailure;
    }
    return 0;
}

// Each entry with its parameters, then the lines that steer the stand-in.
std::string Footer() {
    std::string text = "\nEntries (one per scenario line, arguments in this order):\n";
    for (const std::string& usage : EntryUsages()) text += "  " + usage + "\n";
    return text + "\n" + resource::kRunHelp;
}

}  // namespace

Command AddRunCommand(CLI::App& tev) {
    auto options = std::make_shared<RunOptions>();
    CLI::App* run = tev.add_subcommand(
        "run", "Play a scenario (default: a typical setup run) and print what was reported");
    run->add_option("SCENARIO", options->scenario, "Scenario file, or - for standard input")
        ->type_name("FILE");
    run->add_flag("--trace", options->trace,
                  "Print the stand-in's trace as JSON Lines, one result line after each entry");
    run->add_option("--outbox", options->outbox,
                    "Append each waypoint handed over to FILE as JSON (sets KV8_OUTBOX)")
        ->type_name("FILE");
    run->add_option("--log-dir", options->logDir,
                    "Where TEV writes the play's log (default: a new folder tev-run-XXXXXX in the "
                    "temporary directory; never where a real setup writes its log)")
        ->type_name("DIR");
    run->footer(Footer());
    return {run, [options] { return PlayScenario(*options); }};
}

}  // namespace tevtool
