// The run's life cycle: start, shut-down, crash, user identifier, and the states between them.
#include "run/run.h"
#include "support.h"

using namespace tev;

namespace {

// The configuration path as the trace shows it.
const std::string kConfig =
    tev::JsonQuote(testing_support::ExpectedConfigPath(), tev::LoneSurrogates::Keep);

const std::vector<std::string> kStartTrace = {
    R"({"op":"create","kind":"waypoint","name":"COMMON.STARTUP","id":1})",
    R"({"op":"initialize","waypoint":1,"config":)" + kConfig +
        R"(,"arguments":["",0,0,0,0,"",null,true],"initialized":true})",
    R"({"op":"is_initialized","result":true})",
    R"({"op":"create","kind":"waypoint","name":"wp.setup","id":2})",
    R"({"op":"create","kind":"state","name":"s.setup","id":3})",
    R"({"op":"add","parent":2,"child":3})",
    R"({"op":"create","kind":"attribute","name":"a.setup","value":"0","id":4})",
    R"({"op":"add","parent":3,"child":4})",
};

const std::vector<std::string> kShutdownLog = {"ShutdownML;", "CommitSetupWaypoint;",
                                               "CommitProducts();"};

}  // namespace

using RunLifecycle = TevTest;

TEST_F(RunLifecycle, StartsWithStartupWaypointAndConfigBesideTheHostExecutable) {
    EXPECT_TRUE(TEVUtil::InitML(false));
    EXPECT_EQ(NewTrace(), kStartTrace);
    EXPECT_EQ(Delivered(), std::vector<std::string>{"initialize COMMON.STARTUP"});
    EXPECT_FALSE(LogExists());
}

TEST_F(RunLifecycle, ShutdownHandsOverTheReportThenUninitialisesAndClosesTheLog) {
    ASSERT_TRUE(TEVUtil::InitML(true));
    NewTrace();
    EXPECT_TRUE(TEVUtil::ShutdownML());
    EXPECT_EQ(NewTrace(),
              (std::vector<std::string>{
                  R"({"op":"reached","waypoint":2})",
                  R"({"op":"create","kind":"waypoint","name":"COMMON.SHUTDOWN","id":5})",
                  R"({"op":"uninitialize","waypoint":5})"}));
    std::vector<std::string> expected = {"InitML;", "SETUP;a.setup;0;"};
    expected.insert(expected.end(), kShutdownLog.begin(), kShutdownLog.end());
    EXPECT_EQ(LogFields(), expected);
    ExpectCleanLedger();

    // Closed: another opener can take the log now.
    EXPECT_TRUE(TEVUtil::InitML(true));
    EXPECT_EQ(LogFields().front(), "InitML;");
}

TEST_F(RunLifecycle, EntriesDoNothingBeforeAnyRunAndAfterItsEnd) {
    auto everyReportingEntry = [] {
        EXPECT_FALSE(TEVUtil::AddAttributeToSetup(T("n"), T("v")));
        EXPECT_FALSE(TEVUtil::AddAttributeToSetup(T("n"), 1));
        EXPECT_FALSE(TEVUtil::AddConfiguredProperty(T("p"), T("n"), T("v")));
        EXPECT_FALSE(TEVUtil::AddConfiguredProperty(T("p"), T("n"), 1));
        EXPECT_FALSE(TEVUtil::AddContent(T("p"), T("n"), T("v")));
        EXPECT_FALSE(TEVUtil::AddCustom(T("p"), T("n"), T("v")));
        EXPECT_FALSE(TEVUtil::AddFeature(T("p"), T("n"), 1));
        EXPECT_FALSE(TEVUtil::AddLang(T("p"), T("n"), 1));
        EXPECT_FALSE(TEVUtil::AddNRData(T("p"), T("n"), T("v")));
        EXPECT_FALSE(TEVUtil::AddNRData(T("p"), T("n"), 1));
        TEVUtil::wpSetupPhase(TEVUtil::eInstallation, true);
        TEVUtil::wpDownloadSP();
        TEVUtil::wpWarning(T("w"));
        TEVUtil::DownloadBegin(T("u"));
        TEVUtil::DownloadPause(T("u"));
        TEVUtil::DownloadResume(T("u"));
        TEVUtil::DownloadEnd(T("u"));
        TEVUtil::DownloadCancel(T("u"));
        TEVUtil::DownloadError(T("u"), T("e"), 1);
        TEVUtil::DownloadFailEvent(T("u"), T("e"), 1);
        TEVUtil::InstallBegin(T("p"));
        TEVUtil::InstallEnd(T("p"));
        TEVUtil::InstallCancel(T("p"));
        TEVUtil::InstallError(T("p"), T("e"));
        TEVUtil::OnCrash();
        EXPECT_TRUE(TEVUtil::ShutdownML());
    };
    everyReportingEntry();
    EXPECT_EQ(NewTrace(), std::vector<std::string>{});

    ASSERT_TRUE(TEVUtil::InitML(true));
    ASSERT_TRUE(TEVUtil::ShutdownML());
    NewTrace();
    size_t logSize = LogBytes().size();
    everyReportingEntry();
    EXPECT_EQ(NewTrace(), std::vector<std::string>{});
    EXPECT_EQ(LogBytes().size(), logSize);
    ExpectCleanLedger();
}

TEST_F(RunLifecycle, CrashReportsFirstThenShutsDown) {
    ASSERT_TRUE(TEVUtil::InitML(true));
    TEVUtil::AddContent(T("P"), T("c"), T("path"));
    TEVUtil::OnCrash();
    EXPECT_EQ(Delivered(),
              (std::vector<std::string>{
                  "initialize COMMON.STARTUP", "crash COMMON.CRASH",
                  "reached wp.setup s.setup{a.setup=0}",
                  "reached wp.product s.productlist{a.product.name=p} "
                  "s.product.content{a.product.contentname=c,a.product.contentpath=path}",
                  "uninitialize COMMON.SHUTDOWN"}));
    std::vector<std::string> expected = {"InitML;", "SETUP;a.setup;0;", "OnCrash;"};
    expected.insert(expected.end(), kShutdownLog.begin(), kShutdownLog.end());
    EXPECT_EQ(LogFields(), expected);
    ExpectCleanLedger();

    // Ended: a second crash or shut-down does nothing at all.
    NewTrace();
    TEVUtil::OnCrash();
    EXPECT_TRUE(TEVUtil::ShutdownML());
    EXPECT_EQ(NewTrace(), std::vector<std::string>{});
}

// Once the report is handed over, the run record keeps nothing of it: no pointer into what the
// library now owns, and no product entries holding memory until the next run.
TEST_F(RunLifecycle, AnEndedRunKeepsNothingOfWhatItHandedOver) {
    for (bool crash : {false, true}) {
        ASSERT_TRUE(TEVUtil::InitML(true));
        for (const TEVChar* product : {T("a"), T("b"), T("c")})
            TEVUtil::AddContent(product, T("c"), T("p"));
        ASSERT_EQ(CurrentRun().Report().Products().Map().size(), 3u);
        crash ? TEVUtil::OnCrash() : void(TEVUtil::ShutdownML());
        EXPECT_FALSE(CurrentRun().Reporting());
        EXPECT_TRUE(CurrentRun().Report().HoldsNothing());
        EXPECT_TRUE(CurrentRun().Report().Products().Map().empty());
        EXPECT_EQ(CurrentRun().TheLog().File(), platform::kNoFile);
        ExpectCleanLedger();
    }
}

TEST_F(RunLifecycle, RefusedCrashAndShutdownWaypointsArePassedOnAsNull) {
    ASSERT_TRUE(TEVUtil::InitML(false));
    kv8::RefuseCreate(kv8::Kind::Waypoint, T("COMMON.CRASH"));
    kv8::RefuseCreate(kv8::Kind::Waypoint, T("COMMON.SHUTDOWN"));
    TEVUtil::OnCrash();
    EXPECT_EQ(NewTraceOf({"crash", "uninitialize"}),
              (std::vector<std::string>{R"({"op":"crash","waypoint":null})",
                                        R"({"op":"uninitialize","waypoint":null})"}));
    EXPECT_EQ(DeliveredLast(), "uninitialize null");
    ExpectCleanLedger();
}

TEST_F(RunLifecycle, StartRefusedKeepsReportingOffAndMakesNoFurtherCall) {
    kv8::RefuseCreate(kv8::Kind::Waypoint, T("COMMON.STARTUP"));
    EXPECT_FALSE(TEVUtil::InitML(true));
    EXPECT_EQ(NewTrace(),
              std::vector<std::string>{
                  R"({"op":"create","kind":"waypoint","name":"COMMON.STARTUP","id":null})"});
    EXPECT_EQ(LogFields(), std::vector<std::string>{"InitML;"});
    {
        testing_support::FileHolder other(LogPath());  // released at once, before any InitML
        EXPECT_TRUE(other.Holding());
    }
    EXPECT_FALSE(TEVUtil::AddAttributeToSetup(T("n"), T("v")));
    EXPECT_TRUE(TEVUtil::ShutdownML());
    EXPECT_EQ(NewTrace(), std::vector<std::string>{});
}

TEST_F(RunLifecycle, StartFailedLogsItDiscardsTheStartupWaypointAndClosesTheLog) {
    kv8::RefuseInitialize();
    EXPECT_FALSE(TEVUtil::InitML(true));
    EXPECT_EQ(NewTraceOf({"initialize", "is_initialized", "destroy"}),
              (std::vector<std::string>{
                  R"({"op":"initialize","waypoint":1,"config":)" + kConfig +
                      R"(,"arguments":["",0,0,0,0,"",null,true],"initialized":false})",
                  R"({"op":"is_initialized","result":false})", R"({"op":"destroy","id":1})"}));
    EXPECT_EQ(LogFields(), (std::vector<std::string>{"InitML;", "Fail to initialize KV8;"}));
    EXPECT_EQ(Delivered(), std::vector<std::string>{});
    {
        testing_support::FileHolder other(LogPath());  // released at once, before any InitML
        EXPECT_TRUE(other.Holding());
    }
    EXPECT_TRUE(TEVUtil::ShutdownML());
    TEVUtil::wpDownloadSP();
    EXPECT_EQ(NewTrace(), std::vector<std::string>{});
    ExpectCleanLedger();

    // The next run starts afresh and may create the log again.
    EXPECT_TRUE(TEVUtil::InitML(true));
    EXPECT_EQ(LogFields(), (std::vector<std::string>{"InitML;", "SETUP;a.setup;0;"}));
}

TEST_F(RunLifecycle, UserIdStartsARunWithoutLogOnlyWhenTheLibraryIsDown) {
    const TEVChar* id = TEVUtil::GetKV8UserId();
    ASSERT_NE(id, nullptr);
    std::vector<std::string> trace = NewTrace();
    ASSERT_EQ(trace.size(), 1 + kStartTrace.size() + 1);
    EXPECT_EQ(trace.front(), R"({"op":"is_initialized","result":false})");
    EXPECT_EQ(std::vector<std::string>(trace.begin() + 1, trace.end() - 1), kStartTrace);
    EXPECT_EQ(trace.back(),
              R"({"op":"user_id","result":)" + tev::JsonQuote(id, tev::LoneSurrogates::Keep) + "}");
    EXPECT_FALSE(LogExists());
    EXPECT_TRUE(TEVUtil::AddAttributeToSetup(T("after"), T("id")));  // the run is active

    // While the library is up nothing is started again, and the identifier does not change.
    EXPECT_EQ(WideString(TEVUtil::GetKV8UserId()), WideString(id));
    EXPECT_EQ(NewTraceOf({"initialize", "create"}).size(), 1u);  // the attribute only
}

TEST_F(RunLifecycle, UserIdIsReturnedEvenWhenItsRunCannotStart) {
    kv8::RefuseInitialize();
    const TEVChar* id = TEVUtil::GetKV8UserId();
    ASSERT_NE(id, nullptr);
    EXPECT_GT(WideString(id).size(), 0u);
    EXPECT_FALSE(TEVUtil::AddAttributeToSetup(T("n"), T("v")));
    ExpectCleanLedger();
}

TEST_F(RunLifecycle, UserIdIsAnEmptyTextWhenTheLibraryGivesNone) {
    ASSERT_TRUE(TEVUtil::InitML(false));
    kv8::RefuseUserId();
    const TEVChar* id = TEVUtil::GetKV8UserId();
    ASSERT_NE(id, nullptr);
    EXPECT_EQ(WideString(id), WideString());
}

TEST_F(RunLifecycle, TwoRunsInOneProcessLeaveOnlyTheSecondLogAndReportBoth) {
    ASSERT_TRUE(TEVUtil::InitML(true));
    TEVUtil::AddAttributeToSetup(T("run"), 1);
    TEVUtil::ShutdownML();
    ASSERT_TRUE(TEVUtil::InitML(true));
    TEVUtil::AddAttributeToSetup(T("run"), 2);
    TEVUtil::ShutdownML();
    EXPECT_EQ(LogFields(), (std::vector<std::string>{"InitML;", "SETUP;a.setup;0;", "SETUP;run;2;",
                                                     "ShutdownML;", "CommitSetupWaypoint;",
                                                     "CommitProducts();"}));
    EXPECT_EQ(Delivered(),
              (std::vector<std::string>{
                  "initialize COMMON.STARTUP", "reached wp.setup s.setup{a.setup=0,run=1}",
                  "uninitialize COMMON.SHUTDOWN", "initialize COMMON.STARTUP",
                  "reached wp.setup s.setup{a.setup=0,run=2}", "uninitialize COMMON.SHUTDOWN"}));
    ExpectCleanLedger();
}

// An InitML during an active run starts over: the earlier run's unsent report is discarded, not
// leaked, and its log goes on with the new run's lines after its own (one handle, never created
// anew).
TEST_F(RunLifecycle, RestartDuringAnActiveRunDiscardsTheUnsentReportAndKeepsTheLog) {
    ASSERT_TRUE(TEVUtil::InitML(true));
    TEVUtil::AddContent(T("Old"), T("c"), T("p"));
    TEVUtil::AddAttributeToSetup(T("old"), T("run"));
    platform::FileHandle file = CurrentRun().TheLog().File();
    NewTrace();
    ASSERT_TRUE(TEVUtil::InitML(true));
    EXPECT_EQ(
        NewTraceOf({"destroy", "reached"}),
        (std::vector<std::string>{R"({"op":"destroy","id":2})", R"({"op":"destroy","id":5})"}));
    EXPECT_EQ(CurrentRun().TheLog().File(), file);
    TEVUtil::AddAttributeToSetup(T("new"), T("run"));
    TEVUtil::ShutdownML();
    EXPECT_EQ(LogFields(),
              (std::vector<std::string>{"InitML;", "SETUP;a.setup;0;", "SETUP;old;run;", "InitML;",
                                        "SETUP;a.setup;0;", "SETUP;new;run;", "ShutdownML;",
                                        "CommitSetupWaypoint;", "CommitProducts();"}));
    EXPECT_EQ(Delivered(),
              (std::vector<std::string>{"initialize COMMON.STARTUP", "initialize COMMON.STARTUP",
                                        "reached wp.setup s.setup{a.setup=0,new=run}",
                                        "uninitialize COMMON.SHUTDOWN"}));
    ExpectCleanLedger();
}

// Without a log of its own, the new run closes the earlier run's log as it stands, and the next
// run that logs creates it anew.
TEST_F(RunLifecycle, RestartWithoutLogDuringAnActiveRunClosesItsLogKeepingItsLines) {
    ASSERT_TRUE(TEVUtil::InitML(true));
    TEVUtil::AddAttributeToSetup(T("old"), T("run"));
    ASSERT_TRUE(TEVUtil::InitML(false));
    EXPECT_EQ(CurrentRun().TheLog().File(), platform::kNoFile);
    TEVUtil::AddAttributeToSetup(T("new"), T("run"));
    TEVUtil::ShutdownML();
    const std::vector<std::string> earlier = {"InitML;", "SETUP;a.setup;0;", "SETUP;old;run;"};
    EXPECT_EQ(LogFields(), earlier);
    testing_support::FileHolder other(LogPath());
    EXPECT_TRUE(other.Holding()) << "the log was not released";
    ExpectCleanLedger();
}

TEST_F(RunLifecycle, RestartAfterARefusedStartClosesTheLogLeftOpen) {
    kv8::RefuseCreate(kv8::Kind::Waypoint, T("COMMON.STARTUP"));
    ASSERT_FALSE(TEVUtil::InitML(true));
    ASSERT_TRUE(TEVUtil::InitML(true));
    EXPECT_EQ(LogFields(), (std::vector<std::string>{"InitML;", "SETUP;a.setup;0;"}));
}

// Unloading the library frees the product registry's entries and does nothing else: no shut-down,
// no call into the analytics library, nothing released. (A second copy of the library, loaded and
// unloaded here, with its own run; one that stayed loaded would test nothing.)
TEST_F(RunLifecycle, UnloadingTheLibraryEndsNothing) {
    testing_support::LoadedLibrary library(TEV_LIBRARY_PATH);
    ASSERT_TRUE(library.Loaded());
    auto initML =
        library.Entry<bool (*)(bool)>("_ZN7TEVUtil6InitMLEb", "?InitML@TEVUtil@@SA_N_N@Z");
    auto addContent = library.Entry<bool (*)(const TEVChar*, const TEVChar*, const TEVChar*)>(
        "_ZN7TEVUtil10AddContentEPKDsS1_S1_", "?AddContent@TEVUtil@@SA_NPB_W00@Z");
    ASSERT_TRUE(initML && addContent);
    ASSERT_TRUE(initML(true));
    ASSERT_TRUE(addContent(T("P"), T("c"), T("p")));
    NewTrace();
    library.Unload();
    ASSERT_FALSE(testing_support::LoadedLibrary::IsLoaded(TEV_LIBRARY_PATH))
        << "the library stayed loaded";
    EXPECT_EQ(NewTrace(), std::vector<std::string>{});
    EXPECT_EQ(kv8::CallerOwned(),
              (std::vector<std::string>{"waypoint 2 \"wp.setup\"", "waypoint 5 \"wp.product\""}));
    kv8::Reset();  // what the unloaded library left is the stand-in's to forget
}

// Two runs at once (a second copy of the library in this process, as another installer's would
// be): the second reports without a log, and the first's log goes on untouched.
TEST_F(RunLifecycle, OfTwoRunsAtOnceTheSecondGetsNoLogAndTheFirstsStaysIntact) {
    ASSERT_TRUE(TEVUtil::InitML(true));
    TEVUtil::AddAttributeToSetup(T("run"), T("first"));
    {
        testing_support::LoadedLibrary second(TEV_LIBRARY_PATH);
        ASSERT_TRUE(second.Loaded());
        auto initML =
            second.Entry<bool (*)(bool)>("_ZN7TEVUtil6InitMLEb", "?InitML@TEVUtil@@SA_N_N@Z");
        auto shutdownML =
            second.Entry<bool (*)()>("_ZN7TEVUtil10ShutdownMLEv", "?ShutdownML@TEVUtil@@SA_NXZ");
        ASSERT_TRUE(initML && shutdownML);
        EXPECT_TRUE(initML(true));
        EXPECT_TRUE(shutdownML());
    }
    TEVUtil::AddAttributeToSetup(T("run"), T("still first"));
    TEVUtil::ShutdownML();
    EXPECT_EQ(LogFields(),
              (std::vector<std::string>{"InitML;", "SETUP;a.setup;0;", "SETUP;run;first;",
                                        "SETUP;run;still first;", "ShutdownML;",
                                        "CommitSetupWaypoint;", "CommitProducts();"}));
    kv8::Reset();  // the second run's objects are the stand-in's to forget
}
