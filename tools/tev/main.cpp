// tev: shows an installer engineer what their installer's calls to TEV would report.
#include <CLI/CLI.hpp>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

#include "log_decoder.h"
#include "play.h"
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

constexpr int kUsageError = 2;
constexpr int kFailure = 1;

// The log TEV writes: "Setup_TEV.log" in the user's temporary directory.
std::string DefaultLogPath() {
#ifdef _WIN32
    wchar_t directory[MAX_PATH + 1];
    DWORD length = GetTempPathW(MAX_PATH + 1, directory);
    kv8::Text path(directory, length <= MAX_PATH ? length : 0);
    return tevtool::ToUtf8(path + L"Setup_TEV.log");
#else
    const char* tmpdir = std::getenv("TMPDIR");
    std::string path = tmpdir && *tmpdir ? tmpdir : "/tmp";
    if (path.back() != '/') path += '/';
    return path + "Setup_TEV.log";
#endif
}

// Paths on the command line are UTF-8 on every platform.
std::filesystem::path PathOf(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

bool ReadAll(const std::string& path, std::string& bytes, std::string& error) {
    if (path == "-") {
        bytes.assign(std::istreambuf_iterator<char>(std::cin), {});
        return true;
    }
    std::ifstream file(PathOf(path), std::ios::binary);
    if (!file) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    bytes.assign(std::istreambuf_iterator<char>(file), {});
    return true;
}

void SetOutbox(const std::string& path) {
#ifdef _WIN32
    _wputenv_s(L"KV8_OUTBOX", PathOf(path).wstring().c_str());
#else
    setenv("KV8_OUTBOX", path.c_str(), 1);
#endif
}

int Run(const std::string& source, bool trace, const std::string& outbox) {
    std::string text = kDefaultScenario;
    std::string name = "the default scenario";
    std::string error;
    if (!source.empty()) {
        if (!ReadAll(source, text, error)) {
            std::cerr << "tev: " << error << '\n';
            return kUsageError;
        }
        name = source == "-" ? "standard input" : source;
    }
    tevtool::ParseError parseError;
    std::optional<tevtool::Scenario> scenario = tevtool::ParseScenario(text, parseError);
    if (!scenario) {
        std::cerr << "tev: " << name << ": line " << parseError.line << ", column " << parseError.column
                  << ": " << parseError.message << '\n';
        return kUsageError;
    }
    if (!outbox.empty()) SetOutbox(outbox);

    tevtool::PlayOutcome outcome = tevtool::Play(*scenario, trace ? &std::cout : nullptr);
    if (!trace) {
        std::cout << "What the analytics library received from " << name << " ("
                  << scenario->steps.size() << " steps):\n\n";
        tevtool::PrintReport(std::cout);
        if (scenario->asksForLog) {
            std::string log = DefaultLogPath();
            std::cout << "Diagnostic log: " << log
                      << (std::ifstream(PathOf(log)).good() ? " (read it with: tev log)" : " (none could be written)")
                      << '\n';
        }
        if (!outbox.empty()) std::cout << "Outbox: " << outbox << '\n';
    }
    if (!outcome.violations.empty()) {
        std::cerr << "tev: the analytics library saw " << outcome.violations.size()
                  << " ownership violation(s):\n";
        for (const std::string& violation : outcome.violations) std::cerr << "  " << violation << '\n';
        return kFailure;
    }
    return 0;
}

int Log(const std::string& source, bool json) {
    std::string path = source.empty() ? DefaultLogPath() : source;
    std::string bytes, error;
    if (!ReadAll(path, bytes, error)) {
        std::cerr << "tev: " << error << '\n';
        return kUsageError;
    }
    tevtool::DecodedLog log = tevtool::DecodeLog(bytes);
    for (const kv8::Text& line : log.lines)
        std::cout << (json ? tevtool::LogEntryJson(tevtool::ParseLogLine(line)) : tevtool::ToUtf8(line)) << '\n';
    if (!log.problem.empty()) {
        std::cerr << "tev: " << path << ": not a whole diagnostic log: " << log.problem << '\n';
        return kFailure;
    }
    return 0;
}

std::string EntryList() {
    std::string list = "\nEntries (one per scenario line, arguments in this order):\n";
    for (const std::string& usage : tevtool::EntryUsages()) list += "  " + usage + "\n";
    list +=
        "\nStand-in steering lines:\n"
        "  kv8 refuse waypoint|state|attribute \"NAME\" [COUNT|*]   the next COUNT creations give null\n"
        "  kv8 refuse get_state [COUNT|*]                          GetState gives null\n"
        "  kv8 refuse initialize [COUNT|*]                         Initialize leaves the library down\n"
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
    CLI::App app{"tev: play a setup run through TEV and see what it reports, or read its diagnostic log."};
    app.name("tev");
    app.set_version_flag("--version", std::string("tev ") + TEV_VERSION);
    app.require_subcommand(1);
    app.footer("\nExamples:\n  tev run                  play the default setup run\n"
               "  tev scenario > my.tev    start a scenario of your own\n"
               "  tev run my.tev --trace   every call into the analytics library, as JSON Lines\n"
               "  tev log --json           the diagnostic log of the last run");

    std::string scenarioPath, outbox, logPath;
    bool trace = false, json = false;
    CLI::App* run = app.add_subcommand("run", "Play a scenario (default: a typical setup run) and print what was reported");
    run->add_option("SCENARIO", scenarioPath, "Scenario file, or - for standard input")->type_name("FILE");
    run->add_flag("--trace", trace, "Print the stand-in's trace as JSON Lines, one result line after each entry");
    run->add_option("--outbox", outbox, "Append each waypoint handed over to FILE as JSON (sets KV8_OUTBOX)")
        ->type_name("FILE");
    run->footer(EntryList());

    CLI::App* log = app.add_subcommand("log", "Decode a diagnostic log to UTF-8 (default: Setup_TEV.log in the temporary directory)");
    log->add_option("FILE", logPath, "The log to read")->type_name("");
    log->add_flag("--json", json, "One JSON object per line: time, token, fields");
    log->footer("\nExit status: 0 when the file is whole, 1 when it is cut short (what could be read is\n"
                "printed), 2 when it cannot be read.");

    app.add_subcommand("scenario", "Print the default scenario, to copy and edit");

    try {
#ifdef _WIN32
        // The command line as UTF-16, passed on as UTF-8 like everywhere else.
        int count = 0;
        wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
        std::vector<std::string> arguments;
        for (int i = count - 1; i > 0; --i) arguments.push_back(tevtool::ToUtf8(wide[i]));
        LocalFree(wide);
        app.parse(arguments);
        (void)argc;
        (void)argv;
#else
        app.parse(argc, argv);
#endif
    } catch (const CLI::ParseError& error) {
        int status = app.exit(error);
        return status == 0 ? 0 : kUsageError;
    }
    if (run->parsed()) return Run(scenarioPath, trace, outbox);
    if (log->parsed()) return Log(logPath, json);
    std::cout << kDefaultScenario;
    return 0;
}
