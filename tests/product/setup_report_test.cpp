// The setup waypoint and the product registry: what is kept during the run and sent at its end.
#include "run/run.h"
#include "support.h"

using namespace tev;

using SetupWaypoint = TevTest;

TEST_F(SetupWaypoint, ARefusedAttributeIsMissingButStillLoggedAndAccepted) {
    ASSERT_TRUE(TEVUtil::InitML(true));
    kv8::RefuseCreate(kv8::Kind::Attribute, T("lost"));
    EXPECT_TRUE(TEVUtil::AddAttributeToSetup(T("lost"), T("1")));
    EXPECT_TRUE(TEVUtil::AddAttributeToSetup(T("kept"), T("2")));
    TEVUtil::ShutdownML();
    EXPECT_EQ(Delivered().at(1), "reached wp.setup s.setup{a.setup=0,kept=2}");
    EXPECT_EQ(LogFields().at(2), "SETUP;lost;1;");
    ExpectCleanLedger();
}

TEST_F(SetupWaypoint, WithoutWaypointOrStateAttributesAreOnlyLoggedAndNothingIsReached) {
    for (kv8::Kind refused : {kv8::Kind::Waypoint, kv8::Kind::State}) {
        kv8::Reset();
        kv8::RefuseCreate(refused, refused == kv8::Kind::Waypoint ? T("wp.setup") : T("s.setup"));
        ASSERT_TRUE(TEVUtil::InitML(true));
        EXPECT_TRUE(TEVUtil::AddAttributeToSetup(T("k"), T("v")));
        EXPECT_TRUE(TEVUtil::ShutdownML());
        EXPECT_EQ(LogFields(),
                  (std::vector<std::string>{"InitML;", "SETUP;k;v;", "ShutdownML;",
                                            "CommitSetupWaypoint;", "CommitProducts();"}));
        EXPECT_EQ(Delivered(), (std::vector<std::string>{"initialize COMMON.STARTUP",
                                                         "uninitialize COMMON.SHUTDOWN"}));
        EXPECT_EQ(NewTraceOf({"destroy"}).size(), refused == kv8::Kind::State ? 1u : 0u);
        ExpectCleanLedger();
    }
}

using ProductRegistryTest = TevTest;

TEST_F(ProductRegistryTest, FindsAProductWhateverTheCaseOfItsAsciiLetters) {
    ASSERT_TRUE(TEVUtil::InitML(false));
    int firstId = testing_support::NextId(NewTrace());
    CMLWaypoint* first = CurrentRun().Report().Products().FindOrAdd(T("ProductA"));
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(CurrentRun().Report().Products().FindOrAdd(T("PRODUCTA")), first);
    EXPECT_EQ(CurrentRun().Report().Products().FindOrAdd(T("producta")), first);
    EXPECT_NE(CurrentRun().Report().Products().FindOrAdd(T("\u00c4")),
              CurrentRun().Report().Products().FindOrAdd(T("\u00e4")));
    EXPECT_EQ(CurrentRun().Report().Products().Map().size(), 3u);
    // The name attribute is the lower-cased name.
    EXPECT_EQ(
        testing_support::RelativeIds(NewTraceOf({"create"}), firstId).at(2),
        R"({"op":"create","kind":"attribute","name":"a.product.name","value":"producta","id":#2})");
}

TEST_F(ProductRegistryTest, LowerCasesAsciiLettersOnly) {
    WideString all;
    for (char32_t unit = 0; unit <= 0xFFFF; ++unit) all += static_cast<TEVChar>(unit);
    LowerCaseName lowered(all);
    ASSERT_EQ(lowered.view().size(), all.size());
    for (char32_t unit = 0; unit <= 0xFFFF; ++unit) {
        char32_t expected = unit >= 'A' && unit <= 'Z' ? unit + 32 : unit;
        ASSERT_EQ(static_cast<char32_t>(lowered.view()[unit]), expected) << static_cast<int>(unit);
    }
    EXPECT_EQ(WideString(LowerCaseName(T("MiXeD-9")).c_str()), T("mixed-9"));
    EXPECT_EQ(WideString(LowerCaseName(T("")).c_str()), T(""));
}

// A lower-cased name of up to 127 code units is kept on the stack with its terminator; a longer
// one on the heap. Names on both sides of that edge, directly and through the entries.
TEST_F(ProductRegistryTest, NamesAtTheEdgeOfTheStackBufferAreKeptWhole) {
    for (std::size_t length : {127u, 128u, 129u}) {
        SCOPED_TRACE(length);
        WideString given(length, T('S')), lower(length, T('s'));
        given.back() = lower.back() = T('9');
        LowerCaseName lowered(given);
        EXPECT_EQ(WideString(lowered.c_str()), lower);
        EXPECT_EQ(lowered.view(), lower);

        kv8::Reset();
        ASSERT_TRUE(TEVUtil::InitML(false));
        EXPECT_TRUE(TEVUtil::AddContent(given.c_str(), T("c"), T("p")));
        EXPECT_TRUE(TEVUtil::AddNRData(lower.c_str(), T("n"), T("v")));
        TEVUtil::ShutdownML();
        std::string name = testing_support::Utf8(lower);
        EXPECT_EQ(Delivered().at(2), "reached wp.product s.productlist{a.product.name=" + name +
                                         ",n=v} s.product.content{a.product.contentname=c,"
                                         "a.product.contentpath=p}");
        ExpectCleanLedger();
    }
}

// The order is found four code units at a time: names that share a prefix and differ inside a
// block of four, at each place in it, by units whose bytes order otherwise than their values.
TEST(CodeUnitOrderTest, AgreesWithTheOrderOfCodeUnitsInsideEveryBlock) {
    const WideString base = T("studio.core-x64");
    std::vector<WideString> names = {base, base.substr(0, 4), base.substr(0, 8), base.substr(0, 12),
                                     WideString()};
    for (std::size_t at = 0; at < base.size(); ++at)
        for (TEVChar unit : {TEVChar(0x0001), TEVChar(0x0102), TEVChar(0x0201), TEVChar(0xD83D),
                             TEVChar(0xFF41)}) {
            WideString name = base;
            name[at] = unit;
            names.push_back(name);
            if (at + 1 < base.size()) {  // a second difference later in the block must not decide
                name[at + 1] = TEVChar(0xFFFF - name[at + 1]);
                names.push_back(name);
            }
        }
    CodeUnitOrder order;
    for (const WideString& a : names)
        for (const WideString& b : names)
            ASSERT_EQ(order(a, b), a < b)
                << testing_support::Utf8(a) << " / " << testing_support::Utf8(b);
}

TEST_F(ProductRegistryTest, CommitsInOrderOfUnsignedCodeUnitsAndLogsOnce) {
    ASSERT_TRUE(TEVUtil::InitML(true));
    for (const TEVChar* name : {T("b"), T("A"), T("a2"), T("\uff41"), T("\U0001F600"), T("")})
        ASSERT_NE(CurrentRun().Report().Products().FindOrAdd(LowerCaseName(name).c_str()), nullptr);
    TEVUtil::ShutdownML();
    std::vector<std::string> names;
    for (const std::string& line : Delivered())
        if (line.find("wp.product") != std::string::npos)
            names.push_back(line.substr(line.find('{')));
    // U+1F600 is stored as surrogates (0xD83D...), which come before U+FF41.
    EXPECT_EQ(names,
              (std::vector<std::string>{"{a.product.name=}", "{a.product.name=a}",
                                        "{a.product.name=a2}", "{a.product.name=b}",
                                        "{a.product.name=\U0001F600}", "{a.product.name=\uff41}"}));
    EXPECT_EQ(LogFields().back(), "CommitProducts();");
    ExpectCleanLedger();
}

TEST_F(ProductRegistryTest, CommitWithNoProductsStillLogsAndWithReportingOffDoesNothing) {
    EXPECT_TRUE(TEVUtil::ShutdownML());
    EXPECT_EQ(NewTrace(), std::vector<std::string>{});
    ASSERT_TRUE(TEVUtil::InitML(true));
    TEVUtil::ShutdownML();
    EXPECT_EQ(LogFields().back(), "CommitProducts();");
    for (const std::string& delivered : Delivered())
        EXPECT_EQ(delivered.find("wp.product"), std::string::npos) << delivered;
}

// Whatever the library refuses while a product waypoint is made is discarded, innermost first,
// and the next mention tries again.
TEST_F(ProductRegistryTest, ARefusedPartDiscardsWhatWasBuiltAndTheNextMentionRetries) {
    struct Case {
        kv8::Kind kind;
        const TEVChar* name;
        std::vector<std::string> destroyed;
    };
    // Ids from the first object made for the product: its waypoint #0, then its state #1.
    const std::string waypoint = R"({"op":"destroy","id":#0})",
                      state = R"({"op":"destroy","id":#1})";
    for (const Case& refusal :
         {Case{kv8::Kind::Waypoint, T("wp.product"), {}},
          Case{kv8::Kind::State, T("s.productlist"), {waypoint}},
          Case{kv8::Kind::Attribute, T("a.product.name"), {state, waypoint}}}) {
        kv8::Reset();
        ASSERT_TRUE(TEVUtil::InitML(false));
        int first = testing_support::NextId(NewTrace());
        kv8::RefuseCreate(refusal.kind, refusal.name);
        EXPECT_EQ(CurrentRun().Report().Products().FindOrAdd(T("p")), nullptr);
        EXPECT_EQ(testing_support::RelativeIds(NewTraceOf({"destroy"}), first), refusal.destroyed);
        ASSERT_EQ(CurrentRun().Report().Products().Map().count(WideString(T("p"))),
                  1u);  // an empty entry
        EXPECT_EQ(CurrentRun().Report().Products().Map().at(WideString(T("p"))), nullptr);

        EXPECT_NE(CurrentRun().Report().Products().FindOrAdd(T("p")), nullptr);
        TEVUtil::ShutdownML();
        EXPECT_EQ(Delivered().at(2), "reached wp.product s.productlist{a.product.name=p}");
        ExpectCleanLedger();
    }
}

TEST_F(ProductRegistryTest, ANewRunGivesAKnownProductANewWaypoint) {
    ASSERT_TRUE(TEVUtil::InitML(false));
    TEVUtil::AddContent(T("p"), T("first"), T("run"));
    TEVUtil::ShutdownML();
    ASSERT_TRUE(TEVUtil::InitML(false));
    TEVUtil::AddContent(T("P"), T("second"), T("run"));
    TEVUtil::ShutdownML();
    std::vector<std::string> delivered = Delivered();
    EXPECT_EQ(delivered.at(6),
              "reached wp.product s.productlist{a.product.name=p} "
              "s.product.content{a.product.contentname=second,"
              "a.product.contentpath=run}");
    ExpectCleanLedger();
}
