// Randomized runs with faults: seeded, reproducible sequences of every entry with hostile texts,
// lifecycle calls anywhere, and the stand-in refusing objects at random points. A small model of
// what each entry reports is checked after every step: no misuse of the analytics library, results
// that agree with whether reporting is on, well-formed waypoints, and a log made of exactly the
// expected lines.
//
// TEV_RANDOM_SEED, TEV_RANDOM_RUNS and TEV_RANDOM_STEPS override the defaults (make soak uses
// them).
#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <random>

#include "setup_report/product_registry.h"
#include "support.h"

namespace {

using testing_support::Utf8;
// The log's tokens as the README's table of entries spells them, apart from the product's own
// table, so that a token the product spells wrongly fails the model's runs.
namespace logged {
const TEVChar* const kInitML = T("InitML");
const TEVChar* const kFailToInitialize = T("Fail to initialize KV8");
const TEVChar* const kSetupAttribute = T("SETUP");
const TEVChar* const kShutdownML = T("ShutdownML");
const TEVChar* const kCommitSetupWaypoint = T("CommitSetupWaypoint");
const TEVChar* const kCommitProducts = T("CommitProducts()");
const TEVChar* const kProductData = T("PRODUCTNRDATA");
const TEVChar* const kDownloadMilestone = T("wpDownloadSP");
const TEVChar* const kWarning = T("wpWarning");
const TEVChar* const kDownloadError = T("DownloadError");
const TEVChar* const kOnCrash = T("OnCrash");
}  // namespace logged
using OptionalText = std::optional<WideString>;  // nullopt: a null pointer

long EnvNumber(const char* name, long fallback) {
    const char* value = std::getenv(name);
    return value && *value ? std::strtol(value, nullptr, 10) : fallback;
}

const TEVChar* Ptr(const OptionalText& text) { return text ? text->c_str() : nullptr; }
WideString Or(const OptionalText& text) { return text ? *text : WideString(); }

WideString Decimal(long long value) {
    WideString text;
    for (char c : std::to_string(value)) text += static_cast<TEVChar>(c);
    return text;
}

class Generator {
public:
    explicit Generator(std::uint64_t seed) : random_(seed) {}

    int Below(int n) { return static_cast<int>(random_() % static_cast<std::uint64_t>(n)); }
    bool Chance(int percent) { return Below(100) < percent; }
    template <typename T>
    const T& Of(const std::vector<T>& options) {
        return options[static_cast<size_t>(Below(static_cast<int>(options.size())))];
    }

    OptionalText AnyText() {
        switch (Below(12)) {
        case 0: return std::nullopt;
        case 1: return WideString();
        case 2: return WideString(65536, static_cast<TEVChar>(T('a') + Below(26)));
        case 3: return WideString(T("\u00c9t\u00e9 \u65e5\u672c \U0001F600"));
        case 4:
            return WideString(1,
                              static_cast<TEVChar>(0xD800 + Below(0x800)));  // unpaired surrogate
        case 5: return WideString(T("a;b\r\nc;"));
        case 6:
            return WideString(T("x\0y"), 1) + WideString(1, static_cast<TEVChar>(0xDC00)) + T("\r");
        default: {
            WideString text;
            for (int i = Below(12); i > 0; --i) text += static_cast<TEVChar>(T(' ') + Below(95));
            return text;
        }
        }
    }

    // Product names repeat, in several letter cases, so that records gather on one waypoint.
    OptionalText ProductName() {
        if (Chance(15)) return AnyText();
        static const std::vector<WideString> names = {T("Studio"),   T("STUDIO"),  T("studio"),
                                                      T("Runtime"),  T("RUNTIME"), T("\u00c4pp"),
                                                      T("\u00e4pp"), T("")};
        return Of(names);
    }

    int AnyInt() {
        switch (Below(4)) {
        case 0: return -2147483647 - 1;
        case 1: return 2147483647;
        default: return Below(2001) - 1000;
        }
    }

    TEVUInt32 AnyUnsigned() {
        return Chance(30) ? 4294967295u - static_cast<TEVUInt32>(Below(3))
                          : static_cast<TEVUInt32>(random_());
    }

private:
    std::mt19937_64 random_;
};

// One step as played: what it returned and how it may log.
struct Step {
    std::string name;
    enum class Returns { Nothing, Bool, WideString } returns = Returns::Nothing;
    bool result = false;
    // The fields of the line the entry writes while reporting is on (empty: it writes none).
    std::vector<WideString> logFields;
    bool logsOnlyWithState = false;  // AddNRData: only when the product had a state to record on
    bool productDetail = false;
};

// The report's names, written out as the analytics library's users expect them rather than taken
// from the product's own vocabulary, so that a name misspelt there is a waypoint the model rejects.

// The waypoints without states: the phases' beginnings and ends, and the download milestone.
const std::vector<std::string> kMarkWaypoints = {"wp.setup.initialization.begin",
                                                 "wp.setup.initialization.end",
                                                 "wp.setup.configuration.begin",
                                                 "wp.setup.configuration.end",
                                                 "wp.setup.installation.begin",
                                                 "wp.setup.installation.end",
                                                 "wp.downloadsp"};

// Each event's state, with its attributes in order.
const std::map<std::string, std::vector<std::string>> kEventAttributes = {
    {"s.download.begin", {"a.download.url", "a.state.name"}},
    {"s.download.pause", {"a.state.name", "a.download.url"}},
    {"s.download.resume", {"a.state.name", "a.download.url"}},
    {"s.download.end", {"a.state.name", "a.download.url"}},
    {"s.download.cancel", {"a.state.name", "a.download.url"}},
    {"s.install.begin", {"a.state.name", "a.product.name"}},
    {"s.install.end", {"a.state.name", "a.product.name"}},
    {"s.install.cancel", {"a.state.name", "a.product.name"}},
    {"s.install.error", {"a.state.name", "a.product.name", "a.install.errmsg"}},
    {"s.warning", {"a.warning.message"}},
    {"s.download.error",
     {"a.state.name", "a.download.url", "a.download.errmsg", "a.download.errcode"}},
};

// Each product detail's state, with its two attributes in order.
const std::map<std::string, std::vector<std::string>> kDetailAttributes = {
    {"s.product.configured", {"a.product.configured.name", "a.product.configured.value"}},
    {"s.product.content", {"a.product.contentname", "a.product.contentpath"}},
    {"s.product.other", {"a.product.other.name", "a.product.other.value"}},
    {"s.product.feature", {"a.product.featurename", "a.product.featureaction"}},
    {"s.product.language", {"a.product.language", "a.product.islanguagedownloaded"}},
};

std::vector<std::string> AttributeNames(const kv8::DeliveredState& state) {
    std::vector<std::string> names;
    for (const kv8::DeliveredAttribute& attribute : state.attributes)
        names.push_back(Utf8(attribute.name));
    return names;
}

bool IsSubsequence(const std::vector<std::string>& part, const std::vector<std::string>& whole) {
    auto at = whole.begin();
    for (const std::string& name : part) {
        at = std::find(at, whole.end(), name);
        if (at == whole.end()) return false;
        ++at;
    }
    return true;
}

// What is wrong with a waypoint handed over, or "" when it is well formed for its kind.
std::string Malformed(const kv8::Delivery& delivery) {
    std::string waypoint = delivery.hasWaypoint ? Utf8(delivery.waypoint) : "(null)";
    const std::vector<kv8::DeliveredState>& states = delivery.states;
    auto stateName = [&](size_t i) { return Utf8(states[i].name); };
    if (delivery.call == "initialize")
        return waypoint == "COMMON.STARTUP" && states.empty() ? "" : "bad start-up";
    if (delivery.call == "crash")
        return (waypoint == "COMMON.CRASH" || !delivery.hasWaypoint) && states.empty()
                   ? ""
                   : "bad crash";
    if (delivery.call == "uninitialize")
        return (waypoint == "COMMON.SHUTDOWN" || !delivery.hasWaypoint) && states.empty()
                   ? ""
                   : "bad shut-down";
    if (std::find(kMarkWaypoints.begin(), kMarkWaypoints.end(), waypoint) != kMarkWaypoints.end())
        return states.empty() ? "" : waypoint + " has states";
    if (waypoint == "wp.setup") {
        // Its "a.setup" may be missing: the stand-in may have refused it.
        return states.size() == 1 && stateName(0) == "s.setup" ? ""
                                                               : "wp.setup without its one state";
    }
    if (waypoint == "wp.warning" || waypoint == "wp.download" ||
        (waypoint == "wp.product" && !states.empty() && stateName(0).rfind("s.install.", 0) == 0)) {
        if (states.size() != 1)
            return waypoint + " event with " + std::to_string(states.size()) + " states";
        auto expected = kEventAttributes.find(stateName(0));
        if (expected == kEventAttributes.end()) return waypoint + " with state " + stateName(0);
        std::vector<std::string> names = AttributeNames(states[0]);
        if (stateName(0) == "s.download.error" && names.size() == 4 &&
            names[3] == "a.download.eventid")
            names[3] = "a.download.errcode";  // the failure event's number, by its other name
        if (names != expected->second) {
            return stateName(0) + " attributes out of order";
        }
        for (const kv8::DeliveredAttribute& attribute : states[0].attributes)
            if (Utf8(attribute.name) == "a.state.name" && attribute.value != states[0].name)
                return "a.state.name differs from its state";
        return "";
    }
    if (waypoint == "wp.product") {
        if (states.empty() || stateName(0) != "s.productlist")
            return "product record without s.productlist first";
        if (states[0].attributes.empty() || Utf8(states[0].attributes[0].name) != "a.product.name")
            return "product record without a.product.name first";
        const WideString& name = states[0].attributes[0].value;
        if (WideString(tev::LowerCaseName(name).c_str(), name.size()) != name)
            return "product name not lower-cased";
        for (size_t i = 1; i < states.size(); ++i) {
            auto expected = kDetailAttributes.find(stateName(i));
            if (expected == kDetailAttributes.end())
                return "product record with state " + stateName(i);
            if (!IsSubsequence(AttributeNames(states[i]), expected->second) ||
                states[i].attributes.size() > 2)
                return stateName(i) + " attributes out of order";
        }
        return "";
    }
    return "unexpected waypoint " + waypoint;
}

// Reads the log back against the lines the model expects, timestamps aside.
std::string LogMismatch(const std::string& bytes, const std::vector<WideString>& expected) {
    WideString units = testing_support::Utf16Units(bytes);
    if (bytes.size() % 2) return "odd length";
    size_t at = 0;
    auto number = [&] {
        size_t start = at;
        while (at < units.size() && units[at] >= T('0') && units[at] <= T('9')) ++at;
        return at > start;
    };
    auto literal = [&](const WideString& text) {
        if (units.compare(at, text.size(), text) != 0) return false;
        at += text.size();
        return true;
    };
    for (size_t line = 0; line < expected.size(); ++line) {
        bool timestamp = number() && literal(T("/")) && number() && literal(T("/")) && number() &&
                         literal(T("; ")) && number() && literal(T(":")) && number() &&
                         literal(T(":")) && number() && literal(T("; "));
        if (!timestamp) return "line " + std::to_string(line) + ": no timestamp";
        if (!literal(expected[line] + T("\r\n")))
            return "line " + std::to_string(line) + ": expected " +
                   Utf8(expected[line].substr(0, 80)) + ", found " +
                   Utf8(units.substr(at, std::min<size_t>(80, expected[line].size() + 2)));
    }
    return at == units.size() ? "" : "unexpected lines after the last expected one";
}

WideString Line(const std::vector<WideString>& fields) {
    WideString line;
    for (const WideString& field : fields) line += field + T(";");
    return line;
}

bool Contains(const std::vector<std::string>& trace, const std::string& piece) {
    return std::any_of(trace.begin(), trace.end(), [&](const std::string& line) {
        return line.find(piece) != std::string::npos;
    });
}

}  // namespace

class RandomRuns : public TevTest {
protected:
    // The model of the run.
    bool enabled_ = false;
    bool logOpen_ = false;
    bool logCreated_ = false;
    std::vector<WideString> logLines_;
    size_t deliveriesChecked_ = 0;
    std::string where_;

    void Log(const std::vector<WideString>& fields) {
        if (logOpen_) logLines_.push_back(Line(fields));
    }

    // InitML as the model sees it, from what the analytics library was asked.
    void ModelStart(bool enableLog, const std::vector<std::string>& trace, bool reported) {
        enabled_ = false;
        // An active run's log goes on with this run's lines when this run logs, and is closed,
        // its lines kept, when not; a log not open is created anew.
        if (enableLog && !logOpen_) logLines_.clear();
        logOpen_ = enableLog;
        if (enableLog) {
            logCreated_ = true;
            logLines_.push_back(Line({logged::kInitML}));
        }
        if (Contains(trace, R"("name":"COMMON.STARTUP","id":null)")) {
            EXPECT_FALSE(reported) << where_;
            logOpen_ = false;
            return;
        }
        enabled_ = Contains(trace, R"({"op":"is_initialized","result":true})");
        EXPECT_EQ(reported, enabled_) << where_;
        if (!enabled_) {
            Log({logged::kFailToInitialize});
            logOpen_ = false;
            return;
        }
        if (Contains(trace, R"("name":"s.setup","id":)") &&
            !Contains(trace, R"("name":"s.setup","id":null)") &&
            !Contains(trace, R"("name":"wp.setup","id":null)"))
            Log({logged::kSetupAttribute, T("a.setup"), T("0")});
    }

    void ModelShutdown() {
        if (!enabled_) return;
        Log({logged::kShutdownML});
        Log({logged::kCommitSetupWaypoint});
        Log({logged::kCommitProducts});
        logOpen_ = false;
        enabled_ = false;
    }

    Step Play(Generator& g) {
        Step s;
        auto text = [&] { return g.AnyText(); };
        switch (g.Below(34)) {
        case 0:
        case 1: {
            bool enableLog = g.Chance(70);
            s.name = "InitML";
            s.returns = Step::Returns::Bool;
            s.result = TEVUtil::InitML(enableLog);
            ModelStart(enableLog, kv8::TakeTrace(), s.result);
            return s;
        }
        case 2:
            s.name = "ShutdownML";
            s.returns = Step::Returns::Bool;
            s.result = TEVUtil::ShutdownML();
            return s;
        case 3:
            s.name = "OnCrash";
            TEVUtil::OnCrash();
            return s;
        case 4: {
            s.name = "GetKV8UserId";
            const TEVChar* id = TEVUtil::GetKV8UserId();
            EXPECT_NE(id, nullptr) << where_;
            std::vector<std::string> trace = kv8::TakeTrace();
            if (!trace.empty() && trace.front() == R"({"op":"is_initialized","result":false})")
                ModelStart(false, std::vector<std::string>(trace.begin() + 1, trace.end()),
                           Contains(std::vector<std::string>(trace.begin() + 1, trace.end()),
                                    R"({"op":"is_initialized","result":true})"));
            return s;
        }
        case 5:
        case 6: {
            OptionalText name = text(), value = text();
            s.name = "AddAttributeToSetup";
            s.returns = Step::Returns::Bool;
            s.result = TEVUtil::AddAttributeToSetup(Ptr(name), Ptr(value));
            s.logFields = {logged::kSetupAttribute, Or(name), Or(value)};
            return s;
        }
        case 7: {
            OptionalText name = text();
            int value = g.AnyInt();
            s.name = "AddAttributeToSetup(int)";
            s.returns = Step::Returns::Bool;
            s.result = TEVUtil::AddAttributeToSetup(Ptr(name), value);
            s.logFields = {logged::kSetupAttribute, Or(name), Decimal(value)};
            return s;
        }
        case 8:
        case 9:
        case 10:
        case 11:
        case 12:
        case 13:
        case 14:
        case 15: {
            OptionalText product = g.ProductName(), name = text(), value = text();
            int number = g.AnyInt();
            s.returns = Step::Returns::Bool;
            s.productDetail = true;
            switch (g.Below(8)) {
            case 0:
                s.name = "AddConfiguredProperty";
                s.result = TEVUtil::AddConfiguredProperty(Ptr(product), Ptr(name), Ptr(value));
                break;
            case 1:
                s.name = "AddConfiguredProperty(int)";
                s.result = TEVUtil::AddConfiguredProperty(Ptr(product), Ptr(name), number);
                break;
            case 2:
                s.name = "AddContent";
                s.result = TEVUtil::AddContent(Ptr(product), Ptr(name), Ptr(value));
                break;
            case 3:
                s.name = "AddCustom";
                s.result = TEVUtil::AddCustom(Ptr(product), Ptr(name), Ptr(value));
                break;
            case 4:
                s.name = "AddFeature";
                s.result = TEVUtil::AddFeature(Ptr(product), Ptr(name), number);
                break;
            case 5:
                s.name = "AddLang";
                s.result = TEVUtil::AddLang(Ptr(product), Ptr(name), number);
                break;
            case 6:
                s.name = "AddNRData";
                s.result = TEVUtil::AddNRData(Ptr(product), Ptr(name), Ptr(value));
                s.logFields = {logged::kProductData, Or(product), Or(name), Or(value)};
                s.logsOnlyWithState = true;
                break;
            default:
                s.name = "AddNRData(int)";
                s.result = TEVUtil::AddNRData(Ptr(product), Ptr(name), number);
                s.logFields = {logged::kProductData, Or(product), Or(name), Decimal(number)};
                s.logsOnlyWithState = true;
                break;
            }
            return s;
        }
        case 16: {
            int phase = g.Below(6) - 1;
            s.name = "wpSetupPhase";
            TEVUtil::wpSetupPhase(static_cast<TEVUtil::eSetupPhase>(phase), g.Chance(50));
            return s;
        }
        case 17:
            s.name = "wpDownloadSP";
            TEVUtil::wpDownloadSP();
            s.logFields = {logged::kDownloadMilestone};
            return s;
        case 18:
        case 19: {
            OptionalText message = text();
            s.name = "wpWarning";
            TEVUtil::wpWarning(Ptr(message));
            s.logFields = {logged::kWarning, Or(message)};
            return s;
        }
        case 20:
        case 21:
        case 22:
        case 23:
        case 24: {
            OptionalText url = text();
            static const std::vector<std::pair<const char*, void (*)(const TEVChar*)>> downloads = {
                {"DownloadBegin", TEVUtil::DownloadBegin},
                {"DownloadPause", TEVUtil::DownloadPause},
                {"DownloadResume", TEVUtil::DownloadResume},
                {"DownloadEnd", TEVUtil::DownloadEnd},
                {"DownloadCancel", TEVUtil::DownloadCancel}};
            const auto& download = g.Of(downloads);
            s.name = download.first;
            download.second(Ptr(url));
            s.logFields = {WideString(s.name.begin(), s.name.end()), Or(url)};
            return s;
        }
        case 25:
        case 26: {
            OptionalText url = text(), message = text();
            TEVUInt32 number = g.AnyUnsigned();
            bool fail = g.Chance(50);
            s.name = fail ? "DownloadFailEvent" : "DownloadError";
            (fail ? TEVUtil::DownloadFailEvent : TEVUtil::DownloadError)(Ptr(url), Ptr(message),
                                                                         number);
            s.logFields = {logged::kDownloadError, Or(url), Or(message)};
            return s;
        }
        case 27:
        case 28:
        case 29: {
            OptionalText product = g.ProductName(), message = text();
            int which = g.Below(4);
            static const char* names[] = {"InstallBegin", "InstallEnd", "InstallCancel",
                                          "InstallError"};
            s.name = names[which];
            if (which == 0) TEVUtil::InstallBegin(Ptr(product));
            if (which == 1) TEVUtil::InstallEnd(Ptr(product));
            if (which == 2) TEVUtil::InstallCancel(Ptr(product));
            if (which == 3) TEVUtil::InstallError(Ptr(product), Ptr(message));
            s.logFields = {WideString(s.name.begin(), s.name.end()), Or(product)};
            return s;
        }
        default: {
            // A fault: the stand-in refuses the next object of some kind and name.
            static const std::vector<std::pair<kv8::Kind, WideString>> refusable = {
                {kv8::Kind::Waypoint, T("COMMON.STARTUP")},
                {kv8::Kind::Waypoint, T("COMMON.SHUTDOWN")},
                {kv8::Kind::Waypoint, T("COMMON.CRASH")},
                {kv8::Kind::Waypoint, T("wp.setup")},
                {kv8::Kind::Waypoint, T("wp.product")},
                {kv8::Kind::Waypoint, T("wp.download")},
                {kv8::Kind::Waypoint, T("wp.warning")},
                {kv8::Kind::Waypoint, T("wp.downloadsp")},
                {kv8::Kind::State, T("s.setup")},
                {kv8::Kind::State, T("s.productlist")},
                {kv8::Kind::State, T("s.product.content")},
                {kv8::Kind::State, T("s.product.feature")},
                {kv8::Kind::State, T("s.download.error")},
                {kv8::Kind::State, T("s.install.begin")},
                {kv8::Kind::State, T("s.warning")},
                {kv8::Kind::Attribute, T("a.setup")},
                {kv8::Kind::Attribute, T("a.product.name")},
                {kv8::Kind::Attribute, T("a.state.name")},
                {kv8::Kind::Attribute, T("a.download.url")},
                {kv8::Kind::Attribute, T("a.download.errmsg")},
                {kv8::Kind::Attribute, T("a.install.errmsg")},
                {kv8::Kind::Attribute, T("a.product.contentpath")}};
            s.name = "fault";
            int kind = g.Below(10);
            if (kind == 0)
                kv8::RefuseGetState();
            else if (kind == 1)
                kv8::RefuseInitialize();
            else {
                const auto& refusal = g.Of(refusable);
                kv8::RefuseCreate(refusal.first, refusal.second);
            }
            ++faults_;
            return s;
        }
        }
    }

    // The model's view of one step, checked against what TEV did.
    void Check(const Step& step, bool enabledBefore, const std::vector<std::string>& trace) {
        EXPECT_EQ(kv8::Violations(), std::vector<std::string>{}) << where_;
        bool lifecycle =
            step.name == "InitML" || step.name == "GetKV8UserId" || step.name == "fault";
        if (!lifecycle && !enabledBefore) {
            EXPECT_EQ(trace, std::vector<std::string>{})
                << where_ << ": reported while reporting is off";
            if (step.returns == Step::Returns::Bool) {
                EXPECT_EQ(step.result, step.name == "ShutdownML") << where_;
            }
        }
        if (enabledBefore && !lifecycle) {
            if (step.name == "ShutdownML" || step.name == "OnCrash") {
                if (step.name == "OnCrash") Log({logged::kOnCrash});
                ModelShutdown();
            }
            if (step.returns == Step::Returns::Bool && !step.productDetail) {
                EXPECT_TRUE(step.result) << where_;
            }
            if (step.productDetail) {
                bool refused = Contains(trace, R"("id":null)");
                if (!step.result) {
                    EXPECT_TRUE(refused) << where_ << ": false without a refusal";
                }
            }
            bool logged = !step.logFields.empty();
            if (step.logsOnlyWithState) {
                logged = false;
                for (const std::string& line : trace)
                    if (line.rfind(R"({"op":"get_state")", 0) == 0 &&
                        line.find(R"("id":null)") == std::string::npos)
                        logged = true;
                EXPECT_EQ(step.result, logged) << where_;
            }
            if (logged) Log(step.logFields);
        }

        // While reporting is off the system holds nothing; while it is on, only its kept report.
        for (const std::string& held : kv8::CallerOwned()) {
            bool kept = held.find("\"wp.setup\"") != std::string::npos ||
                        held.find("\"wp.product\"") != std::string::npos;
            EXPECT_TRUE(enabled_ && kept && held.rfind("waypoint", 0) == 0)
                << where_ << ": holds " << held;
        }

        std::vector<kv8::Delivery> deliveries = kv8::Deliveries();
        for (; deliveriesChecked_ < deliveries.size(); ++deliveriesChecked_)
            EXPECT_EQ(Malformed(deliveries[deliveriesChecked_]), "") << where_;
        if (step.name == "ShutdownML" || step.name == "OnCrash") CheckProductOrder(deliveries);
    }

    // At shut-down the product records come in order of their names' code units.
    void CheckProductOrder(const std::vector<kv8::Delivery>& deliveries) {
        std::vector<WideString> names;
        for (auto it = deliveries.rbegin(); it != deliveries.rend() && it->call != "initialize";
             ++it) {
            if (it->call == "reached" && Utf8(it->waypoint) == "wp.setup") break;
            if (it->call == "reached" && !it->states.empty() &&
                Utf8(it->states[0].name) == "s.productlist")
                names.insert(names.begin(), it->states[0].attributes[0].value);
        }
        EXPECT_TRUE(std::is_sorted(names.begin(), names.end()) &&
                    std::adjacent_find(names.begin(), names.end()) == names.end())
            << where_ << ": products out of order";
    }

    long faults_ = 0;
};

TEST_F(RandomRuns, EveryStepAgreesWithTheModel) {
    const long seed = EnvNumber("TEV_RANDOM_SEED", 1);
    const long runs = EnvNumber("TEV_RANDOM_RUNS", 200);
    const long steps = EnvNumber("TEV_RANDOM_STEPS", 150);
    long played = 0;
    for (long run = 0; run < runs && !HasFailure(); ++run) {
        std::uint64_t runSeed =
            static_cast<std::uint64_t>(seed) * 1000003u + static_cast<std::uint64_t>(run);
        Generator g(runSeed);
        std::filesystem::path dir = tempDir_ / std::to_string(run);
        std::filesystem::create_directory(dir);
        testing_support::UseTempDirectory(dir);
        TEVUtil::ShutdownML();
        kv8::Reset();
        enabled_ = logOpen_ = logCreated_ = false;
        logLines_.clear();
        deliveriesChecked_ = 0;
        for (long i = 0; i < steps && !HasFailure(); ++i) {
            where_ = "seed " + std::to_string(seed) + " run " + std::to_string(run) + " step " +
                     std::to_string(i);
            bool enabledBefore = enabled_;
            Step step = Play(g);
            where_ += " (" + step.name + ")";
            bool lifecycle = step.name == "InitML" || step.name == "GetKV8UserId";
            Check(step, enabledBefore, lifecycle ? std::vector<std::string>{} : kv8::TakeTrace());
            ++played;
        }
        TEVUtil::ShutdownML();
        if (enabled_) {
            ModelShutdown();
        }
        // A start-up the stand-in refused has closed the log, as ShutdownML closes it, so the file
        // can be read (Windows lets nobody else open it while held); a last start without a log
        // and its shut-down must leave nothing behind either.
        TEVUtil::InitML(false);
        TEVUtil::ShutdownML();
        kv8::TakeTrace();
        EXPECT_EQ(kv8::CallerOwned(), std::vector<std::string>{})
            << where_ << ": left owned at the end";
        EXPECT_EQ(kv8::Violations(), std::vector<std::string>{}) << where_;
        if (logCreated_) {
            EXPECT_EQ(LogMismatch(testing_support::ReadFile(dir / "Setup_TEV.log"), logLines_), "")
                << where_;
        }
        if (HasFailure())
            std::cout << "replay with TEV_RANDOM_SEED=" << seed << " (failed in run " << run
                      << ")\n";
    }
    std::cout << "randomized steps played: " << played << ", faults injected: " << faults_ << '\n';
}
