// Any bytes as a scenario: parsed, and when well formed, played against TEV and the stand-in. The
// analytics library must never see misuse, and nothing may stay owned once the run is ended.
// Logs that inputs ask for go to TMPDIR (scripts/fuzz.sh gives each fuzzer a directory).
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "TEVUtil.h"
#include "player/play.h"
#include "player/scenario.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tevtool::ParseError error;
    std::optional<tevtool::Scenario> scenario =
        tevtool::ParseScenario(std::string_view(reinterpret_cast<const char*>(data), size), error);
    if (!scenario) {
        if (error.line < 1 || error.column < 1 || error.message.empty()) std::abort();
        return 0;
    }
    std::ostringstream trace;
    tevtool::PlayOutcome outcome = tevtool::Play(*scenario, &trace);
    TEVUtil::ShutdownML();
    if (!outcome.violations.empty() || !kv8::Violations().empty() || !kv8::CallerOwned().empty())
        std::abort();
    return 0;
}
