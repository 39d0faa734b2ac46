// TEV inside a hostile machine: temporary directories that cannot hold the log, a log another run
// holds, a host installer at a long path, non-ASCII directories. The run must go on, reporting
// everything, with the log wherever it can be and nowhere else.
#include <fstream>

#include "../tool/tool_support.h"

namespace {

// A short run that exercises every kind of report.
void PlayShortRun() {
    ASSERT_TRUE(TEVUtil::InitML(true));
    EXPECT_TRUE(TEVUtil::AddAttributeToSetup(T("k"), T("v")));
    EXPECT_TRUE(TEVUtil::AddContent(T("P"), T("c"), T("p")));
    TEVUtil::wpWarning(T("w"));
    TEVUtil::DownloadEnd(T("u"));
    EXPECT_TRUE(TEVUtil::ShutdownML());
}

const std::vector<std::string> kShortRunDelivered = {
    "initialize COMMON.STARTUP",
    "reached wp.warning s.warning{a.warning.message=w}",
    "reached wp.download s.download.end{a.state.name=s.download.end,a.download.url=u}",
    "reached wp.setup s.setup{a.setup=0,k=v}",
    "reached wp.product s.productlist{a.product.name=p} "
    "s.product.content{a.product.contentname=c,a.product.contentpath=p}",
    "uninitialize COMMON.SHUTDOWN"};

bool DirectoryHasFiles(const std::filesystem::path& dir) {
    std::error_code error;  // a name too long to look up is no directory
    return std::filesystem::exists(dir, error) && !std::filesystem::is_empty(dir, error);
}

}  // namespace

using HostileEnvironment = TevTest;

TEST_F(HostileEnvironment, ATemporaryDirectoryThatCannotHoldTheLogCostsOnlyTheLog) {
    std::filesystem::path file = tempDir_ / "a-file";
    std::ofstream(file) << "not a directory";
    std::vector<std::pair<std::string, std::filesystem::path>> places = {
        {"missing", tempDir_ / "missing"},
        {"a file", file},
        {"too long",
         tempDir_ / std::string(300, 'x') / std::string(250, 'y') / std::string(250, 'z')},
    };
#ifdef _WIN32
    // A directory that fits in 260 characters while the log's path does not, and one that does
    // not fit at all (GetTempPathW then leaves the buffer undefined: no log, and none elsewhere).
    size_t base = tempDir_.wstring().size() + 1;
    places.emplace_back("log path over 260", tempDir_ / std::string(252 - base, 'w'));
    std::filesystem::create_directories(places.back().second);
    places.emplace_back("directory over 260", tempDir_ / std::string(280 - base, 'v'));
#else
    places.emplace_back("not writable", "/proc");  // not even for root
    places.emplace_back("longer than the system allows", "/tmp/" + std::string(5000, 'x'));
#endif
    std::filesystem::path workingDirectory = std::filesystem::current_path();
    for (const auto& [what, place] : places) {
        SCOPED_TRACE(what);
        kv8::Reset();
        testing_support::UseTempDirectory(place);
        PlayShortRun();
        EXPECT_EQ(Delivered(), kShortRunDelivered);
        EXPECT_FALSE(std::filesystem::exists(workingDirectory / "Setup_TEV.log"));
        if (what != "a file" && what != "not writable") {
            EXPECT_FALSE(DirectoryHasFiles(place)) << "a log was written to " << place.string();
        }
    }
    EXPECT_FALSE(DirectoryHasFiles(tempDir_ / std::string(300, 'x')));
}

TEST_F(HostileEnvironment, ALogHeldByAnotherProcessIsLeftAsItIsAndNothingElseIsLost) {
    { std::ofstream(LogPath(), std::ios::binary) << "another run's log"; }
    {
        testing_support::FileHolder otherProcess(LogPath());
        ASSERT_TRUE(otherProcess.Holding());
        PlayShortRun();
    }
    EXPECT_EQ(LogBytes(), "another run's log");
    EXPECT_EQ(Delivered(), kShortRunDelivered);
    // Once the other run lets go, the next run has its log again.
    PlayShortRun();
    EXPECT_EQ(LogFields().front(), "InitML;");
}

// A temporary directory of any name holds the log: non-ASCII, and on Linux, where it is the bytes
// the environment gives, not even UTF-8.
TEST_F(HostileEnvironment, ANonAsciiTemporaryDirectoryHoldsTheLog) {
    std::vector<std::filesystem::path> names = {
        std::filesystem::u8path("Temp \u65e5\u672c \u00e9\u00df")};
#ifndef _WIN32
    names.emplace_back("latin1-\xe9t\xe9");
#endif
    for (const std::filesystem::path& name : names) {
        SCOPED_TRACE(name.string());
        std::filesystem::path dir = tempDir_ / name;
        std::filesystem::create_directory(dir);
        testing_support::UseTempDirectory(dir);
        PlayShortRun();
        std::string bytes = testing_support::ReadFile(dir / "Setup_TEV.log");
        ASSERT_GT(bytes.size(), 36u);
        EXPECT_EQ(bytes.substr(bytes.size() - 36),
                  testing_support::Utf16Line("CommitProducts();").substr(2));
    }
}

// The configuration path comes from the host executable's full path, however long: a path cut at
// 260 characters would name the wrong configuration file. (Wine, like Windows without long-path
// support, starts no program at such a path, so this runs on Linux only.)
#ifndef _WIN32
TEST_F(HostileEnvironment, AHostAtAPathOverTwoHundredSixtyCharactersStillFindsItsConfiguration) {
    std::filesystem::path tool = TEV_TOOL_PATH;
    std::filesystem::path host =
        tempDir_ / std::string(100, 'a') / std::string(100, 'b') / std::string(100, 'c');
    std::filesystem::create_directories(host);
    for (const auto& entry : std::filesystem::directory_iterator(tool.parent_path()))
        if (entry.path().extension() == ".dll" || entry.path() == tool)
            std::filesystem::copy_file(entry.path(), host / entry.path().filename());
    std::ofstream(tempDir_ / "start.tev") << "InitML false\nShutdownML\n";
    std::string program = (host / tool.filename()).string();
    testing_support::ProgramRun run = testing_support::RunTool(
        tempDir_, {"run", (tempDir_ / "start.tev").string(), "--trace"}, "", program);
    ASSERT_EQ(run.status, 0) << run.err;
    std::string config = (host / "ORB" / "orbconfig.xml").string();
    EXPECT_GT(config.size(), 300u);
    EXPECT_NE(run.out.find(R"("config":)" +
                           tev::JsonQuote(tev::WideString(config.begin(), config.end()),
                                          tev::LoneSurrogates::Keep) +
                           ","),
              std::string::npos)
        << run.out.substr(0, 600);
}
#endif
