// Playing a scenario against TEV and the stand-in, and showing what the analytics library got.
#ifndef TEV_TOOL_PLAY_H
#define TEV_TOOL_PLAY_H

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "player/scenario.h"

namespace tevtool {

struct PlayOutcome {
    std::vector<std::string> violations;  // ownership violations the stand-in recorded
};

// Plays every step on a fresh stand-in. With `traceLines`, writes the trace as JSON Lines with one
// {"entry":...,"result":...} line after each entry's own trace lines; otherwise nothing.
PlayOutcome Play(const Scenario& scenario, std::ostream* traceLines);

// How a name of the analytics library's (a waypoint's, a state's, an attribute's) is shown: a
// scenario chooses some, so they are shown as every text of the tool's is.
using NameShown = std::function<std::string(tev::WideView name)>;

// The deliveries of the last play as an indented tree, then a one-line summary; attribute values
// as `shownValue` quotes them.
void PrintReport(std::ostream& out, const NameShown& shown, const NameShown& shownValue);

}  // namespace tevtool

#endif
