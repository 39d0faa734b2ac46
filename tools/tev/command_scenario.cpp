// tev scenario: prints the default scenario, to copy and edit.
#include <CLI/CLI.hpp>

#include <iostream>

#include "commands.h"
#include "resources.h"

namespace tevtool {

Command AddScenarioCommand(CLI::App& tev) {
    CLI::App* app = tev.add_subcommand("scenario", "Print the default scenario, to copy and edit");
    return {app, [] {
                std::cout << kDefaultScenario;
                return 0;
            }};
}

}  // namespace tevtool
