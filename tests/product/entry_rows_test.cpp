// What each entry makes of its call, one row per behaviour: the calls, each in a run of its own,
// then what the analytics library received between the start-up and the shut-down waypoints and
// the log lines between the run's first two and its last three. Events are handed over as they
// come; the setup report and the products only at the end, the setup's first.
#include <functional>

#include "support.h"

namespace {

struct EntryRow {
    const char* calls;
    std::function<void()> make;
    std::vector<std::string> received;
    std::vector<std::string> logged;
};

const std::vector<std::string> kRunStartLog = {"InitML;", "SETUP;a.setup;0;"};
const std::vector<std::string> kRunEndLog = {"ShutdownML;", "CommitSetupWaypoint;",
                                             "CommitProducts();"};
const std::string kBareSetup = "reached wp.setup s.setup{a.setup=0}";

}  // namespace

class EntryRows : public TevTest {
protected:
    void ExpectRows(const std::vector<EntryRow>& rows) {
        for (const EntryRow& row : rows) {
            SCOPED_TRACE(row.calls);
            kv8::Reset();
            ASSERT_TRUE(TEVUtil::InitML(true));
            row.make();
            ASSERT_TRUE(TEVUtil::ShutdownML());
            std::vector<std::string> received = Delivered(), logged = LogFields();
            ASSERT_GE(received.size(), 2u);
            ASSERT_GE(logged.size(), kRunStartLog.size() + kRunEndLog.size());
            EXPECT_EQ(received.front(), "initialize COMMON.STARTUP");
            EXPECT_EQ(received.back(), "uninitialize COMMON.SHUTDOWN");
            EXPECT_EQ(std::vector<std::string>(received.begin() + 1, received.end() - 1),
                      row.received);
            auto endOfRow = logged.end() - static_cast<long>(kRunEndLog.size());
            EXPECT_EQ(std::vector<std::string>(logged.begin(), logged.begin() + 2), kRunStartLog);
            EXPECT_EQ(std::vector<std::string>(logged.begin() + 2, endOfRow), row.logged);
            EXPECT_EQ(std::vector<std::string>(endOfRow, logged.end()), kRunEndLog);
            ExpectCleanLedger();
        }
    }
};

TEST_F(EntryRows, EventsReachTheirWaypointAtOnceAndLogTheirTokenFirst) {
    ExpectRows({
        {"wpSetupPhase, each phase begun and ended",
         [] {
             for (auto phase :
                  {TEVUtil::eInitialization, TEVUtil::eConfiguration, TEVUtil::eInstallation}) {
                 TEVUtil::wpSetupPhase(phase, true);
                 TEVUtil::wpSetupPhase(phase, false);
             }
         },
         {"reached wp.setup.initialization.begin", "reached wp.setup.initialization.end",
          "reached wp.setup.configuration.begin", "reached wp.setup.configuration.end",
          "reached wp.setup.installation.begin", "reached wp.setup.installation.end", kBareSetup},
         {}},
        {"wpSetupPhase of no phase",
         [] {
             for (int notAPhase : {3, -1, 1 << 30})
                 TEVUtil::wpSetupPhase(static_cast<TEVUtil::eSetupPhase>(notAPhase), true);
         },
         {kBareSetup},
         {}},
        {"wpDownloadSP twice",
         [] {
             TEVUtil::wpDownloadSP();
             TEVUtil::wpDownloadSP();
         },
         {"reached wp.downloadsp", "reached wp.downloadsp", kBareSetup},
         {"wpDownloadSP;", "wpDownloadSP;"}},
        // The text's own separators and line break stand in the log unchanged.
        {"wpWarning of a text with ; and CR LF, of an empty text, of null",
         [] {
             TEVUtil::wpWarning(T("disk; low\r\nreally"));
             TEVUtil::wpWarning(T(""));
             TEVUtil::wpWarning(nullptr);
         },
         {"reached wp.warning s.warning{a.warning.message=disk; low\r\nreally}",
          "reached wp.warning s.warning{a.warning.message=}",
          "reached wp.warning s.warning{a.warning.message=}", kBareSetup},
         {"wpWarning;disk; low", "really;", "wpWarning;;", "wpWarning;;"}},
        // Both failures log "DownloadError", and neither logs its number.
        {"each download step",
         [] {
             TEVUtil::DownloadBegin(T("http://x/a.cab"));
             TEVUtil::DownloadPause(T("http://x/a.cab"));
             TEVUtil::DownloadResume(T("http://x/a.cab"));
             TEVUtil::DownloadEnd(T(""));
             TEVUtil::DownloadCancel(nullptr);
             TEVUtil::DownloadError(T("u"), T("timeout"), 5);
             TEVUtil::DownloadFailEvent(T("u"), T("refused"), 7);
         },
         {"reached wp.download "
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
          "a.download.errmsg=refused,a.download.eventid=7}",
          kBareSetup},
         {"DownloadBegin;http://x/a.cab;", "DownloadPause;http://x/a.cab;",
          "DownloadResume;http://x/a.cab;", "DownloadEnd;;", "DownloadCancel;;",
          "DownloadError;u;timeout;", "DownloadError;u;refused;"}},
        // The numbers are the signed reading of their 32 bits.
        {"DownloadError and DownloadFailEvent at the edges of 32 bits",
         [] {
             TEVUtil::DownloadError(T("u"), T("e"), 2147483648u);
             TEVUtil::DownloadFailEvent(T("u"), T("e"), 4294967295u);
             TEVUtil::DownloadError(T("u"), T("e"), 2147483647u);
         },
         {"reached wp.download s.download.error{a.state.name=s.download.error,a.download.url=u,"
          "a.download.errmsg=e,a.download.errcode=-2147483648}",
          "reached wp.download s.download.error{a.state.name=s.download.error,a.download.url=u,"
          "a.download.errmsg=e,a.download.eventid=-1}",
          "reached wp.download s.download.error{a.state.name=s.download.error,a.download.url=u,"
          "a.download.errmsg=e,a.download.errcode=2147483647}",
          kBareSetup},
         {"DownloadError;u;e;", "DownloadError;u;e;", "DownloadError;u;e;"}},
        // The product's name as given, the error text never logged, the registry untouched.
        {"each install step",
         [] {
             TEVUtil::InstallBegin(T("ProductA"));
             TEVUtil::InstallEnd(T("ProductA"));
             TEVUtil::InstallCancel(T("B"));
             TEVUtil::InstallError(T("B"), T("1603"));
         },
         {"reached wp.product "
          "s.install.begin{a.state.name=s.install.begin,a.product.name=ProductA}",
          "reached wp.product s.install.end{a.state.name=s.install.end,a.product.name=ProductA}",
          "reached wp.product s.install.cancel{a.state.name=s.install.cancel,a.product.name=B}",
          "reached wp.product s.install.error{a.state.name=s.install.error,a.product.name=B,"
          "a.install.errmsg=1603}",
          kBareSetup},
         {"InstallBegin;ProductA;", "InstallEnd;ProductA;", "InstallCancel;B;", "InstallError;B;"}},
    });
}

TEST_F(EntryRows, SetupAttributesAndProductDetailsAreKeptUntilTheEnd) {
    ExpectRows({
        {"AddAttributeToSetup in call order, a name given twice, null, the least number",
         [] {
             EXPECT_TRUE(TEVUtil::AddAttributeToSetup(T("x"), -5));
             EXPECT_TRUE(TEVUtil::AddAttributeToSetup(T("x"), 0));
             EXPECT_TRUE(TEVUtil::AddAttributeToSetup(T("x"), T("again")));
             EXPECT_TRUE(TEVUtil::AddAttributeToSetup(T("empty"), T("")));
             EXPECT_TRUE(TEVUtil::AddAttributeToSetup(nullptr, nullptr));
             EXPECT_TRUE(TEVUtil::AddAttributeToSetup(T("min"), -2147483647 - 1));
         },
         {"reached wp.setup s.setup{a.setup=0,x=-5,x=0,x=again,empty=,=,min=-2147483648}"},
         {"SETUP;x;-5;", "SETUP;x;0;", "SETUP;x;again;", "SETUP;empty;;", "SETUP;;;",
          "SETUP;min;-2147483648;"}},
        {"AddContent twice, the name in another case",
         [] {
             EXPECT_TRUE(TEVUtil::AddContent(T("ProductA"), T("core"), T("C:\\core.msi")));
             EXPECT_TRUE(TEVUtil::AddContent(T("productA"), T("extra"), T("")));
         },
         {kBareSetup,
          "reached wp.product s.productlist{a.product.name=producta} "
          "s.product.content{a.product.contentname=core,a.product.contentpath=C:\\core.msi} "
          "s.product.content{a.product.contentname=extra,a.product.contentpath=}"},
         {}},
        // Only the extra data logs; it lands on the product's own state.
        {"every kind of detail",
         [] {
             EXPECT_TRUE(TEVUtil::AddConfiguredProperty(T("P"), T("INSTALLDIR"), T("C:\\P")));
             EXPECT_TRUE(TEVUtil::AddConfiguredProperty(T("P"), T("REBOOT"), 42));
             EXPECT_TRUE(TEVUtil::AddConfiguredProperty(T("P"), T("REBOOT"), T("42")));
             EXPECT_TRUE(TEVUtil::AddCustom(T("P"), T("channel"), T("beta")));
             EXPECT_TRUE(TEVUtil::AddFeature(T("P"), T("Help"), -1));
             EXPECT_TRUE(TEVUtil::AddLang(T("P"), T("de-DE"), 1));
             EXPECT_TRUE(TEVUtil::AddNRData(T("P"), T("size"), 7));
             EXPECT_TRUE(TEVUtil::AddNRData(T("P"), T("mode"), T("silent")));
         },
         {kBareSetup,
          "reached wp.product s.productlist{a.product.name=p,size=7,mode=silent} "
          "s.product.configured{a.product.configured.name=INSTALLDIR,"
          "a.product.configured.value=C:\\P} "
          "s.product.configured{a.product.configured.name=REBOOT,a.product.configured.value=42} "
          "s.product.configured{a.product.configured.name=REBOOT,a.product.configured.value=42} "
          "s.product.other{a.product.other.name=channel,a.product.other.value=beta} "
          "s.product.feature{a.product.featurename=Help,a.product.featureaction=-1} "
          "s.product.language{a.product.language=de-DE,a.product.islanguagedownloaded=1}"},
         {"PRODUCTNRDATA;P;size;7;", "PRODUCTNRDATA;P;mode;silent;"}},
        {"null and empty texts",
         [] {
             EXPECT_TRUE(TEVUtil::AddCustom(nullptr, nullptr, nullptr));
             EXPECT_TRUE(TEVUtil::AddNRData(nullptr, nullptr, nullptr));
             EXPECT_TRUE(TEVUtil::AddFeature(T(""), nullptr, 0));
         },
         {kBareSetup,
          "reached wp.product s.productlist{a.product.name=,=} "
          "s.product.other{a.product.other.name=,a.product.other.value=} "
          "s.product.feature{a.product.featurename=,a.product.featureaction=0}"},
         {"PRODUCTNRDATA;;;;"}},
        // An install event names a product without recording it.
        {"a product's details, then install events of it and of another",
         [] {
             TEVUtil::AddContent(T("P"), T("c"), T("p"));
             TEVUtil::InstallBegin(T("P"));
             TEVUtil::InstallEnd(T("Other"));
         },
         {"reached wp.product s.install.begin{a.state.name=s.install.begin,a.product.name=P}",
          "reached wp.product s.install.end{a.state.name=s.install.end,a.product.name=Other}",
          kBareSetup,
          "reached wp.product s.productlist{a.product.name=p} "
          "s.product.content{a.product.contentname=c,a.product.contentpath=p}"},
         {"InstallBegin;P;", "InstallEnd;Other;"}},
    });
}
