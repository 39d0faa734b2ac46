// The log when the disk fails. Every failure the platform can report is injected, through its
// table of operations, at every point of a logged run; then a real filesystem is filled. The log
// must hold only whole lines the run meant to write, in order, as `tev log` reads them, and the
// run must report everything whatever happens to its log.
#include <nlohmann/json.hpp>

#include <algorithm>
#include <map>

#include "run/run.h"
#include "support.h"
#include "../tool/tool_support.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

using namespace tev;

namespace {

enum class Fault {
    kNone,
    kOpenFails,
    kSeekFails,
    kClockFails,
    kWriteFails,      // nothing written
    kShortEven,       // stops short at an even byte
    kShortOdd,        // stops short at an odd byte
    kShortThenFails,  // stops short at an odd byte, and the next write fails
    kWritesNothing,   // says it succeeded, with nothing written
};

const char* Name(Fault fault) {
    const char* names[] = {"none",         "open fails",        "seek fails",
                           "clock fails",  "write fails",       "short at even",
                           "short at odd", "short, then fails", "writes nothing"};
    return names[static_cast<int>(fault)];
}

// The injected fault and what it did, shared with the operations below.
struct Injection {
    Fault fault = Fault::kNone;
    int at = 0;  // the index of the call of that operation that fails
    bool fired = false;
    int lostLine = -1;  // the line being written when it fired
    bool failNextWrite = false;
    bool truncateFails = false;
    int seeks = 0, clocks = 0, writes = 0;
};

Injection injection;
platform::Operations real;

bool Fires(Fault fault, int& counter) {
    if (injection.fault != fault || counter++ != injection.at) return false;
    injection.fired = true;
    injection.lostLine = injection.seeks - 1;  // every line begins with one seek
    return true;
}

platform::FileHandle FaultyCreate(const TEVChar* fileName) {
    int opens = 0;
    return Fires(Fault::kOpenFails, opens) ? platform::kNoFile : real.createTempFile(fileName);
}

std::int64_t FaultySeek(platform::FileHandle file) {
    ++injection.seeks;
    int seek = injection.seeks - 1;
    return Fires(Fault::kSeekFails, seek) ? -1 : real.seekToEnd(file);
}

// A fixed clock, so that whole decoded records can be compared.
bool FaultyClock(platform::CalendarTime& now) {
    if (Fires(Fault::kClockFails, injection.clocks)) return false;
    now = {2026, 12, 7, 22, 18, 36};
    return true;
}

std::ptrdiff_t FaultyWrite(platform::FileHandle file, const void* bytes, std::size_t size) {
    if (injection.failNextWrite) {
        injection.failNextWrite = false;
        return -1;
    }
    Fault fault = injection.fault;
    if (fault < Fault::kWriteFails || !Fires(fault, injection.writes))
        return real.write(file, bytes, size);
    if (fault == Fault::kWriteFails || size < 2) return -1;
    if (fault == Fault::kWritesNothing) return 0;
    std::size_t part = size / 2 & ~std::size_t{1};
    if (fault != Fault::kShortEven) part |= 1;
    if (part == 0) part = 2;
    injection.failNextWrite = fault == Fault::kShortThenFails;
    return real.write(file, bytes, part);
}

bool FaultyTruncate(platform::FileHandle file, std::int64_t size) {
    return !injection.truncateFails && real.truncate(file, size);
}

// A run with a line of every shape: fixed tokens, free texts, a separator and non-ASCII inside.
void PlayLoggedRun() {
    TEVUtil::InitML(true);
    TEVUtil::AddAttributeToSetup(T("edition"), T("pro;x"));
    TEVUtil::AddNRData(T("Studio"), T("size.mb"), 1536);
    TEVUtil::wpWarning(T("disque plein \u00e9\u65e5"));
    TEVUtil::DownloadError(T("https://example.com/a.cab"), T("timeout"), 12);
    TEVUtil::ShutdownML();
}

using testing_support::Lines;

// What `tev log --json` makes of a log: the records, and its verdict.
testing_support::ProgramRun DecodeLogWithTool(const std::filesystem::path& log,
                                              const std::filesystem::path& dir) {
    return testing_support::RunTool(dir, {"log", "--json", log.string()});
}

// The log's bytes cut into lines, each with its CR LF.
std::vector<std::string> ByteLines(const std::string& bytes) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t at = 0; at + 4 <= bytes.size(); at += 2)
        if (bytes.compare(at, 4, std::string("\r\0\n\0", 4)) == 0) {
            lines.push_back(bytes.substr(start, at + 4 - start));
            start = at + 4;
            at += 2;
        }
    if (start < bytes.size()) lines.push_back(bytes.substr(start));
    return lines;
}

}  // namespace

class DiskFaults : public TevTest {
protected:
    void SetUp() override {
        TevTest::SetUp();
        real = platform::operations;
        platform::operations.createTempFile = FaultyCreate;
        platform::operations.seekToEnd = FaultySeek;
        platform::operations.utcNow = FaultyClock;
        platform::operations.write = FaultyWrite;
        platform::operations.truncate = FaultyTruncate;
    }
    void TearDown() override {
        TevTest::TearDown();
        platform::operations = real;
        injection = {};
    }

    // Plays the run with the fault at that point, from a clean slate.
    void PlayWith(Fault fault, int at, bool truncateFails = false) {
        kv8::Reset();
        std::filesystem::remove(LogPath());
        injection = {};
        injection.fault = fault;
        injection.at = at;
        injection.truncateFails = truncateFails;
        PlayLoggedRun();
    }

    testing_support::ProgramRun DecodeWithTool() { return DecodeLogWithTool(LogPath(), tempDir_); }
};

TEST_F(DiskFaults, EveryFailureAtEveryPointLeavesOnlyWholeLinesTheRunMeantToWrite) {
    PlayWith(Fault::kNone, 0);
    const std::vector<std::string> meant = ByteLines(LogBytes());
    const std::vector<std::string> delivered = Delivered();
    testing_support::ProgramRun decoded = DecodeWithTool();
    ASSERT_EQ(decoded.status, 0) << decoded.err;
    const std::vector<std::string> meantRecords = Lines(decoded.out);
    ASSERT_EQ(meant.size(), 9u);
    ASSERT_EQ(meantRecords.size(), meant.size());
    EXPECT_EQ(nlohmann::json::parse(meantRecords[4])["fields"],
              nlohmann::json::array({"disque plein \u00e9\u65e5"}));

    // The run's writes alternate between a line's text and its CR LF, so that a failing write at
    // each point is also a failure of the CR LF alone at every other point.
    int points = 0;
    for (Fault fault :
         {Fault::kOpenFails, Fault::kSeekFails, Fault::kClockFails, Fault::kWriteFails,
          Fault::kShortEven, Fault::kShortOdd, Fault::kShortThenFails, Fault::kWritesNothing}) {
        for (int at = 0;; ++at) {
            PlayWith(fault, at);
            if (!injection.fired) break;
            ++points;
            std::string where = std::string(Name(fault)) + " at call " + std::to_string(at) +
                                " (line " + std::to_string(injection.lostLine) + ")";
            SCOPED_TRACE(where);
            EXPECT_EQ(Delivered(), delivered);  // the run goes on, reporting everything

            if (fault == Fault::kOpenFails) {
                EXPECT_FALSE(LogExists());
                continue;
            }
            // A short write is continued; any other failure costs the one line it struck.
            bool continued = fault == Fault::kShortEven || fault == Fault::kShortOdd;
            std::vector<std::string> expected = meant, expectedRecords = meantRecords;
            if (!continued) {
                expected.erase(expected.begin() + injection.lostLine);
                expectedRecords.erase(expectedRecords.begin() + injection.lostLine);
            }
            std::vector<std::string> lines = ByteLines(LogBytes());
            EXPECT_EQ(lines, expected);

            testing_support::ProgramRun tool = DecodeWithTool();
            EXPECT_EQ(tool.status, 0);
            EXPECT_EQ(tool.err, "");
            EXPECT_EQ(Lines(tool.out), expectedRecords);
        }
    }
    EXPECT_EQ(points, 1 + 9 + 9 + 5 * 18);  // one open; per line a seek, a clock and two writes
}

// When the system will not cut a failed line back either, the log goes on: the next line ends the
// torn one first, on a code unit's boundary, and stands on its own. Every failure that leaves part
// of a line behind, at every point: the log holds the lines the run meant to write, the struck one
// whole (only its CR LF was missing), torn and ended, or torn as the log's last.
TEST_F(DiskFaults, ALineThatCannotBeCutBackIsEndedAndLaterLinesStandOnTheirOwn) {
    PlayWith(Fault::kNone, 0);
    const std::vector<std::string> meant = ByteLines(LogBytes());
    const std::vector<std::string> delivered = Delivered();
    const std::string lineEnd("\r\0\n\0", 4);
    int points = 0, torn = 0;
    for (Fault fault : {Fault::kWriteFails, Fault::kShortThenFails}) {
        for (int at = 0;; ++at) {
            PlayWith(fault, at, true);  // every cut-back fails
            if (!injection.fired) break;
            ++points;
            SCOPED_TRACE(std::string(Name(fault)) + " at call " + std::to_string(at) + " (line " +
                         std::to_string(injection.lostLine) + ")");
            EXPECT_EQ(Delivered(), delivered);

            std::vector<std::string> lines = ByteLines(LogBytes());
            std::vector<std::string> others = meant;
            others.erase(others.begin() + injection.lostLine);
            if (lines == meant || lines == others) continue;  // whole, or nothing of it written
            ++torn;
            ASSERT_EQ(lines.size(), meant.size());
            std::size_t lost = static_cast<std::size_t>(injection.lostLine);
            for (std::size_t i = 0; i < lines.size(); ++i) {
                if (i != lost) {
                    EXPECT_EQ(lines[i], meant[i]);
                }
            }
            // A part of the line, and, unless it is the log's last, the byte that completes its
            // last code unit and a CR LF.
            const std::string& whole = meant[lost];
            std::string part = lines[lost];
            if (lost + 1 < meant.size()) {
                ASSERT_GE(part.size(), 4u);
                EXPECT_EQ(part.substr(part.size() - 4), lineEnd);
                part.resize(part.size() - 4);
                EXPECT_EQ(part.size() % 2, 0u);
                if (whole.compare(0, part.size(), part) != 0) part.pop_back();  // completing byte
            }
            EXPECT_GT(part.size(), 0u);
            EXPECT_LT(part.size(), whole.size());
            EXPECT_EQ(whole.compare(0, part.size(), part), 0);
        }
    }
    EXPECT_EQ(points, 2 * 18);
    // Part of the text of each line; of the last line's CR LF, which no later line completes.
    EXPECT_EQ(torn, 9 + 2);
}

// A cut-back that fails once: the next line cuts the torn line back after all, and nothing of it
// stays.
TEST_F(DiskFaults, ATornLineIsCutBackWhenTheSystemLetsItLater) {
    PlayWith(Fault::kNone, 0);
    std::vector<std::string> meant = ByteLines(LogBytes());
    kv8::Reset();
    std::filesystem::remove(LogPath());
    injection = {};
    injection.fault = Fault::kShortThenFails;
    injection.at = 6;  // the text of the fourth line
    injection.truncateFails = true;
    TEVUtil::InitML(true);
    TEVUtil::AddAttributeToSetup(T("edition"), T("pro;x"));
    TEVUtil::AddNRData(T("Studio"), T("size.mb"), 1536);
    injection.truncateFails = false;
    TEVUtil::wpWarning(T("disque plein \u00e9\u65e5"));
    TEVUtil::DownloadError(T("https://example.com/a.cab"), T("timeout"), 12);
    TEVUtil::ShutdownML();
    meant.erase(meant.begin() + 3);
    EXPECT_EQ(ByteLines(LogBytes()), meant);
}

// The end of a torn line that itself lands only in part: the rest of it goes before anything else,
// so that the next line still stands on its own. Cut-backs fail throughout.
TEST_F(DiskFaults, TheEndOfATornLineThatLandsInPartIsCompletedBeforeTheNextLine) {
    // What each write call may put down, by its index: bytes, or -1 for a failure; whole if absent.
    static const std::map<int, std::ptrdiff_t> kLimits = {
        {4, 7},
        {5, -1},  // "one" stops at an odd byte: torn, its end owed
        {6, 2},
        {7, -1},  // its end lands in part when "two" comes, which is dropped
    };
    static int calls;
    calls = 0;
    testing_support::ScopedOperation write(
        platform::operations.write,
        +[](platform::FileHandle file, const void* bytes, std::size_t size) -> std::ptrdiff_t {
            auto limit = kLimits.find(calls++);
            if (limit == kLimits.end()) return real.write(file, bytes, size);
            if (limit->second < 0) return -1;
            return real.write(file, bytes, std::min(size, std::size_t(limit->second)));
        });
    testing_support::ScopedOperation truncate(
        platform::operations.truncate, +[](platform::FileHandle, std::int64_t) { return false; });
    ASSERT_TRUE(TEVUtil::InitML(true));
    for (const TEVChar* text : {T("one"), T("two"), T("three")}) TEVUtil::wpWarning(text);
    EXPECT_EQ(calls, 11);

    std::vector<std::string> lines = ByteLines(LogBytes());
    ASSERT_EQ(lines.size(), 4u);
    const std::string lineEnd("\r\0\n\0", 4);
    // The torn line: 7 bytes of it, the byte that completes its last code unit, and CR LF.
    EXPECT_EQ(lines[2].size(), 7u + 1u + lineEnd.size());
    EXPECT_EQ(lines[2].substr(lines[2].size() - 4), lineEnd);
    std::string last = lines[3].substr(0, lines[3].size() - lineEnd.size());
    EXPECT_EQ(testing_support::Fields(testing_support::Utf8(testing_support::Utf16Units(last))),
              "wpWarning;three;");
}

#ifndef _WIN32
// A real filesystem that fills up: a small tmpfs made the temporary directory, where the machine
// lets the test mount one.
class FullFilesystem : public TevTest {
protected:
    void SetUp() override {
        TevTest::SetUp();
        mountPoint_ = tempDir_ / "small";
        std::filesystem::create_directory(mountPoint_);
    }
    void TearDown() override {
        TEVUtil::ShutdownML();
        if (mounted_) {
            umount2(mountPoint_.c_str(), MNT_DETACH);
        }
        TevTest::TearDown();
    }

    bool Mount(const char* size) {
        std::string options = std::string("size=") + size;
        if (mount("tmpfs", mountPoint_.c_str(), "tmpfs", 0, options.c_str()) != 0) {
            skipReason_ = std::string("cannot mount a tmpfs here (") + std::strerror(errno) +
                          "); this test needs root, as in the CI container";
            return false;
        }
        mounted_ = true;
        testing_support::UseTempDirectory(mountPoint_);
        logDir_ = mountPoint_;
        return true;
    }

    // Takes every byte the filesystem has left, then gives `room` bytes back.
    void Fill(std::size_t room) {
        std::string filler = (mountPoint_ / "filler").string();
        int fd = open(filler.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(fd, 0);
        char block[4096] = {};
        for (std::size_t size = sizeof block; size > 0; size /= 2)
            while (write(fd, block, size) == static_cast<ssize_t>(size)) {
            }
        off_t end = lseek(fd, 0, SEEK_END);
        ASSERT_EQ(ftruncate(fd, end - static_cast<off_t>(room)), 0);
        close(fd);
    }

    // The log's lines, each required to be whole and to be the next of `meant` the run wrote.
    std::vector<std::string> WholeLinesInOrder(const std::vector<std::string>& meant) {
        std::vector<std::string> found;
        std::size_t next = 0;
        for (const std::string& bytes : ByteLines(LogBytes())) {
            EXPECT_EQ(bytes.substr(bytes.size() < 4 ? 0 : bytes.size() - 4),
                      std::string("\r\0\n\0", 4));
            std::string fields =
                testing_support::Fields(testing_support::Utf8(testing_support::Utf16Units(bytes)));
            fields = fields.substr(0, fields.size() - 2);
            while (next < meant.size() && meant[next] != fields) ++next;
            EXPECT_LT(next, meant.size())
                << "a line the run did not write in this place: " << fields;
            found.push_back(fields);
            ++next;
        }
        testing_support::ProgramRun tool = DecodeLogWithTool(LogPath(), tempDir_);
        EXPECT_EQ(tool.status, 0) << tool.err;
        EXPECT_EQ(tool.err, "");
        return found;
    }

    std::filesystem::path mountPoint_;
    bool mounted_ = false;
    std::string skipReason_;
};

TEST_F(FullFilesystem, ARunThatFillsTheDiskEndsItsLogWithAWholeLine) {
    if (!Mount("8k")) GTEST_SKIP() << skipReason_;
    std::vector<std::string> meant = {"InitML;", "SETUP;a.setup;0;"};
    ASSERT_TRUE(TEVUtil::InitML(true));
    for (int i = 0; i < 200; ++i) {
        std::string text = "warning " + std::to_string(i) + " of a run on a full disk";
        TEVUtil::wpWarning(WideString(text.begin(), text.end()).c_str());
        meant.push_back("wpWarning;" + text + ";");
    }
    TEVUtil::ShutdownML();
    meant.insert(meant.end(), {"ShutdownML;", "CommitSetupWaypoint;", "CommitProducts();"});
    std::vector<std::string> found = WholeLinesInOrder(meant);
    EXPECT_GT(found.size(), 10u);
    EXPECT_LT(found.size(), meant.size());    // the disk did fill
    EXPECT_EQ(Delivered().size(), 200u + 3);  // start-up, warnings, setup, shut-down
}

TEST_F(FullFilesystem, LinesAfterRoomComesBackAreWholeAndOnTheirOwn) {
    if (!Mount("64k")) GTEST_SKIP() << skipReason_;
    Fill(4096);  // one page: the log gets part of its lines in
    std::vector<std::string> meant = {"InitML;", "SETUP;a.setup;0;"};
    ASSERT_TRUE(TEVUtil::InitML(true));
    auto warn = [&](const std::string& text) {
        TEVUtil::wpWarning(WideString(text.begin(), text.end()).c_str());
        meant.push_back("wpWarning;" + text + ";");
    };
    for (int i = 0; i < 50; ++i) warn("written while the disk is full " + std::to_string(i));
    std::filesystem::remove(mountPoint_ / "filler");
    for (int i = 0; i < 50; ++i) warn("written after room came back " + std::to_string(i));
    TEVUtil::ShutdownML();
    meant.insert(meant.end(), {"ShutdownML;", "CommitSetupWaypoint;", "CommitProducts();"});

    std::vector<std::string> found = WholeLinesInOrder(meant);
    ASSERT_LT(found.size(), meant.size());  // the disk was full for a while
    // Everything from the moment room came back is there.
    std::vector<std::string> after(meant.end() - 53, meant.end());
    ASSERT_GE(found.size(), after.size());
    EXPECT_EQ(std::vector<std::string>(found.end() - 53, found.end()), after);
}
#endif
