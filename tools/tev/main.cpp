// tev: shows an installer engineer what their installer's calls to TEV would report.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <iostream>
#include <new>

#include "TEVVersion.h"
#include "tev/commands.h"
#include "tev/files.h"
#include "tev/tool_system.h"
#include "tev/help_texts.h"
#include "tev/suggest.h"
#include "tev/terminal.h"
#include "printers/escaped_text.h"

namespace {

using namespace tevtool;

// An internal failure ends the tool with a status of its own, never the one a log's failure gives:
// an exception that escapes, std::terminate, and abort (which on Windows would exit 3).
[[noreturn]] void EndInternally(const char* what) {
    std::fflush(stdout);
    std::fputs("tev: internal error: ", stderr);
    std::fputs(what, stderr);
    std::fputs("\n", stderr);
    std::_Exit(kInternalError);
}

void GuardAgainstAborts() {
    std::set_terminate([] { EndInternally("the tool stopped (std::terminate)"); });
    std::signal(SIGABRT, [](int) { EndInternally("the tool stopped (abort)"); });
#ifdef SIGPIPE
    std::signal(SIGPIPE, SIG_DFL);  // a reader gone ends the tool quietly, whatever its parent set
#endif
}

// The command the first argument names: a command, or a file or folder to read (a log dropped on
// tev.exe arrives as its only argument), which means `log`. An argument that is neither is an
// error, with the command it is most like.
bool NameTheCommand(std::vector<std::string>& arguments, const std::vector<std::string>& names) {
    if (arguments.empty() || arguments.front().starts_with("-") ||
        std::find(names.begin(), names.end(), arguments.front()) != names.end())
        return true;
    std::error_code error;
    if (std::filesystem::exists(PathOf(arguments.front()), error)) {
        arguments.insert(arguments.begin(), "log");
        return true;
    }
    // A name no command is spelt like (with a dot or a folder in it) was meant as a path.
    if (arguments.front().find_first_of("./\\") != std::string::npos) {
        std::cerr << Styled(Style::Error,
                            "tev: " + ShownUtf8(arguments.front()) + ": " + process::kNoSuchPath)
                  << " (name a log or a folder of logs to read, or a subcommand: run, log, "
                     "scenario, doctor; see tev --help)\n";
        return false;
    }
    std::cerr
        << Styled(Style::Error, "tev: unknown subcommand " + ShownUtf8(arguments.front()))
        << Suggestion(arguments.front(), names)
        << " (the subcommands are run, log, scenario and doctor, or name a log to read; see tev "
           "--help)\n";
    return false;
}

// Every option before "--" must be one of the command's (or the tool's): a misspelt one is
// refused with the nearest known one.
bool KnownOptions(const std::vector<std::string>& arguments, const CLI::App& tev,
                  const CLI::App* command) {
    std::vector<std::string> known;
    for (const CLI::App* app : {&tev, command}) {
        if (!app) continue;
        for (const CLI::Option* option : app->get_options()) {
            for (const std::string& name : option->get_lnames()) known.push_back("--" + name);
            for (const std::string& name : option->get_snames()) known.push_back("-" + name);
        }
    }
    for (const std::string& argument : arguments) {
        if (argument == "--") break;
        if (argument.size() < 2 || argument.front() != '-') continue;
        std::string name = argument.substr(0, argument.find('='));
        if (!name.starts_with("--")) name = name.substr(0, 2);  // -oFILE
        if (std::find(known.begin(), known.end(), name) != known.end()) continue;
        std::cerr << Styled(Style::Error, "tev: unknown option " + ShownUtf8(name))
                  << Suggestion(name, known) << " (see tev "
                  << (command ? command->get_name() + " " : "") << "--help)\n";
        return false;
    }
    return true;
}

// The option ARGUMENT names (as typed: --name, -n, -nVALUE, --name=VALUE, or /name[:VALUE] as CLI11
// reads it on Windows), the command's or the tool's; null when there is none.
const CLI::Option* OptionNamed(const std::string& argument, const CLI::App& tev,
                               const CLI::App& command) {
    std::vector<std::string> names{argument.substr(0, argument.find('='))};
    if (!argument.starts_with("--")) names = {argument.substr(0, 2)};
    if (argument.front() == '/') {
        const std::string name = argument.substr(1, argument.find(':') - 1);
        names = {"-" + name, "--" + name};
    }
    for (const CLI::App* app : {&command, &tev})
        for (const std::string& name : names)
            if (const CLI::Option* found = app->get_option_no_throw(name)) return found;
    return nullptr;
}

// CLI11 on Windows reads an argument that begins with "/" as an option (/summary as --summary), so
// a path written the Unix way, as Wine takes it (wine tev.exe log ~/logs/Setup_TEV.log), was
// refused as an argument that was not expected. A path the command is given that begins with "/"
// and names an existing file or folder is a path: the command's paths, in their order, are put
// after "--", where nothing is an option. Any other "/" argument is an option, or refused as
// CLI11 refuses it (on Windows; elsewhere it is a path like any other).
void KeepSlashPaths(std::vector<std::string>& arguments, const CLI::App& tev,
                    const CLI::App* command) {
    if (!command || arguments.empty()) return;
    std::vector<std::string> options{arguments.front()}, paths, unknown;
    bool slashPath = false;
    size_t index = 1;
    for (; index < arguments.size() && arguments[index] != "--"; ++index) {
        const std::string& argument = arguments[index];
        std::error_code error;
        const bool isSlashPath = argument.size() > 1 && argument.front() == '/' &&
                                 std::filesystem::exists(PathOf(argument), error);
        const bool isOption =
            argument.size() > 1 &&
            (argument.front() == '-' ||
             (argument.front() == '/' && !isSlashPath && tev.get_allow_windows_style_options()));
        if (!isOption) {
            paths.push_back(argument);
            slashPath = slashPath || isSlashPath;
            continue;
        }
        options.push_back(argument);
        const CLI::Option* option = OptionNamed(argument, tev, *command);
        if (!option && argument.front() == '/') unknown.insert(unknown.begin(), argument);
        // --name VALUE, -n VALUE, /name VALUE: the value is the next argument, whatever it is.
        const bool valueAttached =
            argument.find_first_of(argument.front() == '/' ? ":" : "=") != std::string::npos ||
            (!argument.starts_with("--") && argument.size() > 2 && argument.front() == '-');
        if (option && !valueAttached && option->get_items_expected_min() > 0 &&
            index + 1 < arguments.size())
            options.push_back(arguments[++index]);
    }
    if (!slashPath) return;
    if (!unknown.empty()) throw CLI::ExtrasError(unknown);  // CLI11 lists them last first
    options.push_back("--");
    options.insert(options.end(), paths.begin(), paths.end());
    if (index < arguments.size())
        options.insert(options.end(), arguments.begin() + index + 1, arguments.end());
    arguments = std::move(options);
}

int Main(std::vector<std::string> arguments) {
    CLI::App app{
        "tev: play a setup run through TEV and see what it reports, or read its diagnostic log."};
    app.name("tev");
    app.set_version_flag("--version", std::string("tev ") + TEV_VERSION_STRING);
    app.require_subcommand(1);
    app.footer(std::string("\n") + resource::kTevHelp);
    const Command commands[] = {AddRunCommand(app), AddLogCommand(app), AddScenarioCommand(app),
                                AddDoctorCommand(app)};
    std::vector<std::string> names;
    for (const Command& command : commands) names.push_back(command.app->get_name());

    if (!NameTheCommand(arguments, names)) return kUsageError;
    const CLI::App* named = nullptr;
    for (const Command& command : commands)
        if (!arguments.empty() && command.app->get_name() == arguments.front()) named = command.app;
    if (!KnownOptions(arguments, app, named)) return kUsageError;
    try {
        KeepSlashPaths(arguments, app, named);
        std::reverse(arguments.begin(), arguments.end());  // CLI11 takes them last first
        app.parse(arguments);
    } catch (const CLI::ParseError& error) {
        if (error.get_exit_code() == 0) return app.exit(error);  // --help, --version
        // The message may quote an argument: shown as texts are.
        std::cerr << ShownUtf8(error.what()) << "\nRun with --help for more information.\n";
        return kUsageError;
    }
    for (const Command& command : commands)
        if (command.app->parsed()) return command.run();
    return kUsageError;  // CLI11 requires one command
}

}  // namespace

// What was written to standard output reached it: a write that failed ends the tool with an error
// of its own, whatever the command's status.
int Written(int status) {
    std::cout.flush();  // std::cout writes through stdout: a failure of either shows on stdout
    std::fflush(stdout);
    EndIfWriteFailed(stdout, "standard output");
    return status;
}

int main(int argc, char** argv) {
    GuardAgainstAborts();
    process::UseBinaryStandardStreams();
    try {
        return Written(Main(process::Arguments(argc, argv)));
    } catch (const std::bad_alloc&) {
        EndInternally("out of memory");
    } catch (const std::exception& error) {
        EndInternally(error.what());
    } catch (...) {
        EndInternally("an unknown exception");
    }
}
