// A host whose analytics library is missing: this program is linked to TEV.dll / libtev.so alone,
// and lives in a folder of its own with a copy of it, so that the library is nowhere TEV looks.
// The host must start, and TEV must behave as if the library refused everything.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "TEVUtil.h"
#include "test_platform.h"

#define T(literal) TEV_TEXT(literal)

namespace {

using testing_support::Utf16Le;

bool SameText(const TEVChar* text, const TEVChar* expected) {
    return text && std::basic_string<TEVChar>(text) == expected;
}

}  // namespace

class MissingLibrary : public ::testing::Test {
protected:
    void SetUp() override {
        tempDir_ = testing_support::MakeTempDirectory("tev-missing");
        testing_support::UseTempDirectory(tempDir_);
        // The folder TEV looks in first: this program's own (libtev.so / TEV.dll beside it).
        std::filesystem::path configPath(testing_support::ExpectedConfigPath());
        folder_ = configPath.parent_path().parent_path();  // without "ORB/orbconfig.xml"
        // A copy an earlier test left (Windows keeps a loaded library from being deleted).
        std::filesystem::remove(folder_ / LibraryFile());
    }

    void TearDown() override {
        TEVUtil::ShutdownML();
        std::error_code ignored;
        std::filesystem::remove(folder_ / LibraryFile(), ignored);
        std::filesystem::remove_all(tempDir_, ignored);
    }

    static const char* LibraryFile() {
#ifdef _WIN32
        return "KV8.dll";
#else
        return "libkv8.so";
#endif
    }

    std::string Log() const { return testing_support::ReadFile(tempDir_ / "Setup_TEV.log"); }

    std::filesystem::path tempDir_;
    std::filesystem::path folder_;
};

// Every entry answers with its refusal; only InitML's own line reaches the log, since the start-up
// waypoint is never made.
TEST_F(MissingLibrary, EveryEntryRefusesAndTheLogShowsTheStartThatFailed) {
    EXPECT_FALSE(TEVUtil::InitML(true));
    EXPECT_TRUE(SameText(TEVUtil::GetKV8UserId(), T("")));
    EXPECT_FALSE(TEVUtil::AddAttributeToSetup(T("setup.version"), T("4.2.1")));
    EXPECT_FALSE(TEVUtil::AddAttributeToSetup(T("setup.attempt"), 1));
    EXPECT_FALSE(TEVUtil::AddConfiguredProperty(T("Studio"), T("INSTALLDIR"), T("C:\\Studio")));
    EXPECT_FALSE(TEVUtil::AddConfiguredProperty(T("Studio"), T("REBOOT"), 0));
    EXPECT_FALSE(TEVUtil::AddContent(T("Studio"), T("Core"), T("C:\\Studio\\core.msi")));
    EXPECT_FALSE(TEVUtil::AddCustom(T("Studio"), T("channel"), T("beta")));
    EXPECT_FALSE(TEVUtil::AddFeature(T("Studio"), T("Help"), 3));
    EXPECT_FALSE(TEVUtil::AddLang(T("Studio"), T("de-DE"), 1));
    EXPECT_FALSE(TEVUtil::AddNRData(T("Studio"), T("size.mb"), T("1536")));
    EXPECT_FALSE(TEVUtil::AddNRData(T("Studio"), T("files"), 12));
    TEVUtil::wpSetupPhase(TEVUtil::eInstallation, true);
    TEVUtil::wpDownloadSP();
    TEVUtil::wpWarning(T("disk almost full"));
    const TEVChar* url = T("https://downloads.example.com/studio/core.cab");
    TEVUtil::DownloadBegin(url);
    TEVUtil::DownloadPause(url);
    TEVUtil::DownloadResume(url);
    TEVUtil::DownloadEnd(url);
    TEVUtil::DownloadCancel(url);
    TEVUtil::DownloadError(url, T("timed out"), 5);
    TEVUtil::DownloadFailEvent(url, T("timed out"), 6);
    TEVUtil::InstallBegin(T("Studio"));
    TEVUtil::InstallEnd(T("Studio"));
    TEVUtil::InstallCancel(T("Studio"));
    TEVUtil::InstallError(T("Studio"), T("error 1603"));
    TEVUtil::OnCrash();
    EXPECT_TRUE(TEVUtil::ShutdownML());

    std::string log = Log();
    const std::string line = Utf16Le("; InitML;\r\n");
    ASSERT_GE(log.size(), line.size());
    EXPECT_EQ(log.substr(log.size() - line.size()), line);
    EXPECT_EQ(log.find(Utf16Le("\r\n")), log.size() - 4) << "more than one line in the log";
}

// The first failure is kept: a library that turns up later is not bound, so TEV does not search
// the disk again on every call.
TEST_F(MissingLibrary, ALibraryThatTurnsUpLaterIsNotLookedFor) {
    EXPECT_FALSE(TEVUtil::InitML(false));
    std::filesystem::copy_file(TEV_STANDIN_PATH, folder_ / LibraryFile());
    EXPECT_FALSE(TEVUtil::InitML(true));
    EXPECT_TRUE(SameText(TEVUtil::GetKV8UserId(), T("")));
    EXPECT_FALSE(TEVUtil::AddContent(T("Studio"), T("Core"), T("core.msi")));
}

// The check above can fail: in a fresh process, the same library beside TEV is found and bound.
TEST_F(MissingLibrary, ALibraryBesideTevAtTheFirstCallIsBound) {
    std::filesystem::copy_file(TEV_STANDIN_PATH, folder_ / LibraryFile());
    EXPECT_TRUE(TEVUtil::InitML(false));
    EXPECT_FALSE(SameText(TEVUtil::GetKV8UserId(), T("")));
    EXPECT_TRUE(TEVUtil::AddContent(T("Studio"), T("Core"), T("core.msi")));
}
