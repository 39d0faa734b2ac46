// Events reported at once: phases, the download milestone, warnings, downloads and installs.
#include <functional>

#include "support.h"

class Events : public TevTest {
protected:
    void SetUp() override {
        TevTest::SetUp();
        ASSERT_TRUE(TEVUtil::InitML(true));
        NewTrace();
        logLines_ = LogFields().size();
    }

    // The log lines written since the run started, without timestamps.
    std::vector<std::string> NewLogFields() const {
        std::vector<std::string> fields = LogFields();
        return std::vector<std::string>(fields.begin() + static_cast<long>(logLines_),
                                        fields.end());
    }

    // Mid-run, the system holds the setup waypoint and nothing else.
    void ExpectOnlyTheSetupWaypointHeld() const {
        EXPECT_EQ(kv8::Violations(), std::vector<std::string>{});
        EXPECT_EQ(kv8::CallerOwned(), std::vector<std::string>{"waypoint 2 \"wp.setup\""});
    }

    // What was handed over since the start-up waypoint.
    std::vector<std::string> Reported() const {
        std::vector<std::string> delivered = Delivered();
        return std::vector<std::string>(delivered.begin() + 1, delivered.end());
    }

    size_t logLines_ = 0;
};

TEST_F(Events, PhasesReachOneBareWaypointEachAndLogNothing) {
    TEVUtil::wpSetupPhase(TEVUtil::eInitialization, true);
    TEVUtil::wpSetupPhase(TEVUtil::eInitialization, false);
    TEVUtil::wpSetupPhase(TEVUtil::eConfiguration, true);
    TEVUtil::wpSetupPhase(TEVUtil::eConfiguration, false);
    TEVUtil::wpSetupPhase(TEVUtil::eInstallation, true);
    TEVUtil::wpSetupPhase(TEVUtil::eInstallation, false);
    for (int notAPhase : {3, -1, 1 << 30})
        TEVUtil::wpSetupPhase(static_cast<TEVUtil::eSetupPhase>(notAPhase), true);
    EXPECT_EQ(Delivered(),
              (std::vector<std::string>{
                  "initialize COMMON.STARTUP", "reached wp.setup.initialization.begin",
                  "reached wp.setup.initialization.end", "reached wp.setup.configuration.begin",
                  "reached wp.setup.configuration.end", "reached wp.setup.installation.begin",
                  "reached wp.setup.installation.end"}));
    EXPECT_EQ(NewTrace().size(), 12u);  // a create and a reach each, nothing for the others
    EXPECT_EQ(NewLogFields(), std::vector<std::string>{});
}

TEST_F(Events, MilestoneAndWarningsLogTheirTokenFirst) {
    TEVUtil::wpDownloadSP();
    TEVUtil::wpDownloadSP();
    TEVUtil::wpWarning(T("disk; low\r\nreally"));
    TEVUtil::wpWarning(T(""));
    TEVUtil::wpWarning(nullptr);
    EXPECT_EQ(Reported(), (std::vector<std::string>{
                              "reached wp.downloadsp", "reached wp.downloadsp",
                              "reached wp.warning s.warning{a.warning.message=disk; low\r\nreally}",
                              "reached wp.warning s.warning{a.warning.message=}",
                              "reached wp.warning s.warning{a.warning.message=}"}));
    // The text's own separators and line break stand in the log unchanged.
    std::vector<std::string> lines = LogLines();
    EXPECT_EQ(testing_support::Fields(lines.at(2)), "wpDownloadSP;");
    EXPECT_EQ(testing_support::Fields(lines.at(4)), "wpWarning;disk; low");
    EXPECT_EQ(lines.at(5), "really;");
    EXPECT_EQ(testing_support::Fields(lines.at(6)), "wpWarning;;");
}

TEST_F(Events, DownloadsReportTheirStateAndUrlInTheDocumentedOrder) {
    TEVUtil::DownloadBegin(T("http://x/a.cab"));
    TEVUtil::DownloadPause(T("http://x/a.cab"));
    TEVUtil::DownloadResume(T("http://x/a.cab"));
    TEVUtil::DownloadEnd(T(""));
    TEVUtil::DownloadCancel(nullptr);
    TEVUtil::DownloadError(T("u"), T("timeout"), 5);
    TEVUtil::DownloadFailEvent(T("u"), T("refused"), 7);
    EXPECT_EQ(
        Reported(),
        (std::vector<std::string>{
            "reached wp.download "
            "s.download.begin{a.download.url=http://x/a.cab,a.state.name=s.download.begin}",
            "reached wp.download "
            "s.download.pause{a.state.name=s.download.pause,a.download.url=http://x/a.cab}",
            "reached wp.download "
            "s.download.resume{a.state.name=s.download.resume,a.download.url=http://x/a.cab}",
            "reached wp.download s.download.end{a.state.name=s.download.end,a.download.url=}",
            "reached wp.download s.download.cancel{a.state.name=s.download.cancel,a.download.url=}",
            "reached wp.download s.download.error{a.state.name=s.download.error,a.download.url=u,"
            "a.download.errmsg=timeout,a.download.errcode=5}",
            "reached wp.download s.download.error{a.state.name=s.download.error,a.download.url=u,"
            "a.download.errmsg=refused,a.download.eventid=7}"}));
    // Both failures log "DownloadError", and neither logs its number.
    EXPECT_EQ(NewLogFields(),
              (std::vector<std::string>{
                  "DownloadBegin;http://x/a.cab;", "DownloadPause;http://x/a.cab;",
                  "DownloadResume;http://x/a.cab;", "DownloadEnd;;", "DownloadCancel;;",
                  "DownloadError;u;timeout;", "DownloadError;u;refused;"}));
    ExpectOnlyTheSetupWaypointHeld();
}

TEST_F(Events, DownloadNumbersAreTheSignedReadingOfTheirBits) {
    for (TEVUInt32 number : {0u, 2147483647u, 2147483648u, 4294967295u}) {
        TEVUtil::DownloadError(T("u"), T("e"), number);
        TEVUtil::DownloadFailEvent(T("u"), T("e"), number);
    }
    std::vector<std::string> numbers;
    for (const std::string& line : Delivered())
        if (line.find("s.download.error") != std::string::npos)
            numbers.push_back(line.substr(line.rfind(',') + 1));
    EXPECT_EQ(numbers, (std::vector<std::string>{
                           "a.download.errcode=0}", "a.download.eventid=0}",
                           "a.download.errcode=2147483647}", "a.download.eventid=2147483647}",
                           "a.download.errcode=-2147483648}", "a.download.eventid=-2147483648}",
                           "a.download.errcode=-1}", "a.download.eventid=-1}"}));
}

TEST_F(Events, InstallsReportTheNameAsGivenAndNeverLogTheErrorText) {
    TEVUtil::InstallBegin(T("ProductA"));
    TEVUtil::InstallEnd(T("ProductA"));
    TEVUtil::InstallEnd(T("ProductA"));
    TEVUtil::InstallCancel(T("B"));
    TEVUtil::InstallError(T("B"), T("1603"));
    EXPECT_EQ(
        Reported(),
        (std::vector<std::string>{
            "reached wp.product "
            "s.install.begin{a.state.name=s.install.begin,a.product.name=ProductA}",
            "reached wp.product s.install.end{a.state.name=s.install.end,a.product.name=ProductA}",
            "reached wp.product s.install.end{a.state.name=s.install.end,a.product.name=ProductA}",
            "reached wp.product s.install.cancel{a.state.name=s.install.cancel,a.product.name=B}",
            "reached wp.product s.install.error{a.state.name=s.install.error,a.product.name=B,"
            "a.install.errmsg=1603}"}));
    EXPECT_EQ(NewLogFields(), (std::vector<std::string>{
                                  "InstallBegin;ProductA;", "InstallEnd;ProductA;",
                                  "InstallEnd;ProductA;", "InstallCancel;B;", "InstallError;B;"}));
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
