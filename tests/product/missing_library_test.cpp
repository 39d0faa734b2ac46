// A host whose analytics library is missing: this program is linked to TEV.dll / libtev.so alone,
// and lives in a folder of its own with a copy of it, so that the library is nowhere TEV looks.
// The host must start, and TEV must behave as if the library refused everything. (Where the
// library is found for each layout of an installer's files: tests/product/layouts.sh.)
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#ifndef _WIN32
#include <dlfcn.h>
#endif

#include "TEVUtil.h"
#include "test_platform.h"

#define T(literal) TEV_TEXT(literal)

namespace {

// The log's lines without their timestamps or CR LF (the log holds ASCII here).
std::vector<std::string> Fields(const std::string& log) {
    std::string text;
    for (std::size_t i = 0; i + 1 < log.size(); i += 2) text += log[i];
    std::vector<std::string> fields;
    for (std::size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos;
         start = end + 2) {
        std::string line = text.substr(start, end - start);
        std::size_t time = line.find("; ", line.find("; ") + 2);
        fields.push_back(time == std::string::npos ? line : line.substr(time + 2));
    }
    return fields;
}

const char* const kStatics[] = {TEV_KV8_STATICS};

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
        std::filesystem::current_path(folder_, ignored);
        std::filesystem::remove(folder_ / LibraryFile(), ignored);
        std::filesystem::remove_all(tempDir_, ignored);
    }

    // TEV looks for the library once per process, at its first call: each test needs a process
    // whose TEV has not looked yet. The first test a process runs has one; a later one runs again
    // in a process of its own (this program, asked for that test alone), whose outcome is its own.
    bool InFreshProcess() const {
        static bool looked = false;
        constexpr char kChild[] = "TEV_TEST_OWN_PROCESS";
        if (!looked || std::getenv(kChild)) {
            looked = true;
            return true;
        }
        const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
        testing_support::SetEnv(kChild, "1");
        testing_support::ProgramRun run = testing_support::RunProgram(
            testing_support::ThisProgram().string(),
            {std::string("--gtest_filter=") + test->test_suite_name() + "." + test->name()}, "",
            tempDir_);
        testing_support::UnsetEnv(kChild);
        EXPECT_EQ(run.status, 0) << run.out << run.err;
        EXPECT_NE(run.out.find("[  PASSED  ] 1 test."), std::string::npos) << run.out;
        return false;
    }

    static const char* LibraryFile() {
#ifdef _WIN32
        return "KV8.dll";
#else
        return "libkv8.so";
#endif
    }

    std::vector<std::string> LogFields() const {
        return Fields(testing_support::ReadFile(tempDir_ / "Setup_TEV.log"));
    }

    // The log of a run refused for `cause`, with the library's file as TEV names it.
    static std::vector<std::string> Refused(const std::string& file, const std::string& cause) {
        return {"InitML;", "KV8 unavailable;" + file + ";" + cause + ";"};
    }

    std::filesystem::path tempDir_;
    std::filesystem::path folder_;
};

// Every entry answers with its refusal; the log holds InitML's own line and why reporting is off,
// and nothing more, since the start-up waypoint is never made.
TEST_F(MissingLibrary, EveryEntryRefusesAndTheLogShowsTheStartThatFailed) {
    if (!InFreshProcess()) return;
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

    EXPECT_EQ(LogFields(), Refused(LibraryFile(), "not found"));
}

// The first failure is kept: a library that turns up later is not bound, so TEV does not search
// the disk again on every call.
TEST_F(MissingLibrary, ALibraryThatTurnsUpLaterIsNotLookedFor) {
    if (!InFreshProcess()) return;
    EXPECT_FALSE(TEVUtil::InitML(false));
    std::filesystem::copy_file(TEV_STANDIN_PATH, folder_ / LibraryFile());
    EXPECT_FALSE(TEVUtil::InitML(true));
    EXPECT_TRUE(SameText(TEVUtil::GetKV8UserId(), T("")));
    EXPECT_FALSE(TEVUtil::AddContent(T("Studio"), T("Core"), T("core.msi")));
    EXPECT_EQ(LogFields(), Refused(LibraryFile(), "not found"));
}

// The check above can fail: in a fresh process, the same library beside TEV is found and bound.
TEST_F(MissingLibrary, ALibraryBesideTevAtTheFirstCallIsBound) {
    if (!InFreshProcess()) return;
    std::filesystem::copy_file(TEV_STANDIN_PATH, folder_ / LibraryFile());
    EXPECT_TRUE(TEVUtil::InitML(true));
    EXPECT_FALSE(SameText(TEVUtil::GetKV8UserId(), T("")));
    EXPECT_TRUE(TEVUtil::AddContent(T("Studio"), T("Core"), T("core.msi")));
    // The log of a run whose library is there is as it always was.
    EXPECT_TRUE(TEVUtil::ShutdownML());
    EXPECT_EQ(LogFields(), (std::vector<std::string>{"InitML;", "SETUP;a.setup;0;", "ShutdownML;",
                                                     "CommitSetupWaypoint;", "CommitProducts();"}));
}

// A file of the library's name that is no library: the system's reason is logged, with the file.
TEST_F(MissingLibrary, AFileThatCannotBeLoadedIsNamedWithTheSystemsReason) {
    if (!InFreshProcess()) return;
    std::ofstream(folder_ / LibraryFile()) << "not a library";
    EXPECT_FALSE(TEVUtil::InitML(true));
    std::vector<std::string> fields = LogFields();
    ASSERT_EQ(fields.size(), 2u);
    std::string prefix =
        "KV8 unavailable;" + (folder_ / LibraryFile()).string() + ";cannot be loaded, ";
    EXPECT_EQ(fields[1].substr(0, prefix.size()), prefix);
#ifdef _WIN32
    EXPECT_EQ(fields[1].substr(prefix.size()), "error 193;");  // ERROR_BAD_EXE_FORMAT
#else
    // The loader's own words for the file, without the path they begin with.
    std::string path = (folder_ / LibraryFile()).string();
    ASSERT_EQ(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL), nullptr);
    std::string reason = dlerror();
    ASSERT_EQ(reason.rfind(path + ": ", 0), 0u) << reason;
    EXPECT_EQ(fields[1].substr(prefix.size()), reason.substr(path.size() + 2) + ";");
#endif
}

// Each library lacks one of the statics: TEV names it and calls none of the others (each of which
// would end the process).
class LackingLibrary : public MissingLibrary, public ::testing::WithParamInterface<int> {};

TEST_P(LackingLibrary, IsTreatedAsMissingAndNamesTheStaticItLacks) {
    if (!InFreshProcess()) return;
    std::filesystem::copy_file(
        std::filesystem::path(TEV_LACKING_FOLDER) / std::to_string(GetParam()) / LibraryFile(),
        folder_ / LibraryFile());
    EXPECT_FALSE(TEVUtil::InitML(true));
    EXPECT_TRUE(SameText(TEVUtil::GetKV8UserId(), T("")));
    TEVUtil::OnCrash();
    EXPECT_TRUE(TEVUtil::ShutdownML());
    EXPECT_EQ(LogFields(), Refused((folder_ / LibraryFile()).string(),
                                   std::string("lacks ") + kStatics[GetParam()]));
}

// A library that lacks them all is named by the first TEV looks up.
TEST_F(MissingLibrary, ALibraryLackingEveryStaticIsNamedByTheFirstOne) {
    if (!InFreshProcess()) return;
    std::filesystem::copy_file(std::filesystem::path(TEV_LACKING_FOLDER) / "all" / LibraryFile(),
                               folder_ / LibraryFile());
    EXPECT_FALSE(TEVUtil::InitML(true));
    EXPECT_EQ(LogFields(),
              Refused((folder_ / LibraryFile()).string(), std::string("lacks ") + kStatics[0]));
}

INSTANTIATE_TEST_SUITE_P(EachStatic, LackingLibrary,
                         ::testing::Range(0, static_cast<int>(std::size(kStatics))));

#ifndef _WIN32
// A file others can change is refused before it is loaded, with the cause.
TEST_F(MissingLibrary, ALibraryOthersCanWriteIsRefused) {
    if (!InFreshProcess()) return;
    std::filesystem::copy_file(TEV_STANDIN_PATH, folder_ / LibraryFile());
    std::filesystem::permissions(folder_ / LibraryFile(), std::filesystem::perms::others_write,
                                 std::filesystem::perm_options::add);
    EXPECT_FALSE(TEVUtil::InitML(true));
    EXPECT_EQ(LogFields(),
              Refused((folder_ / LibraryFile()).string(), "cannot be loaded, writable by others"));
}
#endif
