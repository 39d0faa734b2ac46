// tev as a support engineer uses it: safe on a customer's machine, a decoder that gives back what
// was logged, a summary per run and a folder of logs in one command. Every test writes its own
// files in its own temporary directory.
#include <nlohmann/json.hpp>

#include <fstream>

#include "printers/escaped_text.h"
#include "tool_support.h"

#ifndef _WIN32
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#endif

namespace {

using testing_support::Count;
using testing_support::JsonLines;
using testing_support::Lines;
using testing_support::ProgramRun;
using testing_support::Utf16Line;
using testing_support::WriteBytes;
namespace fs = std::filesystem;

}  // namespace

class ToolLog : public ToolTest {
protected:
    // Plays `scenario` with the log written in `dir`; returns the log's path.
    std::string PlayLogged(const std::string& scenario, const std::string& dir = "logs") {
        WriteBytes(tempDir_ / "scenario.tev", scenario);
        fs::create_directories(tempDir_ / dir);
        ProgramRun run = Tev({"run", Path("scenario.tev"), "--log-dir", Path(dir)});
        EXPECT_EQ(run.status, 0) << run.err;
        return (tempDir_ / dir / "Setup_TEV.log").string();
    }
};

TEST_F(ToolLog, RunStaysInItsPlayAndNamesOnlyALogItWrote) {
    const std::string real = Utf16Line("1/2/2016; 3:4:5; InitML;") + "a customer's own log";
    WriteBytes(LogPath(), real);
    // A link planted where an older tool kept its plays' logs, to the real log's folder.
    std::error_code noLinks;
    fs::create_directory_symlink(tempDir_, tempDir_ / "tev-run", noLinks);
    // An outbox the user's environment names is not the play's to append to.
    WriteBytes(tempDir_ / "outbox.jsonl", "the user's own\n");
    testing_support::SetEnv("KV8_OUTBOX", Path("outbox.jsonl"));
    ProgramRun run = Tev({"run"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(LogBytes(), real);
    EXPECT_EQ(testing_support::ReadFile(tempDir_ / "outbox.jsonl"), "the user's own\n");
    EXPECT_EQ(run.out.find("Outbox:"), std::string::npos);
    std::string own = (NewPlayFolder() / "Setup_TEV.log").string();
    EXPECT_NE(run.out.find("Diagnostic log: " + own + " (read it with: tev log " + own + ")"),
              std::string::npos)
        << run.out;
    // Each play keeps its own log: the next one leaves this one as it was.
    std::string first = testing_support::ReadFile(own);
    ProgramRun next = Tev({"run", "--outbox", Path("outbox.jsonl")});
    ASSERT_EQ(next.status, 0) << next.err;
    std::string second = (NewPlayFolder() / "Setup_TEV.log").string();
    EXPECT_NE(second, own);
    EXPECT_EQ(testing_support::ReadFile(own), first);
    EXPECT_EQ(Lines(testing_support::ReadFile(tempDir_ / "outbox.jsonl")).size(), 1u + 21u);

    // --log-dir puts it where asked, and the tool reads it back whole.
    std::string log = (tempDir_ / "mine" / "Setup_TEV.log").string();
    fs::create_directory(tempDir_ / "mine");
    ProgramRun elsewhere = Tev({"run", "--log-dir", Path("mine")});
    EXPECT_NE(elsewhere.out.find("Diagnostic log: " + log + " "), std::string::npos);
    ProgramRun read = Tev({"log", log});
    EXPECT_EQ(read.status, 0);
    EXPECT_EQ(read.err, "");
    EXPECT_EQ(Lines(read.out).size(), 20u);
    // Never where a real setup writes its log, however the folder is reached.
    std::vector<std::string> realFolders = {tempDir_.string(), Path("mine/..")};
    if (!noLinks) realFolders.push_back(Path("tev-run"));
    for (const std::string& folder : realFolders) {
        ProgramRun refused = Tev({"run", "--log-dir", folder});
        EXPECT_EQ(refused.status, 2) << folder;
        EXPECT_EQ(refused.err, "tev: cannot use " + folder +
                                   " for the log: a real setup writes its log there\n");
        EXPECT_EQ(refused.out, "");
    }
    EXPECT_EQ(LogBytes(), real);

    // A log that could not be written is not offered, even with an old one in its place.
    fs::remove(log);
    fs::create_directory(log);
    ProgramRun blocked = Tev({"run", "--log-dir", Path("mine")});
    EXPECT_EQ(blocked.out.find("read it with"), std::string::npos);
    EXPECT_NE(blocked.out.find("Diagnostic log: none could be written in " + log),
              std::string::npos);
    EXPECT_EQ(LogBytes(), real);
}

TEST_F(ToolLog, TheToolAloneInAnEmptyFolderDecodesALog) {
    fs::path tool = TEV_TOOL_PATH;
    fs::create_directory(tempDir_ / "alone");
    fs::copy_file(tool, tempDir_ / "alone" / tool.filename());
    std::string log = PlayLogged("InitML true\nwpWarning \"w\"\nShutdownML\n");
    ProgramRun run = testing_support::RunTool(tempDir_, {"log", "--json", log}, "",
                                              (tempDir_ / "alone" / tool.filename()).string());
    ASSERT_EQ(run.status, 0) << run.err;
    std::vector<nlohmann::json> records = JsonLines(run.out);
    ASSERT_EQ(records.size(), 6u);
    EXPECT_EQ(records[2]["token"], "wpWarning");
    EXPECT_EQ(records[2]["fields"], nlohmann::json::array({"w"}));

    // Beside libraries of the same names that are not ours (the maker's KV8.dll), it plays as ever.
    WriteBytes(tempDir_ / "alone" / "KV8.dll", "not the stand-in");
    WriteBytes(tempDir_ / "alone" / "TEV.dll", "not TEV");
    ProgramRun play = testing_support::RunTool(tempDir_, {"run", "--log-dir", Path("alone")}, "",
                                               (tempDir_ / "alone" / tool.filename()).string());
    EXPECT_EQ(play.status, 0) << play.err;
    EXPECT_NE(play.out.find("21 waypoints, 20 states, 42 attributes"), std::string::npos);
}

TEST_F(ToolLog, ErrorsNameTheirCauseAndNeverHang) {
    ProgramRun bogus = Tev({"bogus"});
    EXPECT_EQ(bogus.status, 2);
    EXPECT_NE(bogus.err.find("unknown subcommand bogus"), std::string::npos) << bogus.err;

    fs::create_directory(tempDir_ / "folder");
    ProgramRun runDir = Tev({"run", Path("folder")});
    EXPECT_EQ(runDir.status, 2);
    EXPECT_EQ(runDir.err, "tev: " + Path("folder") + ": is a directory\n");
    ProgramRun emptyDir = Tev({"log", Path("folder")});
    EXPECT_EQ(emptyDir.status, 2);
    EXPECT_EQ(emptyDir.err, "tev: " + Path("folder") + ": the folder holds no log\n");
    ProgramRun missing = Tev({"log", Path("none.log")});
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(missing.err, "tev: " + Path("none.log") + ": no such file or folder\n");
    // The default is the log where TEV writes it, and there is none yet.
    ProgramRun none = Tev({"log"});
    EXPECT_EQ(none.status, 2);
    EXPECT_EQ(none.err, "tev: " + LogPath().string() + ": no such file or folder\n");
    EXPECT_EQ(Tev({"log", "--html", "--json", Path("x.log")}).status, 2);
    // A folder of the play's own that cannot be made: the play goes on without a log.
    WriteBytes(tempDir_ / "file", "a file as the temporary directory");
    testing_support::UseTempDirectory(tempDir_ / "file");
    ProgramRun noFolder = Tev({"run"});
    EXPECT_EQ(noFolder.status, 0);
    EXPECT_NE(noFolder.err.find("tev: the play writes no log: cannot make a folder " +
                                (tempDir_ / "file" / "tev-run-").string()),
              std::string::npos)
        << noFolder.err;
    EXPECT_NE(noFolder.out.find("Diagnostic log: none could be written"), std::string::npos);
    testing_support::UseTempDirectory(tempDir_);
    EXPECT_FALSE(LogExists());
    ProgramRun asked = Tev({"run", "--log-dir", Path("file")});  // asked for: an error
    EXPECT_EQ(asked.status, 2);
    EXPECT_EQ(asked.out, "");
#ifdef _WIN32
    // A temporary directory too long for TEV's log: none is looked for, and none elsewhere.
    testing_support::UseTempDirectory(tempDir_ /
                                      std::string(280 - tempDir_.wstring().size() - 1, 'v'));
    ProgramRun tooLong = Tev({"log"});
    EXPECT_EQ(tooLong.status, 2);
    EXPECT_EQ(tooLong.err,
              "tev: there is no usable temporary directory, so no log of TEV's to read\n");
    testing_support::UseTempDirectory(tempDir_);

    WriteBytes(LogPath(), Utf16Line("1/2/2016; 3:4:5; InitML;"));
    testing_support::FileHolder setup(LogPath());
    ASSERT_TRUE(setup.Holding());
    ProgramRun held = Tev({"log"});
    EXPECT_EQ(held.status, 2);
    EXPECT_EQ(held.err, "tev: " + LogPath().string() +
                            ": held open by a running setup; it can be read once the setup ends\n");
#else
    ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
    ProgramRun fifo = Tev({"log", Path("fifo")});
    EXPECT_EQ(fifo.status, 2);
    EXPECT_EQ(fifo.err, "tev: " + Path("fifo") + ": is a FIFO, not a regular file\n");
    EXPECT_EQ(Tev({"run", Path("fifo")}).status, 2);
    ProgramRun device = Tev({"log", "/dev/zero"});
    EXPECT_EQ(device.status, 2);
    EXPECT_EQ(device.err, "tev: /dev/zero: is a device, not a regular file\n");
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", Path("socket").c_str());
    int listening = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(bind(listening, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ProgramRun socketRun = Tev({"log", Path("socket")});
    close(listening);
    EXPECT_EQ(socketRun.err, "tev: " + Path("socket") + ": is a socket, not a regular file\n");
    // A FIFO where the play's log goes: no log, no hang.
    fs::create_directory(tempDir_ / "logs");
    ASSERT_EQ(mkfifo((tempDir_ / "logs" / "Setup_TEV.log").c_str(), 0600), 0);
    ProgramRun blocked = Tev({"run", "--log-dir", Path("logs")});
    EXPECT_EQ(blocked.status, 0);
    EXPECT_NE(blocked.out.find("Diagnostic log: none could be written"), std::string::npos);
#endif
}

// Every entry that logs a text, with ";" and CR LF inside: each text comes back as it was logged.
TEST_F(ToolLog, TextsHoldingSeparatorsAndLineBreaksComeBackAsLogged) {
    std::string log = PlayLogged(
        "InitML true\n"
        "AddAttributeToSetup \"name\" \"a;b\\r\\nc;\"\n"
        "wpWarning \"disk; almost\\r\\nfull;\\r\\n\"\n"
        "DownloadBegin \"https://x/a;jsessionid=1\"\n"
        "DownloadError \"https://x/a\" \"failed;\\r\\nretry on 12/7;\" 5\n"
        "InstallBegin \"P;1\\r\\n\"\n"
        "AddContent \"P\" \"c\" \"p\"\n"
        "AddNRData \"P\" \"k\" \"v;\\r\\n\"\n"
        "wpWarning \"\\r\\n\"\n"
        "ShutdownML\n");
    ProgramRun run = Tev({"log", "--json", log});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    std::vector<nlohmann::json> records = JsonLines(run.out);
    std::vector<std::pair<std::string, nlohmann::json>> got;
    for (const nlohmann::json& record : records)
        got.emplace_back(record["token"], record["fields"]);
    using J = nlohmann::json;
    EXPECT_EQ(got, (std::vector<std::pair<std::string, J>>{
                       {"InitML", J::array()},
                       {"SETUP", J::array({"a.setup", "0"})},
                       {"SETUP", J::array({"name", "a;b\r\nc;"})},
                       {"wpWarning", J::array({"disk; almost\r\nfull;\r\n"})},
                       {"DownloadBegin", J::array({"https://x/a;jsessionid=1"})},
                       {"DownloadError", J::array({"https://x/a", "failed;\r\nretry on 12/7;"})},
                       {"InstallBegin", J::array({"P;1\r\n"})},
                       {"PRODUCTNRDATA", J::array({"P", "k", "v;\r\n"})},
                       {"wpWarning", J::array({"\r\n"})},
                       {"ShutdownML", J::array()},
                       {"CommitSetupWaypoint", J::array()},
                       {"CommitProducts()", J::array()}}));
    // A text going on after CR LF with what looks like a date is reported, not guessed.
    std::string unsure = PlayLogged(
        "InitML true\nwpWarning \"done;\\r\\n12/7/2026 next\"\nwpWarning \"a\\r\\n1/2 of it\"\n",
        "unsure");
    ProgramRun reported = Tev({"log", "--json", unsure});
    EXPECT_EQ(reported.status, 1);
    EXPECT_NE(reported.err.find("line 4 (byte "), std::string::npos) << reported.err;
    EXPECT_EQ(JsonLines(reported.out).back()["fields"], J::array({"a\r\n1/2 of it"}));

    // WideString output keeps one record per line.
    ProgramRun text = Tev({"log", log});
    std::vector<std::string> lines = Lines(text.out);
    ASSERT_EQ(lines.size(), 12u);
    EXPECT_NE(lines[3].find("wpWarning;disk; almost\\r\\nfull;\\r\\n;"), std::string::npos)
        << lines[3];
}

// A logged text cannot drive the terminal the plain decode is read on: no escape sequence, bell,
// tab, C1 control or bidirectional override reaches it as it is.
TEST_F(ToolLog, ThePlainDecodeShowsControlCharactersEscaped) {
    const std::string overrideRightToLeft("\x2e\x20", 2);  // U+202E in UTF-16LE
    WriteBytes(LogPath(), Utf16Line("1/2/2016; 3:4:5; InitML;") +
                              testing_support::Utf16Le("1/2/2016; 3:4:6; wpWarning;\x1b]0;owned\x07"
                                                       "\x1b[2J\tC:\\\x9b"
                                                       "31m") +
                              overrideRightToLeft + Utf16Line("gpj.exe;"));
    ProgramRun text = Tev({"log", LogPath().string()});
    EXPECT_EQ(text.status, 0) << text.err;
    for (char c : text.out)
        EXPECT_TRUE(static_cast<unsigned char>(c) >= 0x20 || c == '\n') << int(c);
    std::vector<std::string> lines = Lines(text.out);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(
        lines[1],
        "1/2/2016; 3:4:6; wpWarning;\\x1b]0;owned\\x07\\x1b[2J\\tC:\\\\x9b31m\\u202egpj.exe;");
}

// Each side of every range shown escaped: C0, DEL and C1 controls, and the bidirectional
// embeddings, overrides and isolates (U+202A to U+202E, U+2066 to U+2069); their neighbours and
// whole surrogate pairs as UTF-8; a lone surrogate as U+FFFD.
TEST(ShownText, EscapesExactlyTheControlsAndReorderingCharacters) {
    const std::pair<std::u16string, std::string> rows[] = {
        {u"\u001f", "\\x1f"},
        {u" ~", " ~"},
        {u"\u007f", "\\x7f"},
        {u"\u0080", "\\x80"},
        {u"\u009f", "\\x9f"},
        {u"\u00a0", "\xC2\xA0"},
        {u"\u2029", "\xE2\x80\xA9"},
        {u"\u202a", "\\u202a"},
        {u"\u202e", "\\u202e"},
        {u"\u202f", "\xE2\x80\xAF"},
        {u"\u2065", "\xE2\x81\xA5"},
        {u"\u2066", "\\u2066"},
        {u"\u2069", "\\u2069"},
        {u"\u206a", "\xE2\x81\xAA"},
        {u"\\", "\\"},
        {u"\U0001F600", "\xF0\x9F\x98\x80"},
        {std::u16string(1, 0xD800), "\xEF\xBF\xBD"},
    };
    for (const auto& [text, shown] : rows) {
        tev::WideString wide(text.begin(), text.end());
        EXPECT_EQ(tevtool::ShownText(wide), shown) << int(text[0]);
    }
}

// A value shown whole (`tev run`): JSON's escapes for quotes, backslashes and C0, every unit as
// given (a lone surrogate too), and nothing that restyles or reorders the terminal.
TEST(ShownQuoted, KeepsEveryUnitAndEscapesWhatTheTerminalWouldObey) {
    const std::pair<std::u16string, std::string> rows[] = {
        {u"", R"("")"},
        {u"a\"b\\", R"("a\"b\\")"},
        {u"\u001b]0;t\u0007", R"("\u001b]0;t\u0007")"},
        {u"\u007f\u0085\u00a0", "\"\\u007f\\u0085\xC2\xA0\""},
        {u"x\u202ey\u2069", R"("x\u202ey\u2069")"},
        {u"caf\u00e9 \U0001F600", "\"caf\xC3\xA9 \xF0\x9F\x98\x80\""},
        {std::u16string(1, 0xDC00), R"("\udc00")"},
    };
    for (const auto& [text, shown] : rows) {
        tev::WideString wide(text.begin(), text.end());
        EXPECT_EQ(tevtool::ShownQuoted(wide), shown);
    }
}

TEST_F(ToolLog, ReSavedAndDamagedLogsAreReportedWithThePosition) {
    const std::string whole =
        Utf16Line("1/2/2016; 3:4:5; InitML;") + Utf16Line("1/2/2016; 3:4:6; wpWarning;w;");
    struct Case {
        std::string name, bytes;
        int status;
        std::string err;  // what standard error holds
        size_t records;
    };
    std::string utf8 = "1/2/2016; 3:4:5; InitML;\r\n1/2/2016; 3:4:6; wpWarning;caf\xC3\xA9;\r\n";
    std::string bogus;  // eleven records of 50 bytes each: ten are named, the eleventh counted
    for (int i = 0; i < 11; ++i) bogus += Utf16Line("1/2/2016; 3:4:5; Bogus;");
    const std::vector<Case> cases = {
        {"bom", "\xFF\xFE" + whole, 0, "begins with a byte-order mark", 2},
        {"utf8", utf8, 0, "is UTF-8 text, not UTF-16LE", 2},
        {"date", Utf16Line("99/99/2016; 3:4:5; InitML;"), 1,
         "line 1 (byte 0): the date 99/99/2016 is out of range", 1},
        {"time", whole + Utf16Line("2/30/2016; 3:4:5; InitML;"), 1,
         "line 3 (byte 114): the date 2/30/2016", 3},
        {"clock", Utf16Line("1/2/2016; 24:0:0; InitML;"), 1,
         "line 1 (byte 0): the time 24:0:0 is out of range", 1},
        {"odd", whole + "x", 1, "odd length: its last byte (offset 114)", 2},
        {"cut", whole + Utf16Line("1/2/2016; 3:4:7; wpWarning;w").substr(0, 50), 1,
         "line 3 (byte 114): the last line is not ended by CR LF", 3},
        {"torn", whole.substr(0, 60) + Utf16Line("1/2/2016; 3:4:6; wpWarning;after;"), 1,
         "line 2 (byte 52): the line does not begin with a timestamp", 2},
        {"token", Utf16Line("1/2/2016; 3:4:5; Bogus;x;"), 1, "unknown token", 1},
        {"short", Utf16Line("1/2/2016; 3:4:5; DownloadError;u;"), 1,
         "holds 1 of its token's 2 texts", 1},
        {"many", bogus, 1,
         "line 10 (byte 450): unknown token\ntev: " + Path("many.log") +
             ": and 1 more records not as TEV writes them\n",
         11},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteBytes(tempDir_ / (c.name + ".log"), c.bytes);
        ProgramRun run = Tev({"log", "--json", Path(c.name + ".log")});
        EXPECT_EQ(run.status, c.status);
        EXPECT_NE(run.err.find("tev: " + Path(c.name + ".log") + ": "), std::string::npos)
            << run.err;
        EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
        std::vector<nlohmann::json> records = JsonLines(run.out);
        ASSERT_EQ(records.size(), c.records);
        if (c.status == 0) {
            EXPECT_EQ(records[0]["time"], "2016-01-02T03:04:05Z");
            EXPECT_EQ(records[0]["token"], "InitML");
            EXPECT_EQ(records[1]["fields"][0], c.name == "utf8" ? "caf\xC3\xA9" : "w");
        }
    }
    std::vector<nlohmann::json> cut = JsonLines(Tev({"log", "--json", Path("cut.log")}).out);
    EXPECT_EQ(cut.back()["partial"], true);
    EXPECT_FALSE(cut.front().contains("partial"));
    EXPECT_EQ(JsonLines(Tev({"log", "--json", Path("date.log")}).out)[0]["time"], nullptr);
}

TEST_F(ToolLog, SummaryTellsTheRunsStoryWithAnExitStatusForScripts) {
    std::string failed = PlayLogged(
        "InitML true\n"
        "AddAttributeToSetup \"setup.version\" \"4.2\"\n"
        "DownloadBegin \"u1\"\nDownloadPause \"u1\"\nDownloadResume \"u1\"\nDownloadEnd \"u1\"\n"
        "DownloadBegin \"u2\"\nDownloadPause \"u2\"\nDownloadError \"u2\" \"timed out\" 5\n"
        "InstallBegin \"A\"\nInstallEnd \"A\"\n"
        "InstallBegin \"B\"\nInstallError \"B\" \"1603\"\n"
        "InstallBegin \"C\"\nInstallCancel \"C\"\n"
        "wpWarning \"low disk\"\n"
        "OnCrash\n",
        "failed");
    ProgramRun run = Tev({"log", "--summary", "--json", failed});
    EXPECT_EQ(run.status, 3) << run.err;
    std::vector<nlohmann::json> rows = JsonLines(run.out);
    ASSERT_EQ(rows.size(), 1u);
    nlohmann::json row = rows[0];
    EXPECT_EQ(row["end"], "OnCrash");
    EXPECT_EQ(row["analytics"], true);
    EXPECT_EQ(row["setup"][1]["value"], "4.2");
    ASSERT_EQ(row["downloads"].size(), 2u);
    EXPECT_EQ(row["downloads"][0]["outcome"], "ended");
    EXPECT_EQ(row["downloads"][0]["pauses"], 1);
    EXPECT_EQ(row["downloads"][0]["resumes"], 1);
    EXPECT_EQ(row["downloads"][1]["resumes"], 0);
    EXPECT_EQ(row["downloads"][1]["outcome"], "failed");
    EXPECT_EQ(row["downloads"][1]["error"], "timed out");
    std::vector<std::string> outcomes;
    for (const nlohmann::json& install : row["installs"]) outcomes.push_back(install["outcome"]);
    EXPECT_EQ(outcomes, (std::vector<std::string>{"ended", "failed", "cancelled"}));
    EXPECT_EQ(row["warnings"][0]["text"], "low disk");
    EXPECT_EQ(row["warnings"][0]["count"], 1);
    EXPECT_EQ(row["first_error"], "download failed: u2: timed out");
    EXPECT_EQ(row["failed"], true);
    ProgramRun text = Tev({"log", "--summary", failed});
    EXPECT_NE(text.out.find("crashed (OnCrash)"), std::string::npos) << text.out;

    // A clean run, a run whose analytics library stayed down, and a log cut short.
    std::string clean =
        PlayLogged("InitML true\nInstallBegin \"A\"\nInstallEnd \"A\"\nShutdownML\n", "clean");
    EXPECT_EQ(Tev({"log", "--summary", clean}).status, 0);
    std::string down = PlayLogged("kv8 refuse initialize\nInitML true\n", "down");
    ProgramRun refused = Tev({"log", "--summary", "--json", down});
    EXPECT_EQ(refused.status, 3);
    EXPECT_EQ(JsonLines(refused.out)[0]["analytics"], false);
    // Cut inside the line of ShutdownML, and cut just before it: the setup died mid-run.
    std::string bytes = testing_support::ReadFile(clean);
    size_t shutdownLine =
        bytes.rfind(std::string("\r\0\n\0", 4), bytes.find(std::string("S\0h\0u\0t", 8))) + 4;
    WriteBytes(tempDir_ / "cut.log", bytes.substr(0, shutdownLine + 10));
    ProgramRun cut = Tev({"log", "--summary", "--json", Path("cut.log")});
    EXPECT_EQ(cut.status, 3);  // the run cut short is not hidden behind its cut record (1)
    EXPECT_EQ(JsonLines(cut.out)[0]["end"], "cut short");
    WriteBytes(tempDir_ / "unended.log", bytes.substr(0, shutdownLine));
    ProgramRun unended = Tev({"log", "--summary", "--json", Path("unended.log")});
    EXPECT_EQ(unended.status, 3) << unended.err;
    EXPECT_EQ(JsonLines(unended.out)[0]["end"], "cut short");
    EXPECT_EQ(JsonLines(unended.out)[0]["installs"][0]["outcome"], "ended");
}

// Several sources at once: a usage error (2) wins over a failed run (3), and a failed run over a
// damaged record (1), in whatever order they come; a failure counts only where runs are judged.
TEST_F(ToolLog, OfSeveralStatusesTheDocumentedOrderWins) {
    const std::string clean = PlayLogged("InitML true\nShutdownML\n", "clean");
    const std::string down = PlayLogged("kv8 refuse initialize\nInitML true\n", "down");
    // A run that ended, one of its records damaged (a date that is none).
    const std::string damaged = Path("damaged.log"), missing = Path("missing.log");
    WriteBytes(damaged, Utf16Line("1/2/2016; 3:4:5; InitML;") +
                            Utf16Line("2/30/2016; 3:4:5; wpWarning;w;") +
                            Utf16Line("1/2/2016; 3:4:6; ShutdownML;"));
    const struct {
        std::vector<std::string> sources;
        int summarized, decoded;
    } rows[] = {
        {{clean}, 0, 0},         {{damaged}, 1, 1},          {{down}, 3, 0},
        {{damaged, down}, 3, 1}, {{down, damaged}, 3, 1},    {{missing, down}, 2, 2},
        {{down, missing}, 2, 2}, {{damaged, missing}, 2, 2}, {{clean, missing}, 2, 2},
    };
    for (const auto& row : rows) {
        std::vector<std::string> summary = {"log", "--summary"}, plain = {"log"};
        summary.insert(summary.end(), row.sources.begin(), row.sources.end());
        plain.insert(plain.end(), row.sources.begin(), row.sources.end());
        EXPECT_EQ(Tev(summary).status, row.summarized) << testing::PrintToString(row.sources);
        EXPECT_EQ(Tev(plain).status, row.decoded) << testing::PrintToString(row.sources);
    }
}

TEST_F(ToolLog, AFolderOfLogsIsReadInOneCommand) {
    PlayLogged("InitML true\nwpWarning \"w\"\nShutdownML\n", "folder/a");
    PlayLogged("InitML true\nInstallBegin \"P\"\nInstallError \"P\" \"e\"\nShutdownML\n",
               "folder/b/c");
    WriteBytes(tempDir_ / "folder" / "notes.txt", "not a log");
    WriteBytes(tempDir_ / "folder" / "torn.LOG",
               Utf16Line("1/2/2016; 3:4:5; InitML;").substr(0, 20));

    ProgramRun rows = Tev({"log", "--summary", "--json", Path("folder")});
    EXPECT_EQ(rows.status, 3);  // the failed install, not hidden behind the torn log (1)
    std::map<std::string, nlohmann::json> byFile;
    std::vector<nlohmann::json> objects = JsonLines(rows.out);
    ASSERT_FALSE(objects.empty());
    EXPECT_EQ(objects.back()["totals"]["runs"], 3);  // the folder's totals come last
    objects.pop_back();
    for (const nlohmann::json& row : objects)
        byFile[fs::path(row["file"].get<std::string>())
                   .lexically_relative(tempDir_)
                   .generic_string()] = row;
    ASSERT_EQ(byFile.size(), 3u) << rows.out;
    EXPECT_EQ(byFile["folder/a/Setup_TEV.log"]["failed"], false);
    EXPECT_EQ(byFile["folder/b/c/Setup_TEV.log"]["first_error"], "installation failed: P");
    EXPECT_EQ(byFile["folder/torn.LOG"]["end"], "cut short");

    ProgramRun csv = Tev({"log", "--csv", Path("folder")});
    std::vector<std::string> lines = Lines(csv.out);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].substr(0, 26), "file,run,started,ended,end");
    for (const std::string& line : lines) EXPECT_EQ(Count(line, ","), 14u) << line;

    // Records of several logs name their file.
    ProgramRun records =
        Tev({"log", "--json", Path("folder/a/Setup_TEV.log"), Path("folder/b/c/Setup_TEV.log")});
    EXPECT_EQ(records.status, 0);
    objects = JsonLines(records.out);
    ASSERT_EQ(objects.size(), 6u + 7u);
    EXPECT_EQ(objects.front()["file"], Path("folder/a/Setup_TEV.log"));
    EXPECT_EQ(objects.back()["file"], Path("folder/b/c/Setup_TEV.log"));
}

TEST_F(ToolLog, TheHtmlPageIsSelfContainedWithABarPerDownloadAndInstallation) {
    ASSERT_EQ(Tev({"run"}).status, 0);
    ProgramRun page = Tev({"log", "--html", (NewPlayFolder() / "Setup_TEV.log").string()});
    EXPECT_EQ(page.status, 3);                       // the default run's second install fails
    EXPECT_EQ(Count(page.out, "class=\"bar "), 3u);  // one download, two installations
    EXPECT_EQ(Count(page.out, "class=\"mark warning\""), 1u);
    EXPECT_EQ(Count(page.out, "class=\"mark error\""),
              2u);                                // on the failed bar, and among the marks
    EXPECT_EQ(Count(page.out, "<tr"), 20u + 2u);  // the records, and the table of runs
    for (const char* external : {"src=", "<link", "url(", "@import"})
        EXPECT_EQ(page.out.find(external), std::string::npos) << external;
    EXPECT_EQ(Count(page.out, "href=\""), Count(page.out, "href=\"#"));  // within the page
}

// WideString output is UTF-8: an unpaired surrogate (any code unit may be logged) shows as U+FFFD,
// after any other unit; JSON keeps it as \uXXXX.
TEST_F(ToolLog, UnpairedSurrogatesShowAsReplacementCharacters) {
    std::string log = PlayLogged("InitML true\nwpWarning \"a\\uDC00 \\uD800\\uDC00 \\uD800\"\n");
    ProgramRun text = Tev({"log", log});
    EXPECT_EQ(text.status, 0) << text.err;
    EXPECT_NE(text.out.find("wpWarning;a\xEF\xBF\xBD \xF0\x90\x80\x80 \xEF\xBF\xBD;"),
              std::string::npos)
        << text.out;
    // JSON readers refuse a lone surrogate: --json and the summary's JSON give U+FFFD and say the
    // record or the run was damaged; every line parses.
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"log", "--json", log}, {"log", "--summary", "--json", log}}) {
        ProgramRun json = Tev(arguments);
        EXPECT_NE(json.out.find("a\xEF\xBF\xBD \xF0\x90\x80\x80 \xEF\xBF\xBD"), std::string::npos)
            << json.out;
        EXPECT_EQ(json.out.find("\\ud"), std::string::npos) << json.out;
        std::vector<nlohmann::json> lines = JsonLines(json.out);
        ASSERT_FALSE(lines.empty());
        size_t damaged = 0;
        for (const nlohmann::json& line : lines) damaged += line.value("damaged", false);
        EXPECT_EQ(damaged, 1u) << json.out;
    }
}

// --json gives a lone surrogate anywhere in a record, its token too, as U+FFFD, and says that
// record was damaged.
TEST_F(ToolLog, JsonNamesEachRecordWithALoneSurrogateDamaged) {
    std::string bytes;
    for (char16_t unit : std::u16string_view(u"1/2/2016; 3:4:5; InitML;\r\n"
                                             u"1/2/2016; 3:4:6; wpWarning;a\xD800;\r\n"
                                             u"1/2/2016; 3:4:7; X\xDC00;\r\n")) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    WriteBytes(Path("lone.log"), bytes);
    ProgramRun json = Tev({"log", "--json", Path("lone.log")});
    const std::string at =
        "{\"file\":" + nlohmann::json(Path("lone.log")).dump() + ",\"time\":\"2016-01-02T03:04:0";
    EXPECT_EQ(json.out, at + "5Z\",\"token\":\"InitML\",\"fields\":[],\"run\":1}\n" + at +
                            "6Z\",\"token\":\"wpWarning\",\"fields\":[\"a\xEF\xBF\xBD\"],"
                            "\"damaged\":true}\n" +
                            at +
                            "7Z\",\"token\":\"X\xEF\xBF\xBD\",\"fields\":[],\"damaged\":true,"
                            "\"problem\":\"unknown token\"}\n");
}

// Logs as customers send them, each read in every mode: what the plain decode shows first and
// says on standard error, each run's outcome and first error in the summary, and both statuses.
TEST_F(ToolLog, EveryRealLogIsReadWithWhatHappenedToItSaid) {
    auto utf16 = [](std::initializer_list<const char*> lines) {
        std::string bytes;
        for (const char* line : lines) bytes += Utf16Line(line);
        return bytes;
    };
    const std::string run =
        utf16({"1/2/2016; 3:4:5; InitML;", "1/2/2016; 3:4:6; DownloadBegin;https://x/a.cab;",
               "1/2/2016; 3:4:7; InstallBegin;Studio;", "1/2/2016; 3:4:9; ShutdownML;"});
    const std::string begun = run.substr(0, run.rfind(Utf16Line("1/2/2016; 3:4:9; ShutdownML;")));
    // The first `units` code units of a line, cut before its CR LF.
    auto cut = [](const char* line, size_t units) { return Utf16Line(line).substr(0, 2 * units); };
    const std::string initOnly = Utf16Line("1/2/2016; 3:4:5; InitML;");
    struct Case {
        const char* name;
        std::string bytes;
        int plainStatus;
        const char* firstLine;  // of the plain decode
        const char* note;       // on standard error
        int summaryStatus;
        std::vector<const char*> firstErrors;  // of each run; "" for none
    };
    const char* whole = "1/2/2016; 3:4:5; InitML;";
    const Case cases[] = {
        {"torn",
         Utf16Line("1/2/2016; 3:4:2; wpWarning;disk low;").substr(20) + run,
         0,
         whole,
         "the log begins inside a record whose start is lost (a torn first record): its first 56 "
         "bytes, before the first whole record, are skipped",
         0,
         {""}},
        {"empty-line",
         std::string("\r\0\n\0", 4) + run,
         0,
         whole,
         "the log begins with an empty line, which TEV does not write; skipped",
         0,
         {""}},
        {"zero-head",
         std::string(5000, '\0') + run,
         0,
         whole,
         "the log begins with 5000 bytes of zeros, as a crash while it was written leaves; "
         "skipped",
         0,
         {""}},
        {"bom", "\xFF\xFE" + run, 0, whole, "byte-order mark", 0, {""}},
        {"utf8",
         "1/2/2016; 3:4:5; InitML;\r\n1/2/2016; 3:4:9; ShutdownML;\r\n",
         0,
         whole,
         "the file is UTF-8 text",
         0,
         {""}},
        {"two-runs", run + run, 0, whole, "", 0, {"", ""}},
        {"december",
         utf16({"12/31/2016; 23:59:58; InitML;", "12/31/2016; 23:59:59; ShutdownML;"}),
         0,
         "12/31/2016; 23:59:58; InitML;",
         "",
         0,
         {""}},
        {"cut-download-error",
         begun + cut("1/2/2016; 3:4:8; DownloadError;https://x/a.cab;reset;", 51),
         1,
         whole,
         "the log is cut short",
         3,
         {"download failed: https://x/a.cab: rese"}},
        {"cut-install-error",
         begun + cut("1/2/2016; 3:4:8; InstallError;Studio;", 33),
         1,
         whole,
         "the log is cut short",
         3,
         {"installation failed: Studio"}},
        {"cut-crash",
         begun + cut("1/2/2016; 3:4:8; OnCrash;", 21),
         1,
         whole,
         "the log is cut short",
         3,
         {"the setup crashed"}},
        {"cut-unavailable",
         initOnly + cut("1/2/2016; 3:4:8; KV8 unavailable;KV8.dll;not found;", 46),
         1,
         whole,
         "the log is cut short",
         3,
         {"analytics library missing: KV8.dll (not f)"}},
        {"cut-initialize",
         initOnly + cut("1/2/2016; 3:4:8; Fail to initialize KV8;", 29),
         1,
         whole,
         "the log is cut short",
         3,
         {"the analytics library did not come up"}},
        {"cut-short",
         begun,
         0,
         whole,
         "",
         3,
         {"cut short after record 3 (InstallBegin): no ShutdownML or OnCrash"}},
        {"empty", "", 0, nullptr, "", 3, {""}},
    };
    for (const Case& c : cases) {
        WriteBytes(tempDir_ / (std::string(c.name) + ".log"), c.bytes);
        ProgramRun plain = Tev({"log", Path(std::string(c.name) + ".log")});
        EXPECT_EQ(plain.status, c.plainStatus) << c.name << plain.err;
        std::vector<std::string> lines = Lines(plain.out);
        EXPECT_EQ(lines.empty() ? "(nothing)" : lines[0], c.firstLine ? c.firstLine : "(nothing)")
            << c.name;
        EXPECT_NE(plain.err.find(c.note), std::string::npos) << c.name << plain.err;
        ProgramRun summary =
            Tev({"log", "--summary", "--json", Path(std::string(c.name) + ".log")});
        EXPECT_EQ(summary.status, c.summaryStatus) << c.name << summary.err;
        std::vector<nlohmann::json> runs = JsonLines(summary.out);
        ASSERT_EQ(runs.size(), c.firstErrors.size()) << c.name << summary.out;
        for (size_t i = 0; i < runs.size(); ++i) {
            std::string error = runs[i]["first_error"].is_null() ? "" : runs[i]["first_error"];
            EXPECT_EQ(error, c.firstErrors[i]) << c.name;
            EXPECT_EQ(runs[i]["outcome"], c.summaryStatus == 3 ? "failed" : "ok") << c.name;
        }
    }
    // A cut DownloadError is a failed download, the download it ends no longer unfinished.
    ProgramRun cutError = Tev({"log", "--summary", "--json", Path("cut-download-error.log")});
    EXPECT_EQ(JsonLines(cutError.out)[0]["downloads"][0]["outcome"], "failed");
    EXPECT_EQ(JsonLines(cutError.out)[0]["downloads_total"], 1);
    // A file that says it is empty is judged by what it holds.
#ifndef _WIN32
    ProgramRun maps = Tev({"log", "/proc/self/maps"});
    EXPECT_EQ(maps.status, 2);
    EXPECT_NE(maps.err.find("not a log by its content"), std::string::npos) << maps.err;
#endif
}

// Texts holding quotes, backslashes and control characters, short and long, before and after
// plain text, come back from --json as logged.
TEST_F(ToolLog, JsonGivesEveryTextBackAsLogged) {
    const std::vector<std::string> texts = {"a\\b",
                                            "\"q\"",
                                            "plain text longer than eight\\",
                                            "\\ at the start of a long text",
                                            "long text with a \" in its middle",
                                            "tab\there",
                                            "x"};
    std::string log = Utf16Line("1/2/2016; 3:4:5; InitML;");
    for (const std::string& text : texts)
        log += Utf16Line("1/2/2016; 3:4:6; wpWarning;" + text + ";");
    WriteBytes(tempDir_ / "texts.log", log);
    ProgramRun run = Tev({"log", "--json", Path("texts.log")});
    ASSERT_EQ(run.status, 0) << run.err;
    std::vector<nlohmann::json> records = JsonLines(run.out);
    ASSERT_EQ(records.size(), texts.size() + 1);
    for (size_t i = 0; i < texts.size(); ++i) EXPECT_EQ(records[i + 1]["fields"][0], texts[i]);
}

// --follow shows a log as it is written, driven here one write at a time: a torn last line is
// shown only once whole, also when it is cut back and written again; a new run that replaces the
// log is said in one line and followed from its start; the run's last line ends it.
TEST_F(ToolLog, FollowShowsTheRecordsAsTheyAreWrittenUntilTheRunEnds) {
    const fs::path log = tempDir_ / "live.log";
    auto append = [&](const std::string& bytes) {
        std::ofstream(log, std::ios::binary | std::ios::app) << bytes;
    };
    auto torn = [](const std::string& line, size_t characters) {
        return Utf16Line(line).substr(0, 2 * characters);
    };
    // Records enough for the first read to show some before it reaches the torn line.
    const std::string init = Utf16Line("1/2/2016; 3:0:0; InitML;") +
                             Utf16Line("1/2/2016; 3:0:0; wpWarning;first;") +
                             Utf16Line("1/2/2016; 3:0:0; wpWarning;second;"),
                      setup = Utf16Line("1/2/2016; 3:0:0; SETUP;a.setup;0;");
    WriteBytes(log, init + setup + torn("1/2/2016; 3:0:1; wpWarning;low disk;", 30));
    fs::create_directories(tempDir_ / "follower");
    testing_support::RunningProgram follower(TEV_TOOL_PATH, {"log", "--follow", log.string()},
                                             tempDir_ / "follower");
    ASSERT_TRUE(follower.ReadUntil("SETUP;a.setup;0;\n")) << follower.Errors();

    fs::resize_file(log, init.size() + setup.size());  // the torn line cut back, then written anew
    append(Utf16Line("1/2/2016; 3:0:2; InstallBegin;Studio;"));
    ASSERT_TRUE(follower.ReadUntil("InstallBegin;Studio;\n")) << follower.Output();
    append(torn("1/2/2016; 3:0:3; InstallEnd;Studio;", 31));
    append(Utf16Line("1/2/2016; 3:0:3; InstallEnd;Studio;").substr(2 * 31));
    ASSERT_TRUE(follower.ReadUntil("InstallEnd;Studio;\n")) << follower.Output();

    WriteBytes(log, Utf16Line("1/2/2016; 4:0:0; InitML;"));  // a new run
    ASSERT_TRUE(follower.ReadUntil("4:0:0; InitML;\n")) << follower.Output();
    append(Utf16Line("1/2/2016; 4:0:1; ShutdownML;") +
           Utf16Line("1/2/2016; 4:0:1; CommitSetupWaypoint;") +
           Utf16Line("1/2/2016; 4:0:1; CommitProducts();"));
    EXPECT_EQ(follower.Wait(), 0) << follower.Errors();
    EXPECT_EQ(follower.Output(),
              "1/2/2016; 3:0:0; InitML;\n"
              "1/2/2016; 3:0:0; wpWarning;first;\n"
              "1/2/2016; 3:0:0; wpWarning;second;\n"
              "1/2/2016; 3:0:0; SETUP;a.setup;0;\n"
              "1/2/2016; 3:0:2; InstallBegin;Studio;\n"
              "1/2/2016; 3:0:3; InstallEnd;Studio;\n"
              "-- the log was replaced (a new run): from its start --\n"
              "1/2/2016; 4:0:0; InitML;\n"
              "1/2/2016; 4:0:1; ShutdownML;\n"
              "1/2/2016; 4:0:1; CommitSetupWaypoint;\n"
              "1/2/2016; 4:0:1; CommitProducts();\n");
    EXPECT_EQ(follower.Errors(), "");
}

// Following a log that is not there yet waits for it; Ctrl-C ends the follow cleanly, after what
// was shown, with the status a shell gives an interrupted program.
TEST_F(ToolLog, FollowWaitsForTheLogAndEndsCleanlyOnAnInterrupt) {
    const fs::path log = tempDir_ / "later.log";
    fs::create_directories(tempDir_ / "follower");
    testing_support::RunningProgram follower(TEV_TOOL_PATH, {"log", "--follow", log.string()},
                                             tempDir_ / "follower");
    WriteBytes(log, Utf16Line("1/2/2016; 3:0:0; InitML;"));
    ASSERT_TRUE(follower.ReadUntil("InitML;\n")) << follower.Errors();
    if (!follower.Interrupt()) GTEST_SKIP() << "no interrupt to send here";
    EXPECT_EQ(follower.Wait(), 130);
    EXPECT_EQ(follower.Output(), "1/2/2016; 3:0:0; InitML;\n");
    std::string errors = follower.Errors();
    EXPECT_TRUE(errors.empty() ||
                errors == "tev: " + log.string() + ": no such file or folder; waiting for it\n")
        << errors;
}

// --follow ends with the run however it ends (the analytics library not coming up, or the lines of
// OnCrash), showing nothing logged after; a damaged record is named by its byte and makes the
// status 1. Each log here is whole before it is followed.
TEST_F(ToolLog, FollowEndsWithTheRunWhicheverWayItEnds) {
    const std::string ended = Utf16Line("1/2/2016; 3:0:9; ShutdownML;") +
                              Utf16Line("1/2/2016; 3:0:9; CommitSetupWaypoint;") +
                              Utf16Line("1/2/2016; 3:0:9; CommitProducts();");
    const struct {
        std::string name, log;
        int status;
        std::string out, err;  // err: after "tev: PATH: "
    } rows[] = {
        {"down",
         Utf16Line("1/2/2016; 3:0:0; InitML;") +
             Utf16Line("1/2/2016; 3:0:0; KV8 unavailable;C:\\setup\\KV8.dll;not found;") +
             Utf16Line("1/2/2016; 3:0:0; Fail to initialize KV8;") +
             Utf16Line("1/2/2016; 3:0:1; wpWarning;after the end;") + ended,
         0,
         "1/2/2016; 3:0:0; InitML;\n1/2/2016; 3:0:0; KV8 unavailable;C:\\setup\\KV8.dll;not "
         "found;\n1/2/2016; 3:0:0; Fail to initialize KV8;\n",
         ""},
        {"crashed",
         Utf16Line("1/2/2016; 3:0:0; InitML;") + Utf16Line("1/2/2016; 3:0:1; OnCrash;") +
             Utf16Line("1/2/2016; 3:0:1; CommitSetupWaypoint;") +
             Utf16Line("1/2/2016; 3:0:1; CommitProducts();") +
             Utf16Line("1/2/2016; 3:0:2; wpWarning;after the end;") + ended,
         0,
         "1/2/2016; 3:0:0; InitML;\n1/2/2016; 3:0:1; OnCrash;\n1/2/2016; 3:0:1; "
         "CommitSetupWaypoint;\n1/2/2016; 3:0:1; CommitProducts();\n",
         ""},
        {"damaged",
         Utf16Line("1/2/2016; 3:0:0; InitML;") + Utf16Line("2/30/2016; 3:0:1; wpWarning;w;") +
             ended,
         1,
         "1/2/2016; 3:0:0; InitML;\n2/30/2016; 3:0:1; wpWarning;w;\n1/2/2016; 3:0:9; "
         "ShutdownML;\n1/2/2016; 3:0:9; CommitSetupWaypoint;\n1/2/2016; 3:0:9; "
         "CommitProducts();\n",
         "byte 52: the date 2/30/2016 is out of range\n"},
    };
    for (const auto& row : rows) {
        WriteBytes(tempDir_ / (row.name + ".log"), row.log);
        ProgramRun run = Tev({"log", "--follow", Path(row.name + ".log")});
        EXPECT_EQ(run.status, row.status) << row.name;
        EXPECT_EQ(run.out, row.out) << row.name;
        EXPECT_EQ(run.err,
                  row.err.empty() ? "" : "tev: " + Path(row.name + ".log") + ": " + row.err)
            << row.name;
    }
}
