// The analytics library stand-in itself: the ledger must catch misuse without crashing, refusals
// must come due as documented, and the outbox must hold what was handed over.
#include <nlohmann/json.hpp>

#include <fstream>

#include "support.h"

namespace {

// Hands over a waypoint holding one state with one attribute.
void HandOver(const WideString& name, const WideString& value) {
    CMLWaypoint* waypoint = CMLWaypoint::Create(name.c_str());
    CMLState* state = CMLState::Create(T("s"));
    state->Add(CMLAttribute::Create(T("a"), value.c_str()));
    waypoint->Add(state);
    CMLFacade::WaypointReached(waypoint);
}

}  // namespace

class StandIn : public ::testing::Test {
protected:
    void SetUp() override { kv8::Reset(); }
    void TearDown() override {
        kv8::SetRecording(true);
        kv8::Reset();
        testing_support::UnsetEnv("KV8_OUTBOX");
    }
};

TEST_F(StandIn, RecordsMisuseAsViolationsAndKeepsGoing) {
    CMLWaypoint* waypoint = CMLWaypoint::Create(T("w"));
    CMLState* state = CMLState::Create(T("s"));
    CMLAttribute* attribute = CMLAttribute::Create(T("a"), T("v"));
    state->Add(attribute);
    state->Add(attribute);  // added twice
    waypoint->Add(state);
    state->Destroy();        // belongs to the waypoint
    waypoint->Add(nullptr);  // null child
    CMLFacade::WaypointReached(waypoint);
    CMLFacade::WaypointReached(waypoint);  // handed over twice
    waypoint->Destroy();                   // destroying what was handed over
    CMLFacade::WaypointReached(nullptr);
    int notAnObject = 0;
    CMLFacade::WaypointReached(reinterpret_cast<CMLWaypoint*>(&notAnObject));
    CMLWaypoint* lost = CMLWaypoint::Create(T("lost"));
    lost->Destroy();
    lost->Destroy();  // destroyed twice
    CMLAttribute::Create(T("a"), nullptr)->Destroy();
    CMLState::Create(nullptr)->Destroy();
    EXPECT_EQ(
        kv8::Violations(),
        (std::vector<std::string>{
            "add: attribute 3 \"a\" is not the caller's",
            "destroy: state 2 \"s\" is not the caller's", "add: null child to waypoint 1 \"w\"",
            "reached: waypoint 1 \"w\" is not the caller's",
            "destroy: waypoint 1 \"w\" is not the caller's", "reached: null waypoint",
            "reached: foreign waypoint", "destroy: waypoint 4 \"lost\" is not the caller's",
            "create attribute: null value", "create state: null name"}));
    EXPECT_EQ(kv8::Deliveries().size(), 1u);
    EXPECT_EQ(kv8::CallerOwned(), std::vector<std::string>{});
}

TEST_F(StandIn, ListsWhatTheCallerStillOwns) {
    CMLWaypoint* waypoint = CMLWaypoint::Create(T("w"));
    CMLState* state = CMLState::Create(T("s"));
    CMLAttribute::Create(T("a"), T("v"));
    waypoint->Add(state);
    EXPECT_EQ(kv8::CallerOwned(),
              (std::vector<std::string>{"waypoint 1 \"w\"", "attribute 3 \"a\""}));
}

TEST_F(StandIn, RefusalsAddUpLastForeverWithStarAndAreDroppedByReset) {
    kv8::RefuseCreate(kv8::Kind::State, T("s"));
    kv8::RefuseCreate(kv8::Kind::State, T("s"));
    EXPECT_EQ(CMLState::Create(T("other")) != nullptr, true);
    EXPECT_EQ(CMLState::Create(T("s")), nullptr);
    EXPECT_EQ(CMLState::Create(T("s")), nullptr);
    EXPECT_NE(CMLState::Create(T("s")), nullptr);
    // A refusal is per kind: a waypoint of that name is still made.
    kv8::RefuseCreate(kv8::Kind::Attribute, T("s"), kv8::kAlways);
    EXPECT_NE(CMLWaypoint::Create(T("s")), nullptr);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(CMLAttribute::Create(T("s"), T("v")), nullptr);
    kv8::Reset();
    EXPECT_NE(CMLAttribute::Create(T("s"), T("v")), nullptr);
}

TEST_F(StandIn, GetStateGivesTheFirstStateUnlessRefused) {
    CMLWaypoint* waypoint = CMLWaypoint::Create(T("w"));
    EXPECT_EQ(waypoint->GetState(), nullptr);
    CMLState* first = CMLState::Create(T("first"));
    waypoint->Add(first);
    waypoint->Add(CMLState::Create(T("second")));
    EXPECT_EQ(waypoint->GetState(), first);
    kv8::RefuseGetState();
    EXPECT_EQ(waypoint->GetState(), nullptr);
    EXPECT_EQ(waypoint->GetState(), first);
    waypoint->Destroy();
}

TEST_F(StandIn, InitializeRefusedTakesNothingAndWritesNothing) {
    std::string outbox = (testing_support::MakeTempDirectory("kv8") / "outbox.jsonl").string();
    testing_support::SetEnv("KV8_OUTBOX", outbox);
    kv8::RefuseInitialize();
    CMLWaypoint* startup = CMLWaypoint::Create(T("COMMON.STARTUP"));
    CMLFacade::Initialize(startup, T("c"), T(""), 0, 0, 0, 0, T(""), nullptr, true);
    EXPECT_FALSE(CMLFacade::IsKV8Initialized());
    EXPECT_EQ(kv8::CallerOwned(), std::vector<std::string>{"waypoint 1 \"COMMON.STARTUP\""});
    EXPECT_FALSE(std::ifstream(outbox).good());
    startup->Destroy();
}

TEST_F(StandIn, OutboxHoldsOneJsonLinePerHandOverAsItHappens) {
    std::string outbox = (testing_support::MakeTempDirectory("kv8") / "outbox.jsonl").string();
    testing_support::SetEnv("KV8_OUTBOX", outbox);
    CMLFacade::Initialize(CMLWaypoint::Create(T("COMMON.STARTUP")), T("c"), T(""), 0, 0, 0, 0,
                          T(""), nullptr, true);
    CMLWaypoint* waypoint = CMLWaypoint::Create(T("wp.setup"));
    CMLState* state = CMLState::Create(T("s.setup"));
    state->Add(CMLAttribute::Create(T("a.setup"), T("0")));
    state->Add(CMLAttribute::Create(T("odd \"\\\n"), T("\xd800\U0001F600\xdc00")));
    waypoint->Add(state);
    CMLFacade::WaypointReached(waypoint);
    CMLFacade::OnCrash(nullptr, 0, 0, 0);
    CMLFacade::Uninitialize(CMLWaypoint::Create(T("COMMON.SHUTDOWN")), 0);
    std::ifstream file(outbox);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) lines.push_back(line);
    EXPECT_EQ(
        lines,
        (std::vector<std::string>{
            R"({"call":"initialize","waypoint":"COMMON.STARTUP","states":[]})",
            R"({"call":"reached","waypoint":"wp.setup","states":[{"state":"s.setup","attributes":[)"
            R"({"name":"a.setup","value":"0"},{"name":"odd \"\\\n","value":"\ud800)"
            "\xF0\x9F\x98\x80"
            R"(\udc00"}]}]})",
            R"({"call":"crash","waypoint":null,"states":[]})",
            R"({"call":"uninitialize","waypoint":"COMMON.SHUTDOWN","states":[]})"}));
    EXPECT_FALSE(CMLFacade::IsKV8Initialized());
}

// A writer that died mid-line (or ran out of room) left a cut last line: the next writer cuts it
// off before it writes. A last line that is not one of ours is kept, and ours starts a new line.
TEST_F(StandIn, OutboxCutsOffACutLineAndKeepsWhatIsNotItsOwn) {
    std::filesystem::path outbox = testing_support::MakeTempDirectory("kv8") / "outbox.jsonl";
    testing_support::SetEnv("KV8_OUTBOX", outbox.string());
    const std::string crash = R"({"call":"crash","waypoint":null,"states":[]})"
                              "\n";
    for (const char* cut : {R"({"call":"reached","waypoint":"wp.se)", "{"}) {
        std::ofstream(outbox, std::ios::binary | std::ios::trunc) << crash << cut;
        CMLFacade::OnCrash(nullptr, 0, 0, 0);
        EXPECT_EQ(testing_support::ReadFile(outbox), crash + crash) << cut;
    }
    for (const char* foreign : {"notes", "a\nb"}) {
        std::ofstream(outbox, std::ios::binary | std::ios::trunc) << foreign;
        CMLFacade::OnCrash(nullptr, 0, 0, 0);
        EXPECT_EQ(testing_support::ReadFile(outbox), foreign + ("\n" + crash)) << foreign;
    }
}

// A line that does not fit (the disk is full) is taken back whole, and later lines still go out.
TEST_F(StandIn, OutboxTakesBackALineThatDidNotFit) {
    std::filesystem::path outbox = testing_support::MakeTempDirectory("kv8") / "outbox.jsonl";
    testing_support::SetEnv("KV8_OUTBOX", outbox.string());
    CMLFacade::OnCrash(nullptr, 0, 0, 0);
    const std::string crash = testing_support::ReadFile(outbox);
    bool ran =
        testing_support::RunWithFileSizeLimit(static_cast<std::int64_t>(crash.size()) + 1000, [] {
            HandOver(T("wp.big"), WideString(20000, T('x')));
            HandOver(T("wp.small"), T("v"));
        });
    if (!ran) GTEST_SKIP() << "this platform gives a test no way to limit a file's size";
    EXPECT_EQ(testing_support::ReadFile(outbox),
              crash + R"({"call":"reached","waypoint":"wp.small","states":[{"state":"s",)"
                      R"("attributes":[{"name":"a","value":"v"}]}]})"
                      "\n");
}

// Writers killed at any moment, 150 times, then a writer that ends: whole JSON lines only, and
// none of those the killed writers had finished is lost.
TEST_F(StandIn, OutboxIsWholeJsonLinesWhenWritersAreKilled) {
    std::filesystem::path outbox = testing_support::MakeTempDirectory("kv8") / "outbox.jsonl";
    testing_support::SetEnv("KV8_OUTBOX", outbox.string());
    // Lines of 20 KB span pages, between which the kernel may stop a write for a kill.
    const WideString value(20000, T('x'));
    int finished = 0;
    for (int kill = 0; kill < 150; ++kill) {
        int steps = 1 + kill % 7;
        bool killed =
            testing_support::KillMidWay(steps, [&](const std::function<void()>& progress) {
                kv8::SetRecording(false);
                for (;;) {
                    HandOver(T("wp.killed"), value);
                    progress();
                }
            });
        if (!killed)
            GTEST_SKIP() << "this platform gives a test no way to kill a process mid-write";
        finished += steps;
    }
    HandOver(T("wp.last"), T("v"));
    std::vector<std::string> lines = testing_support::Lines(testing_support::ReadFile(outbox));
    EXPECT_GE(lines.size(), static_cast<size_t>(finished + 1));
    for (size_t i = 0; i < lines.size(); ++i) {
        nlohmann::json object = nlohmann::json::parse(lines[i], nullptr, false);
        ASSERT_FALSE(object.is_discarded()) << "line " << i + 1 << " of " << lines.size() << ": "
                                            << lines[i].substr(0, 60) << "...";
        EXPECT_EQ(object["waypoint"], i + 1 == lines.size() ? "wp.last" : "wp.killed");
    }
}

TEST_F(StandIn, WithoutRecordingObjectsAreFreedAsSoonAsTheyAreDone) {
    kv8::SetRecording(false);
    CMLWaypoint* waypoint = CMLWaypoint::Create(T("w"));
    CMLState* state = CMLState::Create(T("s"));
    state->Add(CMLAttribute::Create(T("a"), T("v")));
    waypoint->Add(state);
    EXPECT_EQ(waypoint->GetState(), state);
    CMLFacade::WaypointReached(waypoint);
    CMLWaypoint::Create(T("discarded"))->Destroy();
    EXPECT_EQ(kv8::Trace(), std::vector<std::string>{});
    EXPECT_EQ(kv8::Deliveries().size(), 0u);
    // LeakSanitizer, in the sanitizer build, checks that nothing above was left allocated.
}

TEST_F(StandIn, UserIdIsFixedForTheProcess) {
    const TEVChar* first = CMLFacade::GetKV8UserId();
    kv8::Reset();
    EXPECT_EQ(WideString(CMLFacade::GetKV8UserId()), WideString(first));
    EXPECT_EQ(WideString(first).size(), 36u);
}
