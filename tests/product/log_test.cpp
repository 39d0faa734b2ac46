// The diagnostic log: line format to the byte, where the file lives, and when it is written.
#include <chrono>
#include <fstream>

#include <cstring>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "run/run.h"
#include "support.h"

using namespace tev;

namespace {

std::string Line(const platform::CalendarTime& time, const TEVChar* token,
                 std::initializer_list<const TEVChar*> texts = {}) {
    WideString line(LogLineCapacity(token, texts), 0);
    line.resize(FormatLogLine(line.data(), time, token, texts));
    return testing_support::Utf8(line);
}

const platform::CalendarTime kJan2 = {2016, 1, 2, 3, 4, 5};

}  // namespace

TEST(LogLineFormat, MatchesTheDocumentedBytes) {
    WideString line(64, 0);
    line.resize(FormatLogLine(line.data(), kJan2, T("SETUP"), {T("a.setup"), T("0")}));
    line += T("\r\n");
    const unsigned char expected[] = {
        0x31, 0, 0x2F, 0, 0x32, 0, 0x2F, 0, 0x32, 0, 0x30, 0, 0x31, 0, 0x36, 0, 0x3B, 0,
        0x20, 0, 0x33, 0, 0x3A, 0, 0x34, 0, 0x3A, 0, 0x35, 0, 0x3B, 0, 0x20, 0, 0x53, 0,
        0x45, 0, 0x54, 0, 0x55, 0, 0x50, 0, 0x3B, 0, 0x61, 0, 0x2E, 0, 0x73, 0, 0x65, 0,
        0x74, 0, 0x75, 0, 0x70, 0, 0x3B, 0, 0x30, 0, 0x3B, 0, 0x0D, 0, 0x0A, 0};
    ASSERT_EQ(line.size() * 2, sizeof expected);
    EXPECT_EQ(0, std::memcmp(line.data(), expected, sizeof expected));
}

TEST(LogLineFormat, NumbersAreNeverPaddedAndFieldsEndWithSeparators) {
    EXPECT_EQ(Line(kJan2, T("InitML")), "1/2/2016; 3:4:5; InitML;");
    EXPECT_EQ(Line({2015, 12, 31, 23, 59, 9}, T("x")), "12/31/2015; 23:59:9; x;");
    EXPECT_EQ(Line(kJan2, T("A"), {T(""), T("B")}), "1/2/2016; 3:4:5; A;;B;");
    // Separators and line breaks inside a string are written unchanged.
    EXPECT_EQ(Line(kJan2, T("wpWarning"), {T("a;b\r\nc")}), "1/2/2016; 3:4:5; wpWarning;a;b\r\nc;");
    // The texts end at their first null pointer.
    EXPECT_EQ(Line(kJan2, T("A"), {nullptr, T("B")}), "1/2/2016; 3:4:5; A;");
}

TEST(LogLineFormat, CapacityHoldsTheWidestTimestampAndLongFields) {
    WideString wide(70000, T('w'));
    const platform::CalendarTime widest = {-2147483647 - 1, -2147483647 - 1, -2147483647 - 1,
                                           -2147483647 - 1, -2147483647 - 1, -2147483647 - 1};
    std::initializer_list<const TEVChar*> texts = {wide.c_str(), T("")};
    WideString line(LogLineCapacity(T("tok"), texts), 0);
    EXPECT_EQ(FormatLogLine(line.data(), widest, T("tok"), texts), line.size());
}

using DiagnosticLog = TevTest;

TEST_F(DiagnosticLog, IsUtf16WithoutByteOrderMarkAndStartsWithTheTimestamp) {
    ASSERT_TRUE(TEVUtil::InitML(true));
    TEVUtil::wpWarning(T("caf\u00e9 \U0001F600"));
    std::string bytes = LogBytes();
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_TRUE(bytes[0] >= '1' && bytes[0] <= '9');
    EXPECT_EQ(bytes[1], '\0');
    EXPECT_EQ(bytes.size() % 2, 0u);
    EXPECT_EQ(LogFields(), (std::vector<std::string>{"InitML;", "SETUP;a.setup;0;",
                                                     "wpWarning;caf\u00e9 \U0001F600;"}));
}

TEST_F(DiagnosticLog, TimestampIsTodayInUtc) {
#ifndef _WIN32
    testing_support::SetEnv("TZ", "Pacific/Kiritimati");  // UTC+14: a local date would differ
    tzset();
#endif
    ASSERT_TRUE(TEVUtil::InitML(true));
#ifndef _WIN32
    testing_support::UnsetEnv("TZ");
    tzset();
#endif
    using namespace std::chrono;
    year_month_day today{floor<days>(system_clock::now())};
    std::string prefix = std::to_string(static_cast<unsigned>(today.month())) + "/" +
                         std::to_string(static_cast<unsigned>(today.day())) + "/" +
                         std::to_string(static_cast<int>(today.year())) + "; ";
    EXPECT_EQ(LogLines().at(0).rfind(prefix, 0), 0u) << LogLines().at(0);
}

TEST_F(DiagnosticLog, OffMeansNoFileIsCreatedOrTouched) {
    ASSERT_TRUE(TEVUtil::InitML(false));
    TEVUtil::AddAttributeToSetup(T("a"), T("b"));
    TEVUtil::ShutdownML();
    EXPECT_FALSE(LogExists());

    { std::ofstream(LogPath(), std::ios::binary) << "keep"; }
    ASSERT_TRUE(TEVUtil::InitML(false));
    TEVUtil::ShutdownML();
    EXPECT_EQ(LogBytes(), "keep");
}

TEST_F(DiagnosticLog, AnEarlierLogIsEmptiedAndOnlyTheNewRunRemains) {
    { std::ofstream(LogPath(), std::ios::binary) << std::string(1000, 'x'); }
    ASSERT_TRUE(TEVUtil::InitML(true));
    TEVUtil::wpWarning(T("first run"));
    TEVUtil::ShutdownML();
    ASSERT_TRUE(TEVUtil::InitML(true));
    TEVUtil::ShutdownML();
    EXPECT_EQ(LogFields(), (std::vector<std::string>{"InitML;", "SETUP;a.setup;0;", "ShutdownML;",
                                                     "CommitSetupWaypoint;", "CommitProducts();"}));
}

TEST_F(DiagnosticLog, EachLineIsAppendedAtTheEndWhereverThePositionWas) {
    ASSERT_TRUE(TEVUtil::InitML(true));
    testing_support::Rewind(CurrentRun().TheLog().File());
    TEVUtil::wpDownloadSP();
    EXPECT_EQ(LogFields(),
              (std::vector<std::string>{"InitML;", "SETUP;a.setup;0;", "wpDownloadSP;"}));
}

TEST_F(DiagnosticLog, TemporaryDirectoryIsReadAtEachRun) {
    std::filesystem::path second = tempDir_ / "second";
    std::filesystem::create_directory(second);
    ASSERT_TRUE(TEVUtil::InitML(true));
    TEVUtil::ShutdownML();
    testing_support::UseTempDirectory(second.string() +
                                      "/");  // a trailing separator is not doubled
    ASSERT_TRUE(TEVUtil::InitML(true));
    TEVUtil::ShutdownML();
    EXPECT_TRUE(LogExists());
    EXPECT_TRUE(std::filesystem::exists(second / "Setup_TEV.log"));
}

// Lines are built on the stack up to a limit, and on the heap beyond: texts on either side of it,
// and right at it, come back whole.
TEST_F(DiagnosticLog, TextsAroundTheLinesStackLimitComeBackWhole) {
    ASSERT_TRUE(TEVUtil::InitML(true));
    // A SETUP line with a one-letter name: the timestamp's room (74), "SETUP;" and "k;" take 82
    // code units, the value one more than its length; 512 is the limit. A timestamp takes 16 to
    // 22 of its 74, so a value of 490 makes a line of more than 512 units within 64 of the limit.
    std::vector<std::string> expected = {"InitML;", "SETUP;a.setup;0;"};
    for (std::size_t length : {250u, 440u, 428u, 429u, 430u, 490u}) {
        std::string value(length, 'v');
        value.back() = '!';
        ASSERT_TRUE(
            TEVUtil::AddAttributeToSetup(T("k"), WideString(value.begin(), value.end()).c_str()));
        expected.push_back("SETUP;k;" + value + ";");
        TEVUtil::wpWarning(WideString(value.begin(), value.end()).c_str());
        expected.push_back("wpWarning;" + value + ";");
    }
    EXPECT_EQ(LogFields(), expected);
}

#ifndef _WIN32
// A log another user made at its place, in a shared temporary folder, is not written.
TEST_F(DiagnosticLog, ALogOwnedByAnotherUserIsNotWritten) {
    { std::ofstream(LogPath(), std::ios::binary) << "theirs"; }
    if (chown(LogPath().c_str(), 65534, 65534) != 0)
        GTEST_SKIP() << "only root can give the file to another user";
    EXPECT_TRUE(TEVUtil::InitML(true));
    EXPECT_EQ(CurrentRun().TheLog().File(), platform::kNoFile);
    TEVUtil::ShutdownML();
    EXPECT_EQ(LogBytes(), "theirs");
    EXPECT_EQ(Delivered().size(), 3u);  // the run reports all the same
}

TEST_F(DiagnosticLog, ALinkInPlaceOfTheLogIsNeverFollowed) {
    std::filesystem::path target = tempDir_ / "precious";
    { std::ofstream(target, std::ios::binary) << "precious"; }
    using Link = void (*)(const std::filesystem::path&, const std::filesystem::path&);
    for (Link link :
         {Link(std::filesystem::create_symlink), Link(std::filesystem::create_hard_link)}) {
        std::filesystem::remove(LogPath());
        link(target, LogPath());
        EXPECT_TRUE(TEVUtil::InitML(true));
        EXPECT_TRUE(TEVUtil::AddAttributeToSetup(T("k"), T("v")));
        TEVUtil::ShutdownML();
        EXPECT_EQ(testing_support::ReadFile(target), "precious");
        EXPECT_EQ(Delivered().at(1), "reached wp.setup s.setup{a.setup=0,k=v}");
        kv8::Reset();
    }
}

TEST_F(DiagnosticLog, IsReadableAndWritableByItsOwnerOnly) {
    ASSERT_TRUE(TEVUtil::InitML(true));
    TEVUtil::ShutdownML();
    EXPECT_EQ(std::filesystem::status(LogPath()).permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}
#endif
