// tev: shows an installer engineer what their installer's calls to TEV would report.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <iostream>

#include "TEVVersion.h"
#include "commands.h"
#include "process.h"
#include "resources.h"

int main(int argc, char** argv) {
    using namespace tevtool;
    process::UseBinaryStandardStreams();
    CLI::App app{
        "tev: play a setup run through TEV and see what it reports, or read its diagnostic log."};
    app.name("tev");
    app.set_version_flag("--version", std::string("tev ") + TEV_VERSION_STRING);
    app.require_subcommand(1);
    app.footer(std::string("\n") + resource::kTevHelp);
    const Command commands[] = {AddRunCommand(app), AddLogCommand(app), AddScenarioCommand(app),
                                AddDoctorCommand(app)};

    std::vector<std::string> arguments = process::Arguments(argc, argv);
    if (!arguments.empty() && !arguments.front().starts_with("-") &&
        std::none_of(std::begin(commands), std::end(commands), [&](const Command& command) {
            return command.app->get_name() == arguments.front();
        })) {
        std::cerr << "tev: unknown subcommand " << arguments.front()
                  << " (the subcommands are run, log, scenario and doctor; see tev --help)\n";
        return kUsageError;
    }
    try {
        std::reverse(arguments.begin(), arguments.end());  // CLI11 takes them last first
        app.parse(arguments);
    } catch (const CLI::ParseError& error) {
        int status = app.exit(error);
        return status == 0 ? 0 : kUsageError;
    }
    for (const Command& command : commands)
        if (command.app->parsed()) return command.run();
    return kUsageError;  // CLI11 requires one command
}
