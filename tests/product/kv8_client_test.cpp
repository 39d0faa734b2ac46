// The analytics library's objects as TEV adds and hands them over
// (src/kv8_client/event_building.*).
#include "kv8_client/event_building.h"
#include "support.h"

using namespace tev;

using AnalyticsObjects = TevTest;

TEST_F(AnalyticsObjects, DoNothingWithoutATarget) {
    CMLState* state = CMLState::Create(T("s"));
    CMLWaypoint* waypoint = CMLWaypoint::Create(T("w"));
    ASSERT_TRUE(TEVUtil::InitML(false));
    std::string next = std::to_string(testing_support::NextId(NewTrace()));
    EXPECT_EQ(AttachAttribute(nullptr, T("n"), T("v")), nullptr);
    ReachWaypoint(nullptr);
    EXPECT_EQ(NewTrace(), std::vector<std::string>{});
    kv8::RefuseCreate(kv8::Kind::Attribute, T("n"));
    EXPECT_EQ(AttachAttribute(state, T("n"), T("-7")), nullptr);
    EXPECT_NE(AttachAttribute(state, T("n"), T("-7")), nullptr);
    EXPECT_EQ(NewTraceOf({"create", "add"}),
              (std::vector<std::string>{
                  R"({"op":"create","kind":"attribute","name":"n","value":"-7","id":null})",
                  R"({"op":"create","kind":"attribute","name":"n","value":"-7","id":)" + next + "}",
                  R"({"op":"add","parent":1,"child":)" + next + "}"}));
    state->Destroy();
    waypoint->Destroy();
}

// A waypoint given to ReachWaypoint is never the caller's again: the library owns it.
TEST_F(AnalyticsObjects, ReachingHandsTheWaypointOver) {
    ASSERT_TRUE(TEVUtil::InitML(false));
    std::string next = std::to_string(testing_support::NextId(NewTrace()));
    ReachWaypoint(CMLWaypoint::Create(T("on")));
    EXPECT_EQ(NewTraceOf({"destroy", "reached"}),
              (std::vector<std::string>{R"({"op":"reached","waypoint":)" + next + "}"}));
    EXPECT_EQ(DeliveredLast(), "reached on");
    TEVUtil::ShutdownML();
    ExpectCleanLedger();
}
