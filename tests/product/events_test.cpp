// Events on their way to the analytics library: the objects they make and what a refusal leaves.
#include <functional>

#include "support.h"

class Events : public TevTest {
protected:
    void SetUp() override {
        TevTest::SetUp();
        ASSERT_TRUE(TEVUtil::InitML(true));
        NewTrace();
    }

    // Mid-run, the system holds the setup waypoint and nothing else.
    void ExpectOnlyTheSetupWaypointHeld() const {
        EXPECT_EQ(kv8::Violations(), std::vector<std::string>{});
        EXPECT_EQ(kv8::CallerOwned(), std::vector<std::string>{"waypoint 2 \"wp.setup\""});
    }
};

// What each event reaches and logs is in the entries' rows; here, what they make on the way.
TEST_F(Events, ANumberThatIsNoPhaseMakesNoObject) {
    for (int notAPhase : {3, -1, 1 << 30})
        TEVUtil::wpSetupPhase(static_cast<TEVUtil::eSetupPhase>(notAPhase), true);
    EXPECT_EQ(NewTrace(), std::vector<std::string>{});
    TEVUtil::wpSetupPhase(TEVUtil::eInstallation, false);
    EXPECT_EQ(NewTrace().size(), 2u);  // a create and a reach
}

// For every event, a refusal at each position: the log line is already written, the waypoint is
// discarded with exactly one Destroy, the attributes after the refused one are never attempted,
// and nothing is reached.
TEST_F(Events, TheFirstRefusedObjectDiscardsTheWholeWaypoint) {
    struct Event {
        const char* name;
        std::function<void()> call;
        const TEVChar* waypoint;
        const TEVChar* state;
        std::vector<const TEVChar*> attributes;
        std::string logLine;
    };
    const std::vector<Event> events = {
        {"wpWarning",
         [] { TEVUtil::wpWarning(T("m")); },
         T("wp.warning"),
         T("s.warning"),
         {T("a.warning.message")},
         "wpWarning;m;"},
        {"DownloadBegin",
         [] { TEVUtil::DownloadBegin(T("u")); },
         T("wp.download"),
         T("s.download.begin"),
         {T("a.download.url"), T("a.state.name")},
         "DownloadBegin;u;"},
        {"DownloadCancel",
         [] { TEVUtil::DownloadCancel(T("u")); },
         T("wp.download"),
         T("s.download.cancel"),
         {T("a.state.name"), T("a.download.url")},
         "DownloadCancel;u;"},
        {"DownloadError",
         [] { TEVUtil::DownloadError(T("u"), T("e"), 1); },
         T("wp.download"),
         T("s.download.error"),
         {T("a.state.name"), T("a.download.url"), T("a.download.errmsg"), T("a.download.errcode")},
         "DownloadError;u;e;"},
        {"DownloadFailEvent",
         [] { TEVUtil::DownloadFailEvent(T("u"), T("e"), 1); },
         T("wp.download"),
         T("s.download.error"),
         {T("a.state.name"), T("a.download.url"), T("a.download.errmsg"), T("a.download.eventid")},
         "DownloadError;u;e;"},
        {"InstallError",
         [] { TEVUtil::InstallError(T("p"), T("e")); },
         T("wp.product"),
         T("s.install.error"),
         {T("a.state.name"), T("a.product.name"), T("a.install.errmsg")},
         "InstallError;p;"},
    };
    for (const Event& event : events) {
        // Position 0 refuses the waypoint, 1 the state, 2 and on each attribute in turn.
        for (size_t position = 0; position < 2 + event.attributes.size(); ++position) {
            SCOPED_TRACE(std::string(event.name) + " refused at " + std::to_string(position));
            if (position == 0)
                kv8::RefuseCreate(kv8::Kind::Waypoint, event.waypoint);
            else if (position == 1)
                kv8::RefuseCreate(kv8::Kind::State, event.state);
            else
                kv8::RefuseCreate(kv8::Kind::Attribute, event.attributes[position - 2]);
            size_t logLines = LogFields().size();
            event.call();
            std::vector<std::string> trace = NewTrace();
            EXPECT_EQ(LogFields().size(), logLines + 1);
            EXPECT_EQ(LogFields().back(), event.logLine);
            size_t destroys = 0, attributes = 0;
            for (const std::string& line : trace) {
                destroys += line.find(R"("op":"destroy")") != std::string::npos;
                attributes += line.find(R"("kind":"attribute")") != std::string::npos;
                EXPECT_EQ(line.find(R"("op":"reached")"), std::string::npos);
            }
            EXPECT_EQ(destroys, position == 0 ? 0u : 1u);
            EXPECT_EQ(attributes, position < 2 ? 0u : position - 1);
            if (position > 0) {
                EXPECT_NE(trace.back().find(R"("op":"destroy")"), std::string::npos);
            }
            ExpectOnlyTheSetupWaypointHeld();
        }
    }
    EXPECT_EQ(Delivered().size(), 1u);  // the start-up waypoint only
}
