// The summary and the page of logs as they arrive from customers: several runs in one file, long
// runs that repeat themselves, texts that try to drive a terminal or a spreadsheet. Each test
// writes its own logs in its own temporary directory.
#include <nlohmann/json.hpp>
#include <utf8.h>

#include <set>

#include "logreader/fleet_totals.h"
#include "logreader/run_summary.h"
#include "logreader/times.h"
#include "printers/record_print.h"
#include "printers/summary_print.h"
#include "tool_support.h"

namespace {

using testing_support::Count;
using testing_support::JsonLines;
using testing_support::Lines;
using testing_support::ProgramRun;
using testing_support::ReadFile;
using testing_support::WriteBytes;
namespace fs = std::filesystem;

// A log from lines of UTF-8 text, each written as TEV writes a line: UTF-16LE, ended by CR LF.
std::string LogOf(const std::vector<std::string>& lines) {
    std::string bytes;
    for (const std::string& line : lines)
        for (TEVChar unit : tev::FromUtf8(line + "\r\n"))
            bytes += {char(unit & 0xFF), char(unit >> 8)};
    return bytes;
}

// A line at a moment of 2 January 2016.
std::string At(int minute, int second, const std::string& rest) {
    return "1/2/2016; 3:" + std::to_string(minute) + ":" + std::to_string(second) + "; " + rest;
}

// Every run of the log, summarized as the tool does.
std::vector<tevtool::RunSummary> Summaries(const std::string& bytes) {
    std::vector<tevtool::RunSummary> runs;
    tevtool::RunSummarizer summarizer([&](const tevtool::RunSummary& run) { runs.push_back(run); });
    tevtool::LogDecoder decoder([&](const tevtool::LogRecord& record) { summarizer.Add(record); });
    decoder.Feed(bytes);
    decoder.Finish();
    summarizer.Finish();
    return runs;
}

// Three runs, as a customer's logs concatenated give them: a clean one, one whose download failed,
// and one that crashed after its first records.
const std::vector<std::string> kThreeRuns = {
    At(0, 0, "InitML;"),
    At(0, 1, "DownloadBegin;https://x/a.cab;"),
    At(0, 2, "DownloadEnd;https://x/a.cab;"),
    At(0, 3, "ShutdownML;"),
    At(1, 0, "InitML;"),
    At(1, 1, "DownloadBegin;https://x/b.cab;"),
    At(1, 2, "DownloadError;https://x/b.cab;timed out;"),
    At(1, 3, "ShutdownML;"),
    At(2, 0, "InitML;"),
    At(2, 1, "wpWarning;low disk;"),
    At(2, 2, "OnCrash;"),
};

// One run in each state a log can leave: downloads ended after a pause, cancelled, left
// unfinished, paused or ended with no begin; installations ended, cancelled, unfinished; a warning
// that came twice; then a damaged record, each way a run can end, a first error of a cut run
// followed by a run with one of its own, and a run cut after a record of no known entry.
const std::vector<std::string> kEveryState = {
    At(0, 0, "InitML;"),
    At(0, 0, "SETUP;Lang;en;"),
    At(0, 1, "wpWarning;low disk;"),
    At(0, 2, "DownloadBegin;http://x/a.cab;"),
    At(0, 3, "DownloadPause;http://x/a.cab;"),
    At(0, 4, "DownloadResume;http://x/a.cab;"),
    At(0, 5, "wpWarning;low disk;"),
    At(0, 6, "DownloadEnd;http://x/a.cab;"),
    At(0, 7, "DownloadBegin;http://x/b.cab;"),
    At(0, 8, "DownloadCancel;http://x/b.cab;"),
    At(0, 9, "DownloadBegin;http://x/c.cab;"),
    At(0, 10, "DownloadPause;http://x/c.cab;"),
    At(0, 11, "DownloadPause;http://x/d.cab;"),
    At(0, 12, "DownloadEnd;http://x/e.cab;"),
    At(0, 12, "wpDownloadSP;"),
    At(0, 13, "wpWarning;cold;"),
    At(0, 14, "InstallBegin;Studio;"),
    At(0, 20, "InstallEnd;Studio;"),
    At(0, 21, "InstallBegin;Tools;"),
    At(0, 22, "InstallCancel;Tools;"),
    At(0, 23, "InstallBegin;Docs;"),
    At(0, 24, "PRODUCTNRDATA;Studio;Version;1.0;"),
    At(0, 25, "CommitProducts();"),
    At(0, 26, "CommitSetupWaypoint;"),
    At(0, 30, "ShutdownML;"),
    At(1, 0, "InitML;"),
    At(1, 0, "Bogus;"),
    At(1, 1, "DownloadBegin;http://x/f.cab;"),
    At(1, 2, "DownloadError;http://x/f.cab;timed out, \"again\";"),
    At(1, 2, "InstallError;Docs;"),
    At(1, 2, "InstallError;Tools;"),
    At(1, 3, "ShutdownML;"),
    At(2, 0, "InitML;"),
    At(2, 1, "Fail to initialize KV8;"),
    At(3, 0, "InitML;"),
    At(3, 1, "wpWarning;low disk;"),
    At(3, 2, "OnCrash;"),
    At(4, 0, "InitML;"),
    At(4, 1, "CommitSetupWaypoint;"),
    At(5, 0, "InitML;"),
    At(5, 1, "KV8 unavailable;C:\\KV8.dll;cannot be loaded, error 126;"),
    At(6, 0, "InitML;"),
    At(6, 1, "Nonsense;"),
};

}  // namespace

// Each mode's whole output for the log of every state (and, for the totals, ten clean runs
// besides), against the bytes kept in tests/tool/expected: every count, time, bar, mark and
// escape as a reader of that mode gets it. Where a change is meant, the file is rewritten by
// hand and the difference read.
TEST_F(ToolTest, EachModeSaysEveryStateOfALogExactly) {
    WriteBytes(tempDir_ / "every.log", LogOf(kEveryState));
    std::vector<std::string> ten;
    for (int run = 0; run < 10; ++run) {
        ten.push_back(At(10 + run, 0, "InitML;"));
        ten.push_back(At(10 + run, 1, "ShutdownML;"));
    }
    WriteBytes(tempDir_ / "ten.log", LogOf(ten));
    const struct {
        std::vector<std::string> mode;
        bool withTen;
        const char* expected;
        int status;  // a damaged record, or runs that failed
    } rows[] = {
        {{}, false, "every.txt", 1},
        {{"--json"}, false, "every.json", 1},
        {{"--summary"}, false, "every.summary.txt", 3},
        {{"--summary", "--json"}, false, "every.summary.json", 3},
        {{"--summary", "--csv"}, false, "every.summary.csv", 3},
        {{"--html"}, false, "every.html", 3},
        {{"--totals"}, true, "totals.txt", 3},
        {{"--totals", "--json"}, true, "totals.json", 3},
    };
    // The logs are named as given; their folder is left out, in JSON's escaping too.
    std::string folder = (tempDir_ / "").string(), jsonFolder;
    for (char c : folder) jsonFolder += c == '\\' ? std::string("\\\\") : std::string(1, c);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.expected);
        std::vector<std::string> arguments = {"log"};
        arguments.insert(arguments.end(), row.mode.begin(), row.mode.end());
        arguments.push_back(Path("every.log"));
        if (row.withTen) arguments.push_back(Path("ten.log"));
        ProgramRun run = Tev(arguments);
        EXPECT_EQ(run.status, row.status) << run.err;
        for (const std::string& prefix : {jsonFolder, folder})
            for (size_t at; (at = run.out.find(prefix)) != std::string::npos;)
                run.out.erase(at, prefix.size());
        EXPECT_EQ(run.out, ReadFile(fs::path(TEV_TEST_EXPECTED) / row.expected));
    }
}

// Every InitML starts a run, and each run is told on its own: its records, its end, its errors.
TEST(RunSummaries, EveryInitMLStartsARunOfItsOwn) {
    std::vector<std::string> lines = {At(0, 0, "wpWarning;before any InitML;")};
    lines.insert(lines.end(), kThreeRuns.begin(), kThreeRuns.end());
    std::vector<tevtool::RunSummary> runs = Summaries(LogOf(lines));
    ASSERT_EQ(runs.size(), 4u);
    std::vector<size_t> ordinals, records, firsts;
    for (const tevtool::RunSummary& run : runs) {
        ordinals.push_back(run.ordinal);
        records.push_back(run.records);
        firsts.push_back(run.firstRecord);
    }
    EXPECT_EQ(ordinals, (std::vector<size_t>{1, 2, 3, 4}));
    EXPECT_EQ(records, (std::vector<size_t>{1, 4, 4, 3}));
    EXPECT_EQ(firsts, (std::vector<size_t>{1, 2, 6, 10}));
    EXPECT_EQ(runs[1].end, tevtool::RunEnd::Shutdown);
    EXPECT_FALSE(runs[1].Failed());
    EXPECT_EQ(tev::ToUtf8(runs[2].firstError->text), "download failed: https://x/b.cab: timed out");
    EXPECT_EQ(runs[3].end, tevtool::RunEnd::Crash);
    EXPECT_EQ(tevtool::TimeText(*runs[3].started), "2016-01-02T03:02:00Z");
    EXPECT_EQ(runs[3].downloads.Total(), 0u);
    // An empty log is one empty run.
    EXPECT_EQ(Summaries("").size(), 1u);
}

// A run refused because the analytics library cannot be called names the library and the cause as
// its first error, before the refusal that follows from it; the two load failures support meets
// most are said in words (Windows's error 126 and 193), in the summary and in the plain decode.
// Moments before 1970 and on a leap day in UTC (the expected texts are `date -u -d @N`'s), and
// the offset of a zone (POSIX TZ rules, which need no zone files): a zone of no offset is +00:00.
TEST(Times, AreShownInUtcAndWithTheZonesOffset) {
    const std::pair<std::int64_t, const char*> utc[] = {
        {-86400, "1969-12-31T00:00:00Z"},     {-1, "1969-12-31T23:59:59Z"},
        {0, "1970-01-01T00:00:00Z"},          {951782400, "2000-02-29T00:00:00Z"},
        {4102444800, "2100-01-01T00:00:00Z"},
    };
    for (const auto& [seconds, text] : utc) {
        std::string shown;
        tevtool::AppendTime(seconds, shown);
        EXPECT_EQ(shown, text);
    }
#ifndef _WIN32
    const char* saved = std::getenv("TZ");
    const std::string savedZone = saved ? saved : "";
    const std::tuple<const char*, std::int64_t, const char*> zones[] = {
        {"UTC0", 4102444800, "2100-01-01T00:00:00+00:00"},  // the last moment shown in UTC
        {"XST-5:30", 120, "1970-01-01T05:32:00+05:30"},
        {"YST3", 180, "1969-12-31T21:03:00-03:00"},
    };
    tevtool::ShowTimesInLocalZone(true);
    for (const auto& [zone, seconds, text] : zones) {
        setenv("TZ", zone, 1);
        tzset();
        std::string shown;
        tevtool::AppendTime(seconds, shown);
        EXPECT_EQ(shown, text) << zone;
    }
    tevtool::ShowTimesInLocalZone(false);
    std::string shown;  // the last moment shown in a zone, in UTC again
    tevtool::AppendTime(180, shown);
    EXPECT_EQ(shown, "1970-01-01T00:03:00Z");
    saved ? setenv("TZ", savedZone.c_str(), 1) : unsetenv("TZ");
    tzset();
#endif
}

#ifndef _WIN32
// On a terminal (script(1) gives the tool one) a good run's outcome is green, a failed run's
// outcome and first error bold bright red, and a warning yellow (ECMA-48's SGR 32, 1 with 91, and
// 33); with NO_COLOR set to anything, no colour at all.
TEST_F(ToolTest, OnATerminalAGoodRunIsGreenAndAFailedOneRed) {
    if (std::system("command -v script >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "no script(1) here to give the tool a terminal";
    WriteBytes(tempDir_ / "two.log",
               LogOf({At(0, 0, "InitML;"), At(0, 1, "ShutdownML;"), At(1, 0, "InitML;"),
                      At(1, 1, "DownloadError;u;timed out;"), At(1, 2, "ShutdownML;"),
                      At(1, 3, "bogus;")}));
    const std::string log = Path("two.log");
    auto shown = [&](const char* ok, const char* failed, const char* warning, const char* end) {
        return log + " (run 1)\r\n  outcome       " + ok + "ok, ShutdownML" + end +
               "\r\n"
               "  started       2016-01-02T03:00:00Z\r\n"
               "  ended         2016-01-02T03:00:01Z  ended normally (ShutdownML)\r\n"
               "  analytics     came up\r\n"
               "  records       2\r\n\r\n" +
               log + " (run 2)\r\n  outcome       " + failed + "failed, ShutdownML" + end +
               "\r\n  first error   " + failed +
               "2016-01-02T03:01:01Z  download failed: u: timed out" + end +
               "\r\n"
               "  started       2016-01-02T03:01:00Z\r\n"
               "  ended         2016-01-02T03:01:03Z  ended normally (ShutdownML)\r\n"
               "  analytics     came up\r\n"
               "  download      u: failed \"timed out\" (no begin in the log)\r\n"
               "  records       4, 1 not as TEV writes them\r\n" +
               warning + "tev: " + log + ": line 6 (byte 314): unknown token" + end + "\r\n";
    };
    const struct {
        const char* noColor;
        std::string out;
    } rows[] = {
        {"", shown("\x1b[32m", "\x1b[1m\x1b[91m", "\x1b[33m", "\x1b[0m")},
        {"1", shown("", "", "", "")},
    };
    for (const auto& row : rows) {
        std::string command = "NO_COLOR=" + std::string(row.noColor) + " script -qec '" +
                              std::string(TEV_TOOL_PATH) + " log --summary " + log + "' /dev/null";
        std::string out;
        if (FILE* pipe = popen(command.c_str(), "r")) {
            char buffer[4096];
            for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
            pclose(pipe);
        }
        EXPECT_EQ(out, row.out) << row.noColor;
    }
}
#endif

TEST(RunSummaries, AnUnavailableLibraryIsTheRunsFirstError) {
    const struct {
        const char* cause;
        const char* meaning;  // what follows the cause in the summary and the decoded line
    } cases[] = {
        {"lacks ?Create@CMLState@@SAPAV1@PB_W@Z", ""},
        {"cannot be loaded, error 126",
         "Windows found the library but not a library it needs (a compiler's runtime, "
         "as a rule); tev doctor on the folder of C:\\setup\\KV8.dll says which"},
        {"cannot be loaded, error 193",
         "it is not a 32-bit Windows library; tev doctor on the folder of "
         "C:\\setup\\KV8.dll says what it is"},
        {"cannot be loaded, error 1260", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cause);
        std::string unavailable =
            std::string("KV8 unavailable;C:\\setup\\KV8.dll;") + c.cause + ";";
        std::string log = LogOf(
            {At(0, 0, "InitML;"), At(0, 0, unavailable), At(0, 0, "Fail to initialize KV8;")});
        std::vector<tevtool::RunSummary> runs = Summaries(log);
        ASSERT_EQ(runs.size(), 1u);
        EXPECT_TRUE(runs[0].Failed());
        EXPECT_EQ(runs[0].end, tevtool::RunEnd::AnalyticsDown);
        std::string meaning = *c.meaning ? std::string(": ") + c.meaning : "";
        EXPECT_EQ(tev::ToUtf8(runs[0].firstError->text),
                  std::string("analytics library missing: C:\\setup\\KV8.dll (") + c.cause + ")" +
                      meaning);
        EXPECT_EQ(runs[0].errors.Total(), 2u);
        std::vector<std::string> lines;
        tevtool::LogDecoder decoder([&](const tevtool::LogRecord& record) {
            lines.emplace_back();
            tevtool::AppendRecordText(record, lines.back());
        });
        decoder.Feed(log);
        decoder.Finish();
        ASSERT_EQ(lines.size(), 3u);
        EXPECT_EQ(lines[1],
                  At(0, 0, unavailable) + (*c.meaning ? std::string("  <- ") + c.meaning : ""));
    }
}

// A long run repeats itself: a warning seen 12,000 times is one row; past the rows kept, texts and
// spans are counted, not kept.
TEST(RunSummaries, RepeatedEventsAreCountedOnOneRowAndRowsAreCapped) {
    std::vector<std::string> lines = {At(0, 0, "InitML;")};
    for (int i = 0; i < 12000; ++i)
        lines.push_back(At(i / 600, i / 10 % 60, "wpWarning;low disk;"));
    const size_t distinct = tevtool::kRowsKept + 50, spans = tevtool::kSpansKept + 300;
    for (size_t i = 0; i < distinct; ++i)
        lines.push_back(At(30, 0, "wpWarning;w" + std::to_string(i) + ";"));
    for (size_t i = 0; i < spans; ++i) {
        std::string url = "https://x/" + std::to_string(i);
        lines.push_back(At(31, 0, "DownloadBegin;" + url + ";"));
        lines.push_back(
            At(31, 1, i % 3 ? "DownloadEnd;" + url + ";" : "DownloadError;" + url + ";e;"));
    }
    std::vector<tevtool::RunSummary> runs = Summaries(LogOf(lines));
    ASSERT_EQ(runs.size(), 1u);
    const tevtool::Tallies& warnings = runs[0].warnings;
    ASSERT_EQ(warnings.Rows().size(), tevtool::kRowsKept);
    EXPECT_EQ(warnings.Rows()[0].count, 12000u);
    EXPECT_EQ(tevtool::TimeText(warnings.Rows()[0].first), "2016-01-02T03:00:00Z");
    EXPECT_EQ(tevtool::TimeText(warnings.Rows()[0].last), "2016-01-02T03:19:59Z");
    EXPECT_EQ(warnings.Total(), 12000 + distinct);
    EXPECT_EQ(warnings.NotKept(), distinct - (tevtool::kRowsKept - 1));
    const tevtool::Spans& downloads = runs[0].downloads;
    EXPECT_EQ(downloads.Kept().size(), tevtool::kSpansKept);
    EXPECT_EQ(downloads.Total(), spans);
    EXPECT_EQ(downloads.Failures(), (spans + 2) / 3);
    EXPECT_EQ(downloads.Kept()[1].outcome, tevtool::Outcome::Ended);  // each keeps its span
    EXPECT_EQ(downloads.Kept()[3].outcome, tevtool::Outcome::Failed);
    EXPECT_EQ(runs[0].errors.Rows().size(), tevtool::kRowsKept);

    // WideString and JSON say what was not kept.
    std::string text = tevtool::SummaryText("long.log", runs[0]);
    EXPECT_NE(text.find("12000 times  \"low disk\""), std::string::npos) << text.substr(0, 2000);
    EXPECT_NE(text.find("and 300 more download, not listed (434 of all 1300 failed)\n"),
              std::string::npos);
    nlohmann::json json = nlohmann::json::parse(tevtool::SummaryJson("long.log", runs[0]));
    EXPECT_EQ(json["downloads_not_kept"], 300);
    EXPECT_EQ(json["warnings"][0]["count"], 12000);
    EXPECT_EQ(json["warnings_not_kept"], 51);
}

// Downloads and installations: an outcome goes to the latest unfinished span of its subject; an
// outcome with no begin opens a span of its own and leaves the earlier one as it was; a span's
// length is that of its records' times, and the run starts at its first timed record.
TEST(RunSummaries, SpansMatchTheirBeginsAndTakeTheirRecordsTimes) {
    std::vector<tevtool::RunSummary> runs = Summaries(LogOf({
        "99/2/2016; 3:0:0; InitML;",  // no valid time: the run starts at the next record
        At(4, 5, "DownloadBegin;u;"), At(10, 0, "DownloadPause;u;"), At(12, 0, "DownloadResume;u;"),
        At(19, 35, "DownloadEnd;u;"), At(20, 0, "DownloadEnd;u;"), At(21, 0, "InstallBegin;P;"),
        At(22, 0, "InstallBegin;P;"), At(23, 0, "InstallEnd;P;"), At(24, 0, "InstallCancel;P;"),
        At(25, 0, "DownloadPause;v;"), At(26, 0, "InstallBegin;Q;"),
        At(25, 50, "InstallEnd;Q;"),  // the clock set back
        "1/2/2016; 23:59:59; DownloadBegin;w;",
        "1/3/2016; 0:0:1; DownloadEnd;w;",  // over midnight
    }));
    ASSERT_EQ(runs.size(), 1u);
    const tevtool::RunSummary& run = runs[0];
    EXPECT_EQ(tevtool::TimeText(*run.started), "2016-01-02T03:04:05Z");
    const std::vector<tevtool::Span>& downloads = run.downloads.Kept();
    ASSERT_EQ(downloads.size(), 4u);
    EXPECT_EQ(downloads[0].Seconds(), 15 * 60 + 30);
    EXPECT_EQ(downloads[0].pauses, 1u);
    EXPECT_EQ(downloads[0].resumes, 1u);
    EXPECT_EQ(tevtool::TimeText(*downloads[0].end), "2016-01-02T03:19:35Z");  // not the second end
    EXPECT_FALSE(downloads[1].begin);
    EXPECT_EQ(downloads[1].outcome, tevtool::Outcome::Ended);
    EXPECT_EQ(downloads[2].outcome, tevtool::Outcome::Unfinished);  // a pause with no begin
    const std::vector<tevtool::Span>& installs = run.installs.Kept();
    ASSERT_EQ(installs.size(), 3u);
    EXPECT_EQ(installs[1].outcome, tevtool::Outcome::Ended);  // the latest begun ends first
    EXPECT_EQ(installs[0].outcome, tevtool::Outcome::Cancelled);

    std::string text = tevtool::SummaryText("d.log", run);
    EXPECT_NE(text.find("  started       2016-01-02T03:04:05Z\n"), std::string::npos) << text;
    EXPECT_NE(text.find("u: ended after 930 s, paused 1x, resumed 1x\n"), std::string::npos)
        << text;
    EXPECT_NE(text.find("u: ended (no begin in the log)\n"), std::string::npos) << text;
    EXPECT_NE(text.find("  install       Q: ended after -10 s\n"), std::string::npos) << text;
    EXPECT_NE(text.find("  download      w: ended after 2 s\n"), std::string::npos) << text;
    nlohmann::json json = nlohmann::json::parse(tevtool::SummaryJson("d.log", run));
    EXPECT_EQ(json["started"], "2016-01-02T03:04:05Z");
    EXPECT_EQ(json["downloads"][0]["seconds"], 930);
    EXPECT_EQ(json["downloads"][1]["begin"], nullptr);
    EXPECT_EQ(json["downloads"][1]["seconds"], nullptr);
}

// Past the subjects followed at once, memory stays put: a begin is counted, and its outcome counts
// as a span of its own; the spans followed still find their outcomes.
TEST(RunSummaries, OpenSpansPastThoseFollowedAreCounted) {
    tevtool::Spans spans;
    tevtool::Moment at{1, true, 0};
    auto subject = [](size_t i) { return tev::FromUtf8("https://x/" + std::to_string(i)); };
    for (size_t i = 0; i <= tevtool::kOpenFollowed; ++i) spans.Begin(subject(i), at);
    spans.Close(subject(tevtool::kOpenFollowed), at, tevtool::Outcome::Failed);
    EXPECT_EQ(spans.Total(), tevtool::kOpenFollowed + 2);
    EXPECT_EQ(spans.Close(subject(0), at, tevtool::Outcome::Ended), &spans.Kept()[0]);
    EXPECT_EQ(spans.Total(), tevtool::kOpenFollowed + 2);
    EXPECT_EQ(spans.Failures(), 1u);
}

// A subject of units below 0x100 and one whose unit at any place is wider with the same low
// byte ("a", U+0161) are two subjects, in whichever order they come: the end of one is no end of
// the other, and the same text ends its own.
TEST(RunSummaries, SubjectsThatDifferOnlyInAUnitsHighByteAreTwo) {
    const tev::WideString narrow = TEV_TEXT("https://x/abcdefghi");  // four words and three units
    const tevtool::Moment at{1, true, 0};
    for (size_t place = 0; place < narrow.size(); ++place) {
        tev::WideString wide = narrow;
        wide[place] = static_cast<TEVChar>(0x100 | narrow[place]);
        for (bool narrowBegins : {true, false}) {
            const tev::WideString& begun = narrowBegins ? narrow : wide;
            const tev::WideString& other = narrowBegins ? wide : narrow;
            tevtool::Spans spans;
            spans.Begin(begun, at);
            spans.Close(other, at, tevtool::Outcome::Failed);
            ASSERT_EQ(spans.Kept().size(), 2u) << place;
            EXPECT_EQ(spans.Kept()[0].outcome, tevtool::Outcome::Unfinished) << place;
            EXPECT_FALSE(spans.Kept()[1].begin) << place;
            spans.Close(begun, at, tevtool::Outcome::Ended);
            EXPECT_EQ(spans.Kept()[0].outcome, tevtool::Outcome::Ended) << place;
            EXPECT_EQ(spans.Total(), 2u) << place;
        }
    }
}

// Tens of thousands of downloads open at once each find their end: no end opens a span of its
// own, the last kept one ended. (Their time, linear in the log, is measured in the bench.)
TEST(RunSummaries, ManyOpenSpansEachFindTheirEnd) {
    constexpr int kCount = 40000;
    std::vector<std::string> lines = {At(0, 0, "InitML;")};
    for (int i = 0; i < kCount; ++i)
        lines.push_back(At(1, 0, "DownloadBegin;https://x/" + std::to_string(i) + ";"));
    for (int i = 0; i < kCount; ++i)
        lines.push_back(At(2, 0, "DownloadEnd;https://x/" + std::to_string(i) + ";"));
    std::vector<tevtool::RunSummary> runs = Summaries(LogOf(lines));
    EXPECT_EQ(runs[0].downloads.Total(), static_cast<size_t>(kCount));
    EXPECT_EQ(runs[0].downloads.Kept().front().outcome, tevtool::Outcome::Ended);
    EXPECT_EQ(runs[0].downloads.Kept().back().outcome, tevtool::Outcome::Ended);
}

// Texts whose hashes are equal stay apart: each download keeps its own outcome, each warning its
// own row, whether the hash in use is the keyed one or one that gives every text the same value.
// The pair was made to collide under an unkeyed hash the summary once used.
TEST(RunSummaries, TextsWithEqualHashesKeepRowsOfTheirOwn) {
    const std::u16string crafted = u"https://0000\u5911\u732E\u6468\u9894";
    const std::string longText(1500, 'l');
    const std::string a = "https://x/a.cab/",
                      b = tev::ToUtf8(tev::WideString(crafted.begin(), crafted.end()));
    const struct {
        const char* name;
        tevtool::TextHash hash;
    } kCases[] = {
        {"keyed", tevtool::KeyedHash},
        {"every text alike", [](std::string_view) -> std::uint64_t { return 42; }},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        tevtool::TextHashFor hash(c.hash);
        // Four warnings first: the rows are indexed by their hashes from the fifth text on. The
        // records twice: the second run's rows are its own, none found in the first run's index.
        const std::vector<std::string> lines = {
            At(0, 0, "InitML;"),
            At(0, 1, "DownloadBegin;" + a + ";"),
            At(0, 2, "DownloadBegin;" + b + ";"),
            At(0, 3, "wpWarning;w;"),
            At(0, 3, "wpWarning;x;"),
            At(0, 3, "wpWarning;y;"),
            At(0, 3, "wpWarning;z;"),
            At(0, 3, "wpWarning;" + a + ";"),
            At(0, 4, "wpWarning;" + b + ";"),
            At(0, 5, "wpWarning;" + b + ";"),
            At(0, 5, "wpWarning;w;"),
            At(0, 5, "wpWarning;" + longText + ";"),  // alike up to where texts are cut
            At(0, 5, "wpWarning;" + longText + "b;"),
            At(0, 5, "wpWarning;" + longText + ";"),
            At(0, 6, "DownloadError;" + a + ";reset;"),
            At(0, 7, "DownloadEnd;" + b + ";"),
            At(0, 8, "DownloadEnd;" + a + ";"),
        };
        std::vector<tevtool::RunSummary> runs = Summaries(LogOf(lines) + LogOf(lines));
        ASSERT_EQ(runs.size(), 2u);
        for (const tevtool::RunSummary& run : runs) {
            const std::vector<tevtool::Span>& downloads = run.downloads.Kept();
            ASSERT_EQ(downloads.size(), 3u);
            EXPECT_EQ(downloads[0].outcome, tevtool::Outcome::Failed);
            EXPECT_EQ(downloads[1].outcome, tevtool::Outcome::Ended);
            EXPECT_TRUE(downloads[1].begin);
            EXPECT_FALSE(downloads[2].begin);  // the second end of a has no begin left
            std::vector<std::pair<std::string, size_t>> warnings;
            for (const tevtool::Tally& row : run.warnings.Rows())
                warnings.emplace_back(tev::ToUtf8(row.text), row.count);
            EXPECT_EQ(warnings, (std::vector<std::pair<std::string, size_t>>{
                                    {"w", 2},
                                    {"x", 1},
                                    {"y", 1},
                                    {"z", 1},
                                    {a, 1},
                                    {b, 2},
                                    {std::string(1024, 'l') + "\xE2\x80\xA6", 2},
                                    {std::string(1024, 'l') + "\xE2\x80\xA6", 1}}));
        }
    }
    // An empty text hashes alike wherever it lies, an empty view with no address at all included.
    const char none[] = "";
    EXPECT_EQ(tevtool::KeyedHash(std::string_view()),
              tevtool::KeyedHash(std::string_view(none, 0)));
}

// No text can drive the terminal, forge a line of the summary or a cell of a spreadsheet, or
// double its backslashes; the page of the same log never breaks on a line feed.
TEST_F(ToolTest, SummaryTextsAreShownSafelyInEveryMode) {
    const std::string attack =
        "\x1b]0;owned\x07\x1b[2J\r\n  first error   forged\t\xC2\x9B"
        "31m";
    WriteBytes(tempDir_ / "attack.log",
               LogOf({At(0, 0, "InitML;"), At(0, 1, "SETUP;path;C:\\ (caf\xC3\xA9);"),
                      At(0, 2, "wpWarning;" + attack + ";"),
                      At(0, 3, "DownloadBegin;https://x/\xE2\x80\xAEgpj.exe;"),
                      At(0, 4, "DownloadError;https://x/\xE2\x80\xAEgpj.exe;" + attack + ";"),
                      At(0, 5, "ShutdownML;")}));
    ProgramRun text = Tev({"log", "--summary", Path("attack.log")});
    EXPECT_EQ(text.status, 3) << text.err;
    for (char c : text.out)
        EXPECT_TRUE(static_cast<unsigned char>(c) >= 0x20 || c == '\n') << int(c);
    // The file's line, then one line for each thing told, each under its label.
    std::vector<std::string> lines = Lines(text.out);
    EXPECT_EQ(lines.size(), 10u) << text.out;
    const std::set<std::string> labels = {"outcome",  "first error", "started",
                                          "ended",    "analytics",   "setup",
                                          "download", "warning",     "records"};
    for (size_t i = 1; i < lines.size(); ++i) {
        std::string label = lines[i].substr(2, 14);
        EXPECT_EQ(labels.count(label.substr(0, label.find_last_not_of(' ') + 1)), 1u) << lines[i];
    }
    EXPECT_NE(text.out.find("path = \"C:\\ (caf\xC3\xA9)\""), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("\\x1b]0;owned\\x07\\x1b[2J\\r\\n  first error   forged\\t\\x9b31m"),
              std::string::npos)
        << text.out;
    EXPECT_NE(text.out.find("https://x/\\u202egpj.exe"), std::string::npos);
    ProgramRun csv = Tev({"log", "--csv", Path("attack.log")});
    EXPECT_EQ(Lines(csv.out).size(), 2u);
    ProgramRun page = Tev({"log", "--html", Path("attack.log")});
    EXPECT_EQ(page.status, 3) << page.err;
    EXPECT_EQ(page.out.find('\x1b'), std::string::npos);
    EXPECT_NE(page.out.find("<p class=\"first-error\">"), std::string::npos);

    // A spreadsheet takes no cell for a formula, whichever separator it splits on; quotes inside a
    // quoted field are doubled (RFC 4180).
    const std::pair<const char*, const char*> cells[] = {
        {"plain.log", "plain.log"},
        {"a,b", "\"a,b\""},
        {"a;b", "\"a;b\""},
        {"a\"b", "\"a\"\"b\""},
        {"=HYPERLINK(\"http://x\")", "\"'=HYPERLINK(\"\"http://x\"\")\""},
        {"+1", "'+1"},
        {"-1", "'-1"},
        {"@SUM(A1)", "'@SUM(A1)"},
        {"Studio;=2+5*cmd|' /C calc'!A0", "\"Studio;=2+5*cmd|' /C calc'!A0\""},
    };
    for (const auto& [file, cell] : cells) EXPECT_EQ(tevtool::LogName(file).csv, cell) << file;
    tevtool::RunSummary failed;
    const tev::WideString errorText = tev::FromUtf8("Studio;=2+5*cmd|' /C calc'!A0");
    failed.firstError = tevtool::Tally{errorText, 1, {}, {}};
    std::string row = tevtool::SummaryCsv("a.log", failed);
    EXPECT_NE(row.find(",\"Studio;=2+5*cmd|' /C calc'!A0\","), std::string::npos) << row;
}

// --failed keeps only the runs that failed, in each mode.
TEST_F(ToolTest, FailedKeepsTheRunsThatFailedInEachMode) {
    WriteBytes(tempDir_ / "three.log", LogOf(kThreeRuns));
    std::vector<nlohmann::json> failed =
        JsonLines(Tev({"log", "--failed", "--summary", "--json", Path("three.log")}).out);
    ASSERT_EQ(failed.size(), 2u);
    EXPECT_EQ(failed[0]["run"], 2);
    EXPECT_EQ(failed[1]["run"], 3);
    EXPECT_EQ(Count(Tev({"log", "--failed", Path("three.log")}).out, "(run "), 2u);
    EXPECT_EQ(Count(Tev({"log", "--failed", "--html", Path("three.log")}).out, "<section id="), 2u);
}

// The page of a long run stays small: the first and last records around a row counting the others,
// labels cut between characters.
TEST_F(ToolTest, ThePageOfALongRunShowsItsEndsAndCountsTheRest) {
    std::vector<std::string> lines = {At(0, 0, "InitML;")};
    std::string url;
    for (int i = 0; i < 40; ++i) url += "\xC3\xA9";  // é, two bytes each
    lines.push_back(At(0, 1, "DownloadBegin;" + url + ";"));
    for (int i = 0; i < 5000; ++i) lines.push_back(At(1 + i / 100, i % 60, "wpWarning;again;"));
    lines.push_back(At(59, 0, "ShutdownML;"));
    WriteBytes(tempDir_ / "long.log", LogOf(lines));
    ProgramRun page = Tev({"log", "--html", Path("long.log")});
    EXPECT_EQ(page.status, 0) << page.err;
    EXPECT_NE(page.out.find("<td></td><td>" + std::to_string(lines.size() - 200) +
                            " records not shown</td>"),
              std::string::npos);
    EXPECT_EQ(Count(page.out, "<tr><td>"), 200u);
    EXPECT_NE(page.out.find("<tr><td>1</td><td>1/2/2016; 3:0:0; InitML;</td></tr>"),
              std::string::npos);
    EXPECT_NE(page.out.find("<tr><td>" + std::to_string(lines.size()) + "</td>"),
              std::string::npos);
    EXPECT_NE(page.out.find("again (5000 times)"), std::string::npos);
    EXPECT_TRUE(utf8::is_valid(page.out.begin(), page.out.end()));
    EXPECT_NE(page.out.find(">download ..." + url.substr(0, 33 * 2) + "<"), std::string::npos);
}

// A bar's label takes 36 characters: one that fits is shown whole, a longer one as "..." and its
// last 33 characters.
TEST_F(ToolTest, ABarsLabelIsCutOnlyPastItsRoom) {
    const struct {
        const char* url;
        const char* label;
    } rows[] = {
        {"bcdefghijklmnopqrstuvwxyz0123456789", "bcdefghijklmnopqrstuvwxyz0123456789"},
        {"abcdefghijklmnopqrstuvwxyz0123456789", "abcdefghijklmnopqrstuvwxyz0123456789"},
        {"abcdefghijklmnopqrstuvwxyz0123456789X", "...efghijklmnopqrstuvwxyz0123456789X"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.url);
        WriteBytes(
            tempDir_ / "bar.log",
            LogOf({At(0, 0, "InitML;"), At(0, 1, "DownloadBegin;" + std::string(row.url) + ";"),
                   At(0, 2, "ShutdownML;")}));
        ProgramRun page = Tev({"log", "--html", Path("bar.log")});
        EXPECT_EQ(page.status, 0) << page.err;
        EXPECT_NE(page.out.find(">download " + std::string(row.label) + "</text>"),
                  std::string::npos);
    }
}

// Each run's section of the page lists its own records in order, whatever the run before held.
TEST_F(ToolTest, EachRunsRecordsAreListedInOrder) {
    std::vector<std::string> lines = {At(0, 0, "InitML;")};
    lines.insert(lines.end(), 249, At(0, 1, "CommitSetupWaypoint;"));
    lines.push_back(At(0, 2, "ShutdownML;"));
    lines.push_back(At(1, 0, "InitML;"));
    lines.insert(lines.end(), 148, At(1, 1, "CommitSetupWaypoint;"));
    lines.push_back(At(1, 2, "ShutdownML;"));
    WriteBytes(tempDir_ / "two.log", LogOf(lines));
    const std::string page = Tev({"log", "--html", Path("two.log")}).out;
    const size_t second = page.find("<tr><td>252</td>");
    ASSERT_NE(second, std::string::npos);
    size_t last = second;
    for (int line = 253; line <= 401; ++line) {
        const size_t at = page.find("<tr><td>" + std::to_string(line) + "</td>");
        ASSERT_GT(at, last) << line;
        last = at;
    }
}

// The totals' first errors are aligned on the entries listed, not on those only counted.
TEST_F(ToolTest, TheTotalsAlignOnTheEntriesListed) {
    std::vector<std::string> lines;
    for (int run = 0; run < 40; ++run) {
        lines.push_back(At(0, 0, "InitML;"));
        lines.push_back(At(0, 1, "DownloadError;http://e/" + std::to_string(run % 20) + ";boom;"));
        lines.push_back(At(0, 2, "ShutdownML;"));
    }
    lines.push_back(At(1, 0, "InitML;"));
    lines.push_back(At(1, 1, "CommitSetupWaypoint;"));
    WriteBytes(tempDir_ / "fleet.log", LogOf(lines));
    ProgramRun run = Tev({"log", "--totals", Path("fleet.log")});
    EXPECT_NE(run.out.find(
                  "\n  first errors  2  DownloadError  \"download failed: http://e/0: boom\"  (" +
                  Path("fleet.log") + ", run 1)\n"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("\n                and 1 more runs with 1 other first errors"),
              std::string::npos);
}

// A log of thousands of runs makes a page under 5 MB: sections while they fit, then runs listed
// in the table only, then counted; the summary still tells every one.
TEST_F(ToolTest, ThePageOfThousandsOfRunsStaysSmall) {
    std::string log, three = LogOf(kThreeRuns);
    for (int i = 0; i < 4000; ++i) log += three;
    WriteBytes(tempDir_ / "many.log", log);
    ProgramRun page = Tev({"log", "--html", Path("many.log")});
    EXPECT_EQ(page.status, 3) << page.err;
    EXPECT_LT(page.out.size(), 5'000'000u);
    size_t sections = Count(page.out, "<section id="), listed = Count(page.out, "<tr class=");
    EXPECT_GT(sections, 100u);
    EXPECT_LT(sections, listed);
    EXPECT_LT(listed, 12000u);
    EXPECT_NE(page.out.find("<p>12000 runs, 8000 failed. " + std::to_string(12000 - sections) +
                            " runs have no section"),
              std::string::npos)
        << page.out.substr(0, 3000);
    EXPECT_NE(page.out.find(std::to_string(12000 - listed) + " runs are not listed."),
              std::string::npos);
    EXPECT_EQ(Count(Tev({"log", "--summary", Path("many.log")}).out, " (run "), 12000u);
}

// A folder makes one page: a table of its runs linking to each run's section.
TEST_F(ToolTest, AFolderMakesOnePageWithATableOfItsRuns) {
    fs::create_directories(tempDir_ / "logs" / "sub");
    WriteBytes(tempDir_ / "logs" / "three.log", LogOf(kThreeRuns));
    WriteBytes(tempDir_ / "logs" / "sub" / "one.log",
               LogOf({At(0, 0, "InitML;"), At(0, 1, "ShutdownML;")}));
    ProgramRun page = Tev({"log", "--html", Path("logs")});
    EXPECT_EQ(page.status, 3) << page.err;
    EXPECT_NE(page.out.find("<p>4 runs, 2 failed."), std::string::npos);
    for (int run = 1; run <= 4; ++run) {
        std::string id = "run-" + std::to_string(run);
        EXPECT_NE(page.out.find("<a href=\"#" + id + "\">"), std::string::npos) << id;
        EXPECT_NE(page.out.find("<section id=\"" + id + "\">"), std::string::npos) << id;
    }
    EXPECT_NE(page.out.find("<td>OnCrash, failed</td><td>the setup crashed</td>"),
              std::string::npos);
}

#ifndef _WIN32
// The pages in a real browser: several runs of one log, a long run aggregated, a folder. Each loads
// without a console error, has a section per run, its aggregated rows, and the first error above
// the timeline. The screenshots are kept with the test outputs.
TEST_F(ToolTest, PagesRenderInAHeadlessBrowser) {
    std::string browser;
    for (const char* candidate : {"/usr/bin/chromium-headless-shell", "/usr/bin/chromium"})
        if (fs::exists(candidate)) browser = candidate;
    if (browser.empty())
        GTEST_SKIP()
            << "no Chromium: neither /usr/bin/chromium-headless-shell nor /usr/bin/chromium "
               "(scripts/install-deps.sh installs the first)";
    fs::path outputs = TEV_TEST_OUTPUTS;
    fs::create_directories(outputs);
    fs::create_directories(tempDir_ / "folder");
    WriteBytes(tempDir_ / "folder" / "three.log", LogOf(kThreeRuns));
    std::vector<std::string> lines = {At(0, 0, "InitML;")};
    for (int i = 0; i < 12000; ++i) lines.push_back(At(1 + i / 300, i % 60, "wpWarning;low disk;"));
    lines.push_back(At(50, 0, "InstallBegin;Studio;"));
    lines.push_back(At(55, 0, "InstallError;Studio;"));
    lines.push_back(At(59, 0, "ShutdownML;"));
    WriteBytes(tempDir_ / "folder" / "long.log", LogOf(lines));
    struct Case {
        std::string name, source;
        size_t sections;
        std::string aggregated;  // present in the page
    };
    for (const Case& c : {Case{"runs", "folder/three.log", 3, ""},
                          Case{"long", "folder/long.log", 1, "12000 times"},
                          Case{"folder", "folder", 4, "records not shown"}}) {
        SCOPED_TRACE(c.name);
        ProgramRun page = Tev({"log", "--html", Path(c.source)});
        ASSERT_EQ(page.status, 3) << page.err;
        WriteBytes(tempDir_ / (c.name + ".html"), page.out);
        std::vector<std::string> common = {"--headless",
                                           "--no-sandbox",
                                           "--disable-gpu",
                                           "--disable-background-networking",
                                           "--no-first-run",
                                           "--user-data-dir=" + Path("profile-" + c.name),
                                           "--enable-logging=stderr",
                                           "--v=0"};
        std::vector<std::string> dump = common;
        dump.insert(dump.end(), {"--dump-dom", "file://" + Path(c.name + ".html")});
        ProgramRun dom = testing_support::RunProgram(browser, dump, "", tempDir_);
        ASSERT_EQ(dom.status, 0) << dom.err;
        EXPECT_EQ(dom.err.find("CONSOLE"), std::string::npos) << dom.err;
        EXPECT_EQ(Count(dom.out, "<section id=\"run-"), c.sections);
        EXPECT_NE(dom.out.find(c.aggregated), std::string::npos);
        size_t section = dom.out.find("<section");
        while (section != std::string::npos) {
            size_t next = dom.out.find("<section", section + 1);
            std::string one = dom.out.substr(section, next - section);
            if (one.find("class=\"mark error\"") != std::string::npos) {
                EXPECT_LT(one.find("class=\"first-error\""), one.find("<svg"))
                    << one.substr(0, 400);
            }
            section = next;
        }
        std::vector<std::string> shot = common;
        shot.insert(shot.end(), {"--window-size=1100,1400",
                                 "--screenshot=" + (outputs / ("page-" + c.name + ".png")).string(),
                                 "file://" + Path(c.name + ".html")});
        ProgramRun screenshot = testing_support::RunProgram(browser, shot, "", tempDir_);
        EXPECT_EQ(screenshot.status, 0) << screenshot.err;
        EXPECT_EQ(screenshot.err.find("CONSOLE"), std::string::npos) << screenshot.err;
        EXPECT_GT(fs::file_size(outputs / ("page-" + c.name + ".png")), 10000u);
    }
}
#endif

// Times are UTC, as the log's stamps are, and say so ("Z"); --local shows them in this machine's
// time zone with its offset, a date going back a day with it. The plain decode shows records as
// logged, so --local is refused there.
TEST_F(ToolTest, TimesAreUtcUnlessTheLocalZoneIsAsked) {
    WriteBytes(tempDir_ / "run.log", LogOf({"1/2/2016; 1:04:05; InitML;",
                                            "1/2/2016; 1:04:09; DownloadBegin;https://x/a.cab;",
                                            "1/2/2016; 1:05:09; ShutdownML;"}));
    auto started = [&](std::vector<std::string> options) {
        options.insert(options.begin(), {"log", "--summary", "--json"});
        options.push_back(Path("run.log"));
        return JsonLines(Tev(options).out).at(0)["started"].get<std::string>();
    };
    testing_support::SetEnv("TZ", "ABC+3:30");
    EXPECT_EQ(started({}), "2016-01-02T01:04:05Z");
    EXPECT_EQ(started({"--local"}), "2016-01-01T21:34:05-03:30");
    testing_support::SetEnv("TZ", "XYZ-1");
    EXPECT_EQ(started({"--local"}), "2016-01-02T02:04:05+01:00");
    ProgramRun records = Tev({"log", "--json", "--local", Path("run.log")});
    EXPECT_EQ(JsonLines(records.out).at(1)["time"], "2016-01-02T02:04:09+01:00");
    ProgramRun page = Tev({"log", "--html", "--local", Path("run.log")});
    EXPECT_NE(page.out.find("2016-01-02T02:05:09+01:00"), std::string::npos);
    EXPECT_EQ(page.out.find("01:05:09Z"), std::string::npos);
    ProgramRun plain = Tev({"log", "--local", Path("run.log")});
    EXPECT_EQ(plain.status, 2);
    EXPECT_NE(plain.err.find("the plain decode shows each record as logged, in UTC"),
              std::string::npos)
        << plain.err;
}

// What the summary, the plain decode and the page each promise of a log's texts and runs, each
// case on a log of its own.
TEST_F(ToolTest, EachModeKeepsItsPromisesOnTextsAndRuns) {
    auto warnings = [](int minute, int count) {
        std::vector<std::string> lines = {At(minute, 0, "InitML;")};
        for (int i = 1; i <= count; ++i)
            lines.push_back(At(minute, i % 60, "wpWarning;w" + std::to_string(i) + ";"));
        lines.push_back(At(minute, 59, "ShutdownML;"));
        return lines;
    };
    // The page: each run's records counted on their own, its last ones in their order, and a
    // logged "<" as text.
    std::vector<std::string> lines = warnings(0, 248);   // 250 records: 50 not shown
    std::vector<std::string> second = warnings(1, 228);  // 230 records: 30 not shown
    second[1] = At(1, 1, "wpWarning;a<b>&c\"d;");
    lines.insert(lines.end(), second.begin(), second.end());
    WriteBytes(tempDir_ / "two.log", LogOf(lines));
    ProgramRun page = Tev({"log", "--html", Path("two.log")});
    EXPECT_EQ(page.status, 0) << page.err;
    size_t secondRun = page.out.find("<section id=\"run-2\"");
    ASSERT_NE(secondRun, std::string::npos);
    EXPECT_NE(page.out.rfind("<td>50 records not shown</td>", secondRun), std::string::npos);
    EXPECT_NE(page.out.find("<td>30 records not shown</td>", secondRun), std::string::npos);
    size_t at = page.out.find("<tr><td>151</td>");
    for (int record = 152; record <= 250 && at != std::string::npos; ++record) {
        size_t next = page.out.find("<tr><td>" + std::to_string(record) + "</td>");
        EXPECT_GT(next, at) << "record " << record << " out of order";
        at = next;
    }
    EXPECT_LT(at, secondRun);
    EXPECT_NE(page.out.find("a&lt;b&gt;&amp;c&quot;d"), std::string::npos);
    EXPECT_EQ(page.out.find("a<b>"), std::string::npos);

    // The plain decode shows DEL escaped; the summary cuts a long text between characters.
    std::string longText = std::string(1023, 'a') + "\xF0\x9F\x98\x80" + std::string(10, 'b');
    WriteBytes(tempDir_ / "texts.log",
               LogOf({At(0, 0, "InitML;"), At(0, 1, "wpWarning;del\x7F;"),
                      At(0, 2, "wpWarning;" + longText + ";"), At(0, 3, "ShutdownML;")}));
    EXPECT_NE(Tev({"log", Path("texts.log")}).out.find("del\\x7f;"), std::string::npos);
    for (const char* mode : {"--summary", "--json"}) {
        ProgramRun summary = Tev({"log", "--summary", mode, Path("texts.log")});
        EXPECT_EQ(summary.out.find("\xEF\xBF\xBD"), std::string::npos) << mode;  // no U+FFFD
        EXPECT_EQ(summary.out.find("\\ud83d"), std::string::npos) << mode;
        EXPECT_NE(summary.out.find(std::string(1023, 'a') + "\xE2\x80\xA6"), std::string::npos)
            << mode;
    }

    // --failed leaves out a whole run even where it follows a failed one in the same log;
    // --local goes with the text summary and CSV too.
    std::vector<std::string> failedThenWhole(kThreeRuns.begin() + 4, kThreeRuns.begin() + 8);
    failedThenWhole.insert(failedThenWhole.end(), kThreeRuns.begin(), kThreeRuns.begin() + 4);
    WriteBytes(tempDir_ / "runs.log", LogOf(failedThenWhole));
    ProgramRun failed = Tev({"log", "--failed", Path("runs.log")});
    EXPECT_EQ(failed.status, 3) << failed.err;
    EXPECT_EQ(Count(failed.out, " (run "), 1u) << failed.out;
    EXPECT_NE(failed.out.find("(run 1)"), std::string::npos) << failed.out;
    for (const char* mode : {"--summary", "--csv"})
        EXPECT_EQ(Tev({"log", mode, "--local", Path("runs.log")}).status, 3) << mode;
}

// What a run keeps stays its own after the runs that follow, each text counted on its own row,
// and a record cut inside a token that begins more than one entry counts as none of them.
TEST(RunSummaries, EachRunKeepsItsOwnTextsAndCounts) {
    std::vector<tevtool::RunSummary> runs = Summaries(
        LogOf({At(0, 0, "InitML;"), At(0, 1, "wpWarning;first run;"), At(0, 2, "wpWarning;again;"),
               At(0, 3, "wpWarning;again;"), At(0, 4, "SETUP;a.setup;0;"), At(0, 5, "ShutdownML;"),
               At(1, 0, "InitML;"), At(1, 1, "wpWarning;second run, a longer text;"),
               At(1, 2, "InstallBegin;Studio;"), At(1, 3, "SETUP;b.setup;1;"),
               At(1, 4, "ShutdownML;"), At(2, 0, "InitML;"), At(2, 1, "InstallBegin;Studio;"),
               At(2, 1, "InstallBegin;Other;"), At(2, 1, "InstallEnd;Other;")}) +
        testing_support::Utf16Line(At(2, 2, "InstallE")).substr(0, 2 * 25));
    ASSERT_EQ(runs.size(), 3u);
    const tevtool::Tallies& first = runs[0].warnings;
    ASSERT_EQ(first.Rows().size(), 2u);
    EXPECT_EQ(tev::ToUtf8(first.Rows()[0].text), "first run");
    EXPECT_EQ(first.Rows()[0].count, 1u);
    EXPECT_EQ(tev::ToUtf8(first.Rows()[1].text), "again");
    EXPECT_EQ(first.Rows()[1].count, 2u);
    EXPECT_EQ(tev::ToUtf8(runs[0].setup.at(0).first), "a.setup");
    EXPECT_EQ(tev::ToUtf8(runs[1].warnings.Rows().at(0).text), "second run, a longer text");
    EXPECT_EQ(tev::ToUtf8(runs[1].installs.Kept().at(0).subject), "Studio");
    EXPECT_EQ(tev::ToUtf8(runs[1].setup.at(0).second), "1");
    // The last run's installations are its own, none begun in the run before. "InstallE" begins
    // both InstallEnd and InstallError: Studio's installation stays unfinished.
    ASSERT_EQ(runs[2].installs.Kept().size(), 2u);
    EXPECT_EQ(runs[2].installs.Kept()[0].outcome, tevtool::Outcome::Unfinished);
    EXPECT_EQ(runs[2].installs.Kept()[1].outcome, tevtool::Outcome::Ended);
    ASSERT_TRUE(runs[2].firstError);
    EXPECT_EQ(tev::ToUtf8(runs[2].firstError->text),
              "cut short after record 16: no ShutdownML or OnCrash");
}

// A folder's summary ends with its totals: runs, logs, how they ended, and the first errors
// grouped by entry and text, most common first, ties in the order first met (files by name). Runs
// cut short are one group whatever record they were cut after; --failed leaves the totals whole;
// CSV gives them, as a table of its own, only when asked.
TEST_F(ToolTest, AFolderSummaryEndsWithItsTotals) {
    fs::create_directories(tempDir_ / "fleet");
    WriteBytes(tempDir_ / "fleet" / "a.log", LogOf(kThreeRuns));
    WriteBytes(tempDir_ / "fleet" / "b.log",
               LogOf({At(0, 0, "InitML;"), At(0, 1, "InstallBegin;Runtime;")}));
    WriteBytes(tempDir_ / "fleet" / "c.log",
               LogOf(std::vector<std::string>(kThreeRuns.begin() + 4, kThreeRuns.begin() + 8)));
    WriteBytes(tempDir_ / "fleet" / "d.log",
               LogOf({At(0, 0, "InitML;"), At(0, 1, "InstallBegin;Other;"),
                      At(0, 2, "InstallBegin;Runtime;")}));
    // Named as the walk names them, with this system's separators; in JSON as JSON strings.
    auto inFleet = [&](const std::string& file) { return (tempDir_ / "fleet" / file).string(); };
    const std::string a = inFleet("a.log"), b = inFleet("b.log");
    const std::string aJson = nlohmann::json(a).dump(), bJson = nlohmann::json(b).dump();
    const std::string text =
        "totals: 6 runs in 4 logs, 5 failed\n"
        "  outcomes      2  failed, ShutdownML\n"
        "                2  failed, cut short\n"
        "                1  ok, ShutdownML\n"
        "                1  failed, OnCrash\n"
        "  first errors  2  DownloadError  \"download failed: https://x/b.cab: timed out\"  (" +
        a +
        ", run 2)\n"
        "                2  InstallBegin   \"cut short: no ShutdownML or OnCrash\"  (" +
        b +
        ", run 1)\n"
        "                1  OnCrash        \"the setup crashed\"  (" +
        a + ", run 3)\n";
    const std::string json =
        "{\"totals\":{\"logs\":4,\"runs\":6,\"failed\":5,\"outcomes\":["
        "{\"outcome\":\"failed\",\"end\":\"ShutdownML\",\"runs\":2},"
        "{\"outcome\":\"failed\",\"end\":\"cut short\",\"runs\":2},"
        "{\"outcome\":\"ok\",\"end\":\"ShutdownML\",\"runs\":1},"
        "{\"outcome\":\"failed\",\"end\":\"OnCrash\",\"runs\":1}],\"first_errors\":["
        "{\"entry\":\"DownloadError\",\"text\":\"download failed: https://x/b.cab: timed out\","
        "\"runs\":2,\"file\":" +
        aJson +
        ",\"run\":2},"
        "{\"entry\":\"InstallBegin\",\"text\":\"cut short: no ShutdownML or OnCrash\",\"runs\":2,"
        "\"file\":" +
        bJson +
        ",\"run\":1},"
        "{\"entry\":\"OnCrash\",\"text\":\"the setup crashed\",\"runs\":1,\"file\":" +
        aJson + ",\"run\":3}],\"first_errors_not_kept\":0}}\n";
    const std::string csv =
        "total,outcome,end,entry,first_error,runs,file,run\n"
        "logs,,,,,4,,\n"
        "runs,,,,,6,,\n"
        "outcome,failed,ShutdownML,,,2,,\n"
        "outcome,failed,cut short,,,2,,\n"
        "outcome,ok,ShutdownML,,,1,,\n"
        "outcome,failed,OnCrash,,,1,,\n"
        "first_error,,,DownloadError,download failed: https://x/b.cab: timed "
        "out,2," +
        a + ",2\nfirst_error,,,InstallBegin,cut short: no ShutdownML or OnCrash,2," + b +
        ",1\nfirst_error,,,OnCrash,the setup crashed,1," + a + ",3\n";
    const struct {
        std::vector<std::string> options;
        std::string ending;  // what the output ends with
        size_t lines;        // of the whole output
    } cases[] = {
        {{"--summary"}, "  records       3\n\n" + text, 62},
        {{"--failed"}, "  records       3\n\n" + text, 54},
        {{"--totals"}, text, 8},
        {{"--summary", "--json"}, "\"failed\":true}\n" + json, 7},
        {{"--failed", "--json"}, "\"failed\":true}\n" + json, 6},
        {{"--totals", "--json"}, json, 1},
        {{"--csv"},
         "\n" + inFleet("d.log") +
             ",1,2016-01-02T03:00:00Z,2016-01-02T03:00:02Z,cut "
             "short,true,0,0,2,0,0,cut short after record 3 (InstallBegin): no ShutdownML "
             "or OnCrash,3,0,true\n",
         7},
        {{"--csv", "--totals"}, csv, 10},
    };
    for (const auto& c : cases) {
        std::vector<std::string> arguments = {"log", Path("fleet")};
        arguments.insert(arguments.end(), c.options.begin(), c.options.end());
        ProgramRun run = Tev(arguments);
        SCOPED_TRACE(arguments[2] + (c.options.size() > 1 ? " " + c.options[1] : ""));
        EXPECT_EQ(run.status, 3) << run.err;
        ASSERT_GE(run.out.size(), c.ending.size()) << run.out;
        EXPECT_EQ(run.out.substr(run.out.size() - c.ending.size()), c.ending) << run.out;
        EXPECT_EQ(Lines(run.out).size(), c.lines) << run.out;
    }
    // One log named alone is no fleet: its summary ends with its run, as it always did.
    EXPECT_FALSE(testing_support::Has(Tev({"log", "--summary", b}).out, "totals"));

    ProgramRun page = Tev({"log", "--html", Path("fleet")});
    EXPECT_NE(page.out.find("<tr><td class=\"number\">2</td><td>InstallBegin</td><td>cut short: no "
                            "ShutdownML or OnCrash</td><td class=\"example\">" +
                            b + ", run 1</td></tr>"),
              std::string::npos)
        << page.out.substr(0, 3000);
    EXPECT_NE(page.out.find("<input type=\"checkbox\" id=\"failed-only\">"), std::string::npos);
    EXPECT_NE(page.out.find("<td class=\"time\">2016-01-02T03:00:00Z</td>"), std::string::npos);
}

// A fleet of ten thousand logs comes to one answer: the first errors of most runs listed, the
// rarest counted on a line of their own, every one in JSON.
TEST_F(ToolTest, TheTotalsOfTenThousandLogs) {
    fs::create_directories(tempDir_ / "fleet");
    auto name = [](int i) {
        std::string digits = std::to_string(i);
        return "log" + std::string(5 - digits.size(), '0') + digits + ".log";
    };
    for (int i = 0; i < 10000; ++i) {
        std::vector<std::string> lines = {At(0, 0, "InitML;")};
        switch (i % 10) {
        case 6:
        case 7: lines.push_back(At(0, 1, "OnCrash;")); break;
        case 8: lines.push_back(At(0, 1, "InstallBegin;Runtime;")); break;
        case 9:
            lines.push_back(
                At(0, 1,
                   "DownloadError;https://x/" + std::to_string(i / 10 % 25) + ".cab;timed out;"));
            break;
        default: break;
        }
        if (i % 10 != 8) lines.push_back(At(0, 2, "ShutdownML;"));
        WriteBytes(tempDir_ / "fleet" / name(i), LogOf(lines));
    }
    ProgramRun run = Tev({"log", "--totals", Path("fleet")});
    EXPECT_EQ(run.status, 3) << run.err;
    std::string expected =
        "totals: 10000 runs in 10000 logs, 4000 failed\n"
        "  outcomes      6000  ok, ShutdownML\n"
        "                2000  failed, OnCrash\n"
        "                1000  failed, cut short\n"
        "                1000  failed, ShutdownML\n"
        "  first errors  2000  OnCrash        \"the setup crashed\"  (" +
        (tempDir_ / "fleet" / "log00006.log").string() +
        ", run 1)\n"
        "                1000  InstallBegin   \"cut short: no ShutdownML or "
        "OnCrash\"  (" +
        (tempDir_ / "fleet" / "log00008.log").string() + ", run 1)\n";
    for (int url = 0; url < 18; ++url)
        expected += "                  40  DownloadError  \"download failed: https://x/" +
                    std::to_string(url) + ".cab: timed out\"  (" +
                    (tempDir_ / "fleet" / name(url * 10 + 9)).string() + ", run 1)\n";
    expected += "                and 280 more runs with 7 other first errors (--json lists each)\n";
    EXPECT_EQ(run.out, expected);
    std::vector<nlohmann::json> json =
        JsonLines(Tev({"log", "--totals", "--json", Path("fleet")}).out);
    ASSERT_EQ(json.size(), 1u);
    const nlohmann::json& errors = json[0]["totals"]["first_errors"];
    ASSERT_EQ(errors.size(), 27u);
    EXPECT_EQ(errors[26]["text"], "download failed: https://x/24.cab: timed out");
    EXPECT_EQ(errors[26]["file"], (tempDir_ / "fleet" / "log00249.log").string());
    EXPECT_EQ(json[0]["totals"]["logs"], 10000);
}

// Runs cut short are grouped by the kind of record each was cut after: one text, two entries.
TEST(FleetTotals, FirstErrorsOfOneTextAreGroupedByEntry) {
    tevtool::FleetTotals totals;
    const std::pair<const char*, const char*> logs[] = {{"a.log", "InstallBegin;Studio;"},
                                                        {"b.log", "DownloadBegin;https://x/a.cab;"},
                                                        {"c.log", "InstallBegin;Runtime;"}};
    for (const auto& [name, last] : logs) {
        const char* file = name;  // a structured binding cannot be captured before C++20
        tevtool::RunSummarizer summarizer(
            [&](const tevtool::RunSummary& run) { totals.AddRun(file, run); });
        tevtool::LogDecoder decoder(
            [&](const tevtool::LogRecord& record) { summarizer.Add(record); });
        decoder.Feed(LogOf({At(0, 0, "InitML;"), At(0, 1, last)}));
        decoder.Finish();
        summarizer.Finish();
    }
    std::vector<std::string> groups;
    for (const tevtool::FleetTotals::ErrorGroup& group : totals.FirstErrors())
        groups.push_back(group.entry + " " + tev::ToUtf8(group.text) + " " +
                         std::to_string(group.runs) + " " + group.file);
    EXPECT_EQ(groups, (std::vector<std::string>{
                          "InstallBegin cut short: no ShutdownML or OnCrash 2 a.log",
                          "DownloadBegin cut short: no ShutdownML or OnCrash 1 b.log"}));
}

// The totals keep the first thousand first errors as groups and count the runs of any other.
TEST(FleetTotals, FirstErrorsPastTheThousandKeptAreCounted) {
    const struct {
        int distinct;
        size_t kept, notKept;
    } rows[] = {{1000, 1000, 0}, {1001, 1000, 1}};
    for (const auto& row : rows) {
        std::vector<std::string> lines;
        for (int i = 0; i < row.distinct; ++i) {
            lines.push_back(At(0, 0, "InitML;"));
            lines.push_back(At(0, 1, "DownloadError;http://z/" + std::to_string(i) + ";e;"));
            lines.push_back(At(0, 2, "ShutdownML;"));
        }
        tevtool::FleetTotals totals;
        for (const tevtool::RunSummary& run : Summaries(LogOf(lines))) totals.AddRun("f.log", run);
        EXPECT_EQ(totals.FirstErrors().size(), row.kept) << row.distinct;
        EXPECT_EQ(totals.FirstErrorsNotKept(), row.notKept) << row.distinct;
    }
}

// A run's summary, every line of it: setup attributes past those kept, a cancelled download, and
// warnings longer than a text is kept, told apart by their whole text (two alike up to the cut
// are two rows; the same one twice is one row), the cut never inside a surrogate pair.
TEST(RunSummaries, TheTextOfARunSaysEachRowExactly) {
    const std::string a1500(1500, 'a'), a1023(1023, 'a'), a1024(1024, 'a');
    std::vector<std::string> lines = {At(0, 0, "InitML;")};
    for (size_t i = 0; i < 202; ++i)
        lines.push_back(At(0, 1, "SETUP;n" + std::to_string(i) + ";v;"));
    const std::vector<std::string> rest = {
        At(0, 2, "DownloadBegin;https://x/a.cab;"),
        At(0, 9, "DownloadCancel;https://x/a.cab;"),
        At(1, 0, "wpWarning;" + a1500 + ";"),
        At(1, 1, "wpWarning;" + a1500 + "b;"),
        At(1, 2, "wpWarning;" + a1023 + "\xF0\x9F\x98\x80" + "tail;"),  // U+1F600 across the cut
        At(1, 3, "wpWarning;" + a1500 + ";"),
        At(1, 4, "wpWarning;short;"),
        At(1, 5, "wpWarning;" + a1500 + "b;"),
        At(1, 6, "wpWarning;" + a1500 + ";"),
        At(2, 0, "ShutdownML;"),
    };
    lines.insert(lines.end(), rest.begin(), rest.end());
    std::vector<tevtool::RunSummary> runs = Summaries(LogOf(lines));
    ASSERT_EQ(runs.size(), 1u);
    std::string expected =
        "run.log (run 1)\n"
        "  outcome       ok, ShutdownML\n"
        "  started       2016-01-02T03:00:00Z\n"
        "  ended         2016-01-02T03:02:00Z  ended normally (ShutdownML)\n"
        "  analytics     came up\n";
    for (size_t i = 0; i < 200; ++i)
        expected += "  setup         n" + std::to_string(i) + " = \"v\"\n";
    expected +=
        "  setup         and 2 more attributes, not listed\n"
        "  download      https://x/a.cab: cancelled after 7 s\n"
        "  warning       2016-01-02T03:01:00Z to 2016-01-02T03:01:06Z, 3 times  \"" +
        a1024 + "\xE2\x80\xA6\"\n" +
        "  warning       2016-01-02T03:01:01Z to 2016-01-02T03:01:05Z, 2 times  \"" + a1024 +
        "\xE2\x80\xA6\"\n" + "  warning       2016-01-02T03:01:02Z  \"" + a1023 +
        "\xE2\x80\xA6\"\n" + "  warning       2016-01-02T03:01:04Z  \"short\"\n" +
        "  records       213\n";
    EXPECT_EQ(tevtool::SummaryText("run.log", runs[0]), expected);
}

// A text as long as a cut one, equal to the kept part of a longer text begun first (cut a unit
// early, before a pair), is a text of its own: the download it ends is another, its warning is a
// row of its own.
TEST(RunSummaries, ATextLikeALongerOnesKeptPartIsAnother) {
    const std::string kept(1023, 'p');
    const std::string longer = kept + "\xF0\x9F\x98\x80" + std::string(100, 'p');
    const std::string lookalike = kept + "\xE2\x80\xA6";
    const std::string log = LogOf({
        At(0, 0, "InitML;"),
        At(0, 1, "DownloadBegin;" + longer + ";"),
        At(0, 2, "DownloadEnd;" + lookalike + ";"),
        At(0, 3, "wpWarning;" + longer + ";"),
        At(0, 4, "wpWarning;" + lookalike + ";"),
    });
    const std::vector<tevtool::Span> downloads = Summaries(log).at(0).downloads.Kept();
    ASSERT_EQ(downloads.size(), 2u);
    EXPECT_EQ(downloads[0].outcome, tevtool::Outcome::Unfinished);
    EXPECT_EQ(downloads[1].outcome, tevtool::Outcome::Ended);
    EXPECT_FALSE(downloads[1].begin);
    // The rows, also when the two texts' hashes land them together.
    tevtool::TextHashFor alike([](std::string_view) -> std::uint64_t { return 42; });
    const std::vector<tevtool::Tally> warnings = Summaries(log).at(0).warnings.Rows();
    ASSERT_EQ(warnings.size(), 2u);
    EXPECT_EQ(warnings[0].count, 1u);
    EXPECT_EQ(warnings[1].count, 1u);
}

// Pauses and outcomes with no begin: a pause opens a span the next pause of its subject finds,
// an outcome closes its own; a text of exactly the length kept is kept whole, a longer one cut.
TEST(RunSummaries, WithoutABeginAPauseOpensASpanAndAnOutcomeClosesOne) {
    const tevtool::Moment at{1, true, 0};
    tevtool::Spans spans;
    spans.Pause(TEV_TEXT("u"), at);
    spans.Pause(TEV_TEXT("u"), at);
    spans.Close(TEV_TEXT("v"), at, tevtool::Outcome::Ended);
    spans.Close(TEV_TEXT("v"), at, tevtool::Outcome::Ended);
    ASSERT_EQ(spans.Kept().size(), 3u);
    EXPECT_EQ(spans.Kept()[0].pauses, 2u);
    EXPECT_EQ(spans.Kept()[0].outcome, tevtool::Outcome::Unfinished);
    EXPECT_EQ(spans.Kept()[1].outcome, tevtool::Outcome::Ended);
    EXPECT_EQ(spans.Kept()[2].outcome, tevtool::Outcome::Ended);
    for (size_t length : {tevtool::kTextKept, tevtool::kTextKept + 1}) {
        tevtool::Tallies warnings;
        warnings.Add(tev::WideString(length, 'a'), at);
        EXPECT_EQ(warnings.Rows().at(0).text,
                  length == tevtool::kTextKept
                      ? tev::WideString(length, 'a')
                      : tev::WideString(tevtool::kTextKept, 'a') + TEVChar(0x2026));
    }
}

// Subjects open, narrow, wide or longer than a text is kept, find their ends after many others
// came and went. A cleared index, large or small, finds nothing of before: an end then is a span
// of its own.
TEST(RunSummaries, OpenSubjectsOutliveOthersComingAndGoingAndNoneOutlivesAClear) {
    const tevtool::Moment at{1, true, 0};
    const std::vector<tev::WideString> early = {TEV_TEXT("https://x/a.cab"),
                                                tev::FromUtf8("\xC5\xA1kola \xE5\xAD\xA6"),
                                                tev::WideString(3000, 'z')};
    tevtool::Spans spans;
    for (const tev::WideString& subject : early) spans.Begin(subject, at);
    const tev::WideString passing(1000, 'p');
    const size_t cycles = 100;
    for (size_t i = 0; i < cycles; ++i) {
        spans.Begin(passing, at);
        spans.Close(passing, at, tevtool::Outcome::Ended);
    }
    for (size_t i = 0; i < early.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(spans.Close(early[i], at, tevtool::Outcome::Failed), &spans.Kept()[i]);
    }
    EXPECT_EQ(spans.Total(), early.size() + cycles);

    for (size_t open : {10u, 2000u}) {
        SCOPED_TRACE(open);
        tevtool::Spans cleared;
        for (size_t i = 0; i < open; ++i)
            cleared.Begin(tev::FromUtf8("https://x/" + std::to_string(i)), at);
        cleared.Pause(TEV_TEXT("https://x/0"), at);  // the begun ones followed
        cleared.Clear();
        cleared.Close(TEV_TEXT("https://x/5"), at, tevtool::Outcome::Ended);
        cleared.Begin(TEV_TEXT("https://x/6"), at);
        cleared.Close(TEV_TEXT("https://x/6"), at, tevtool::Outcome::Cancelled);
        ASSERT_EQ(cleared.Kept().size(), 2u);
        EXPECT_FALSE(cleared.Kept()[0].begin);
        EXPECT_EQ(cleared.Kept()[1].outcome, tevtool::Outcome::Cancelled);
        EXPECT_EQ(cleared.Total(), 2u);
    }
}

// An outcome cut inside its subject at the log's end ends the latest unfinished span its text
// begins, of the entry's kind: each entry, the span it ends and how.
TEST(RunSummaries, AnOutcomeCutInsideItsSubjectEndsTheSpanItBegins) {
    const struct {
        const char* entry;
        bool install;
        tevtool::Outcome outcome;
    } kCases[] = {
        {"DownloadEnd", false, tevtool::Outcome::Ended},
        {"DownloadCancel", false, tevtool::Outcome::Cancelled},
        {"DownloadError", false, tevtool::Outcome::Failed},
        {"InstallEnd", true, tevtool::Outcome::Ended},
        {"InstallCancel", true, tevtool::Outcome::Cancelled},
        {"InstallError", true, tevtool::Outcome::Failed},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.entry);
        const std::string cut = testing_support::Utf16Line(
            At(0, 3, std::string(c.entry) + (c.install ? ";Stu" : ";https://x/a")));
        std::vector<tevtool::RunSummary> runs =
            Summaries(LogOf({At(0, 0, "InitML;"), At(0, 1, "DownloadBegin;https://x/a.cab;"),
                             At(0, 2, "InstallBegin;Studio;")}) +
                      cut.substr(0, cut.size() - 4));  // without its CR LF
        ASSERT_EQ(runs.size(), 1u);
        const tevtool::Spans& ended = c.install ? runs[0].installs : runs[0].downloads;
        const tevtool::Spans& other = c.install ? runs[0].downloads : runs[0].installs;
        ASSERT_EQ(ended.Kept().size(), 1u);
        EXPECT_EQ(ended.Kept()[0].outcome, c.outcome);
        EXPECT_EQ(other.Kept().at(0).outcome, tevtool::Outcome::Unfinished);
    }
}

// However the subjects open at once lie in their table (several at one place, some past its end
// and wrapped to its start) and in whatever order they end, each end finds its own span.
TEST(RunSummaries, EachSubjectFindsItsSpanWhateverOrderTheyEnd) {
    // The hash is the subject's first byte: its slot in a table of eight is that byte's low bits.
    tevtool::TextHashFor firstByte([](std::string_view bytes) -> std::uint64_t {
        return static_cast<unsigned char>(bytes[0]);
    });
    const std::vector<std::string> subjects = {"7a", "7b", "0a", "7c", "6a", "1a"};
    std::vector<size_t> order = {0, 1, 2, 3, 4, 5};
    const tevtool::Moment at{1, true, 0};
    do {
        tevtool::Spans spans;
        for (const std::string& subject : subjects) spans.Begin(tev::FromUtf8(subject), at);
        for (size_t i : order)
            ASSERT_EQ(spans.Close(tev::FromUtf8(subjects[i]), at, tevtool::Outcome::Ended),
                      &spans.Kept()[i])
                << subjects[i];
        EXPECT_EQ(spans.Total(), subjects.size());
    } while (std::next_permutation(order.begin(), order.end()));
}
