// Scenarios: a setup run written as one TEVUtil call per line, plus "kv8" lines that steer the
// analytics library stand-in. Parsed whole before anything is played.
#ifndef TEV_TOOL_SCENARIO_H
#define TEV_TOOL_SCENARIO_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "KV8Control.h"
#include "base/text.h"

namespace tevtool {

using tev::WideString;

// One argument as written: a quoted text, null, an integer or a truth value. Phases given by name
// are stored as their number.
struct Value {
    enum class Kind { Null, Text, Integer, Boolean } kind = Kind::Null;
    WideString text;
    std::int64_t integer = 0;
    bool boolean = false;
};

// What a step returned: nothing (void entries), a truth value, or a text.
struct Result {
    enum class Kind { None, Boolean, Text } kind = Kind::None;
    bool boolean = false;
    const TEVChar* text = nullptr;
};

struct BoundEntry;

// A refusal for the stand-in, from "kv8 refuse ...".
struct Refusal {
    enum class Target { Create, GetState, Initialize } target = Target::Create;
    kv8::Kind kind = kv8::Kind::Waypoint;
    WideString name;
    int count = 1;  // kv8::kAlways for "*"
};

struct Step {
    const BoundEntry* entry = nullptr;  // null for a kv8 line
    std::vector<Value> arguments;
    Refusal refusal;
};

// The name of the entry a step calls, as written in scenarios.
const char* EntryName(const BoundEntry& entry);
// Calls the entry with the step's arguments.
Result Invoke(const Step& step);

struct ParseError {
    int line = 0;
    int column = 0;
    std::string message;
    std::string unknownEntry = {};  // the name, when the line begins with no entry's
};

struct Scenario {
    std::vector<Step> steps;
    bool asksForLog = false;  // some step is InitML true
};

// "Entry parameter ..." for every entry, for help texts.
std::vector<std::string> EntryUsages();
// The entries' names, as a scenario spells them.
std::vector<std::string> EntryNames();

// Parses UTF-8 scenario text. On error nothing of the scenario is kept.
// A scenario is a few lines written by hand: a longer one, a longer line, or one of more entries
// (each costs the play a few kilobytes) is refused.
inline constexpr size_t kScenarioBytes = 4 << 20;
inline constexpr size_t kScenarioLineBytes = 2 << 20;
inline constexpr size_t kScenarioSteps = 10'000;
// The first line (from 1) longer than kScenarioLineBytes; 0 when there is none.
int FirstLongLine(std::string_view text);

std::optional<Scenario> ParseScenario(std::string_view text, ParseError& error);

}  // namespace tevtool

#endif
