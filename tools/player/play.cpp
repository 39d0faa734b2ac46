#include "player/play.h"

#include "TEVUtil.h"
#include "base/text.h"

namespace tevtool {
namespace {

// As the stand-in's trace quotes texts: every code unit as TEV gave it.
std::string Quoted(tev::WideView text) { return tev::JsonQuote(text, tev::LoneSurrogates::Keep); }

void Apply(const Refusal& refusal) {
    switch (refusal.target) {
    case Refusal::Target::Create:
        kv8::RefuseCreate(refusal.kind, refusal.name, refusal.count);
        break;
    case Refusal::Target::GetState: kv8::RefuseGetState(refusal.count); break;
    case Refusal::Target::Initialize: kv8::RefuseInitialize(refusal.count); break;
    }
}

std::string ResultJson(const Result& result) {
    switch (result.kind) {
    case Result::Kind::None: return "null";
    case Result::Kind::Boolean: return result.boolean ? "true" : "false";
    case Result::Kind::Text: return result.text ? Quoted(result.text) : "null";
    }
    return "null";
}

const char* Label(const std::string& call) {
    if (call == "initialize") return "start-up";
    if (call == "uninitialize") return "shut-down";
    if (call == "crash") return "crash";
    return "reached";
}

std::string Plural(size_t count, const char* noun) {
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

}  // namespace

PlayOutcome Play(const Scenario& scenario, std::ostream* traceLines) {
    // A run an earlier play left active is ended first, so that TEV never uses its objects after
    // the stand-in has forgotten them.
    TEVUtil::ShutdownML();
    kv8::Reset();
    for (const Step& step : scenario.steps) {
        if (!step.entry) {
            Apply(step.refusal);
            continue;
        }
        Result result = Invoke(step);
        if (!traceLines) continue;
        for (const std::string& line : kv8::TakeTrace()) *traceLines << line << '\n';
        *traceLines << "{\"entry\":\"" << EntryName(*step.entry)
                    << "\",\"result\":" << ResultJson(result) << "}\n";
    }
    return {kv8::Violations()};
}

void PrintReport(std::ostream& out, const NameShown& shown, const NameShown& shownValue) {
    size_t waypoints = 0, states = 0, attributes = 0;
    for (const kv8::Delivery& delivery : kv8::Deliveries()) {
        std::string label = Label(delivery.call);
        out << label << std::string(11 - label.size(), ' ')
            << (delivery.hasWaypoint ? shown(delivery.waypoint) : "(no waypoint)") << '\n';
        waypoints += delivery.hasWaypoint;
        for (const kv8::DeliveredState& state : delivery.states) {
            out << std::string(13, ' ') << shown(state.name) << '\n';
            ++states;
            for (const kv8::DeliveredAttribute& attribute : state.attributes) {
                out << std::string(15, ' ') << shown(attribute.name) << " = "
                    << shownValue(attribute.value) << '\n';
                ++attributes;
            }
        }
    }
    out << '\n'
        << Plural(waypoints, "waypoint") << ", " << Plural(states, "state") << ", "
        << Plural(attributes, "attribute") << " handed to the analytics library\n";
    std::vector<std::string> held = kv8::CallerOwned();
    if (!held.empty()) {
        out << "Never handed over (the run was not ended):";
        for (const std::string& object : held) out << ' ' << object;
        out << '\n';
    }
}

}  // namespace tevtool
