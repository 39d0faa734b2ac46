// tev scenario: prints the default scenario, to copy and edit.
#include <CLI/CLI.hpp>

#include <iostream>

#include "tev/commands.h"
#include "player/default_scenario.h"

namespace tevtool {

Command AddScenarioCommand(CLI::App& tev) {
    CLI::App* app = tev.add_subcommand("scenario", "Print the default scenario, to copy and edit");
    return {app, [] {
                std::cout << resource::kDefaultScenario;
                return 0;
            }};
}

}  // namespace tevtool
