// The tev tool, run as a process the way an engineer runs it: scenarios in, report, trace, log
// and exit status out. Every test has its own temporary directory.
#include <nlohmann/json.hpp>

#include <fstream>

#include "tool_support.h"

namespace {

using testing_support::Lines;
using testing_support::ProgramRun;
using testing_support::WriteBytes;

const std::string kScenarios = TEV_TEST_SCENARIOS;

}  // namespace

// tev run plays in a folder of its own inside the temporary directory: the log looked for is the
// last play's.
class Tool : public ToolTest {
protected:
    ProgramRun Tev(const std::vector<std::string>& arguments, const std::string& input = "") {
        ProgramRun run = ToolTest::Tev(arguments, input);
        if (!arguments.empty() && arguments.front() == "run") {
            logDir_ = NewPlayFolder();
            if (logDir_.empty()) logDir_ = tempDir_;  // no play: nothing was written there either
        }
        return run;
    }

    ProgramRun TevOnScenario(const std::string& scenario, std::vector<std::string> options = {}) {
        WriteBytes(tempDir_ / "scenario.tev", scenario);
        options.insert(options.begin(), {"run", Path("scenario.tev")});
        return Tev(options);
    }
};

TEST_F(Tool, DefaultRunReportsTheWholeSetupAndWhereTheLogIs) {
    ProgramRun run = Tev({"run"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_NE(run.out.find("start-up   COMMON.STARTUP\n"), std::string::npos);
    EXPECT_NE(run.out.find("reached    wp.product\n             s.productlist\n"
                           "               a.product.name = \"runtime\"\n"),
              std::string::npos);
    EXPECT_NE(run.out.find("shut-down  COMMON.SHUTDOWN\n\n21 waypoints, 20 states, 42 attributes"),
              std::string::npos);
    EXPECT_NE(run.out.find("Diagnostic log: " + LogPath().string() + " (read it with: tev log " +
                           LogPath().string() + ")"),
              std::string::npos);
    EXPECT_EQ(LogFields().front(), "InitML;");
    EXPECT_EQ(LogFields().back(), "CommitProducts();");

    // The embedded scenario, played from standard input, reports the same (its log in a folder
    // of its own).
    ProgramRun scenario = Tev({"scenario"});
    ProgramRun again = Tev({"run", "-"}, scenario.out);
    auto report = [](const std::string& out) {
        size_t start = out.find('\n');
        return out.substr(start, out.find("Diagnostic log: ") - start);
    };
    EXPECT_EQ(report(again.out), report(run.out));
    EXPECT_NE(again.out.find("Diagnostic log: " + LogPath().string()), std::string::npos);
}

TEST_F(Tool, TraceIsJsonLinesWithOneResultLineAfterEachEntry) {
    ProgramRun run = Tev({"run", kScenarios + "/refusals.tev", "--trace"});
    ASSERT_EQ(run.status, 0) << run.err;
    std::vector<std::string> lines = Lines(run.out);
    std::vector<std::string> entries;
    for (const std::string& line : lines) {
        nlohmann::json object = nlohmann::json::parse(line);  // throws on anything but JSON
        if (object.contains("entry")) entries.push_back(object.dump());
    }
    EXPECT_EQ(
        entries,
        (std::vector<std::string>{
            R"({"entry":"InitML","result":true})", R"({"entry":"DownloadEnd","result":null})",
            R"({"entry":"AddFeature","result":false})", R"({"entry":"AddFeature","result":false})",
            R"({"entry":"AddFeature","result":true})", R"({"entry":"AddNRData","result":false})",
            R"({"entry":"wpWarning","result":null})", R"({"entry":"wpWarning","result":null})",
            R"({"entry":"ShutdownML","result":true})"}));
    // Refused objects show as null ids, followed by the discarding Destroy.
    auto at = [&](const std::string& text) {
        return std::find(lines.begin(), lines.end(), text) - lines.begin();
    };
    long refusedUrl = at(
        R"({"op":"create","kind":"attribute","name":"a.download.url","value":"https://example.com/a.cab","id":null})");
    ASSERT_LT(refusedUrl, static_cast<long>(lines.size()));
    EXPECT_NE(lines[refusedUrl + 1].find(R"({"op":"destroy","id":)"), std::string::npos);
    EXPECT_EQ(lines[refusedUrl + 2], R"({"entry":"DownloadEnd","result":null})");
    EXPECT_EQ(std::count(lines.begin(), lines.end(),
                         R"({"op":"create","kind":"waypoint","name":"wp.warning","id":null})"),
              2);
    EXPECT_EQ(LogFields(),
              (std::vector<std::string>{"InitML;", "DownloadEnd;https://example.com/a.cab;",
                                        "wpWarning;one;", "wpWarning;two;", "ShutdownML;",
                                        "CommitSetupWaypoint;", "CommitProducts();"}));
}

#ifndef _WIN32
// The stand-in reads the identifier as UTF-8 and the tool writes it back as UTF-8: a stray byte
// and a cut sequence must come out as the same replacement character on both sides.
TEST_F(Tool, StrayBytesInTheUserIdAreReplacedAlikeByTheStandInAndTheTool) {
    testing_support::SetEnv("KV8_USER_ID", "id-\x80-\xe2\x82");
    ProgramRun run = TevOnScenario("InitML false\nGetKV8UserId\nShutdownML\n", {"--trace"});
    testing_support::UnsetEnv("KV8_USER_ID");
    ASSERT_EQ(run.status, 0) << run.err;
    std::vector<std::string> ids;
    for (const std::string& line : Lines(run.out)) {
        nlohmann::json object = nlohmann::json::parse(line);
        if (object.value("op", "") == "user_id" || object.value("entry", "") == "GetKV8UserId")
            ids.push_back(object["result"].get<std::string>());
    }
    const std::string replaced = "id-\xef\xbf\xbd-\xef\xbf\xbd";  // U+FFFD twice
    EXPECT_EQ(ids, (std::vector<std::string>{replaced, replaced}));
}
#endif

TEST_F(Tool, NullsEscapesAndUnpairedSurrogatesPassThroughUnchanged) {
    ProgramRun run = Tev({"run", kScenarios + "/odd_text.tev", "--trace"});
    ASSERT_EQ(run.status, 0) << run.err;
    // The null texts make an attribute of empty name and value, whatever its id.
    EXPECT_NE(run.out.find(R"("kind":"attribute","name":"","value":"","id":)"), std::string::npos);
    EXPECT_NE(run.out.find(R"("name":"tab\there","value":"quote\" backslash\\ cr\r lf\n")"),
              std::string::npos);
    EXPECT_NE(
        run.out.find("\"value\":\"lone high \\ud800 and lone low \\udc00, pair \xF0\x9F\x98\x80, "
                     "caf\xC3\xA9, \xE6\x97\xA5\xE6\x9C\xAC\""),
        std::string::npos);
    EXPECT_NE(run.out.find(R"("name":"a.download.errcode","value":"-1")"), std::string::npos);
    EXPECT_EQ(run.out.find("wp.setup.installation"), std::string::npos);  // phase 3: nothing
    EXPECT_NE(run.out.find("wp.setup.configuration.end"), std::string::npos);

    // The log holds the very code units, the lone surrogates included.
    std::string bytes = LogBytes();
    EXPECT_NE(bytes.find(std::string("h\0i\0g\0h\0 \0\x00\xD8 \0", 14)), std::string::npos);
    EXPECT_NE(bytes.find(std::string("w\0 \0\x00\xDC,\0", 8)), std::string::npos);
    std::vector<std::string> fields = LogFields();
    EXPECT_EQ(fields.at(2), "SETUP;;;");
    EXPECT_EQ(fields.at(5), "InstallError;;");
}

TEST_F(Tool, AMegabyteStringIsCarriedWhole) {
    std::string big(1 << 20, 'x');
    big[12345] = 'y';
    ProgramRun run =
        TevOnScenario("InitML true\nwpWarning \"" + big + "\"\nShutdownML\n", {"--trace"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find(R"("name":"a.warning.message","value":")" + big + "\""),
              std::string::npos);
    EXPECT_EQ(LogFields().at(2), "wpWarning;" + big + ";");
}

TEST_F(Tool, AMalformedScenarioNamesLineAndColumnAndRunsNothing) {
    struct Case {
        std::string scenario;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"InitML true\nAddContent \"p\" \"c\"\n",
         "line 2, column 19: expected a quoted string or null for contentPath"},
        {"InitML true\n\n\nAddContent \"p\" \"c\" 5\n",
         "line 4, column 20: expected a quoted string or null for contentPath"},
        {"InitML yes\n", "line 1, column 8: expected true or false for enableLog"},
        {"InitML true\nAddContnet \"p\"\n",
         "line 2, column 1: unknown entry AddContnet (tev run --help lists them); did you mean "
         "AddContent?"},
        {"ShutdownML true\n",
         "line 1, column 12: unexpected argument: ShutdownML takes 0 arguments"},
        {"wpWarning \"a\\qb\"\n",
         "line 1, column 13: unknown escape \\q (use \\\\ \\\" \\n \\r \\t or \\uXXXX)"},
        {"wpWarning \"\\u12G4\"\n",
         "line 1, column 12: \\u must be followed by four hexadecimal digits"},
        {"wpWarning \"open\n", "line 1, column 11: unterminated string (a closing \" is missing)"},
        {"AddFeature \"p\" \"f\" 2147483648\n",
         "line 1, column 20: 2147483648 is out of range for featureAction (-2147483648 to "
         "2147483647)"},
        {"DownloadError \"u\" \"e\" -1\n",
         "line 1, column 23: -1 is out of range for errorCode (0 to 4294967295)"},
        {"wpSetupPhase eDone true\n",
         "line 1, column 14: expected a phase (eInitialization, eConfiguration, eInstallation) or "
         "an integer for phase"},
        {"AddNRData \"p\" \"k\" true\n",
         "line 1, column 19: expected a quoted string, null or an integer for attributeValue"},
        {"kv8 refuse table \"x\"\n",
         "line 1, column 12: expected waypoint, state, attribute, get_state or initialize after "
         "kv8 refuse"},
        {"kv8 refuse state x\n",
         "line 1, column 18: expected the quoted name of the state to refuse"},
        {"kv8 refuse get_state 0\n",
         "line 1, column 22: expected a count (1 or more) or * for the refusal"},
        {"wpWarning \"\xC3\x28\"\n", "line 1, column 12: the text is not valid UTF-8"},
    };
    for (const Case& c : cases) {
        ProgramRun run = TevOnScenario(c.scenario);
        EXPECT_EQ(run.status, 2) << c.scenario;
        EXPECT_EQ(run.err, "tev: " + Path("scenario.tev") + ": " + c.message + "\n");
        EXPECT_EQ(run.out, "");
        EXPECT_FALSE(LogExists()) << c.scenario;
    }
    ProgramRun missing = Tev({"run", Path("none.tev")});
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(missing.err, "tev: " + Path("none.tev") + ": no such file or folder\n");
    EXPECT_EQ(Tev({"run", "--bogus"}).status, 2);
    EXPECT_EQ(Tev({}).status, 2);
}

// A phase is written as the header names it, bare or qualified, or as its number.
TEST_F(Tool, APhaseIsNamedBareQualifiedOrByNumber) {
    for (const char* phase : {"eInstallation", "TEVUtil::eInstallation", "2"}) {
        ProgramRun run = TevOnScenario(std::string("InitML false\nwpSetupPhase ") + phase +
                                       " true\nShutdownML\n");
        EXPECT_EQ(run.status, 0) << phase << run.err;
        EXPECT_NE(run.out.find("reached    wp.setup.installation.begin\n"), std::string::npos)
            << phase << run.out;
    }
}

// Words are parted by blanks and tabs, and a '#' outside quotes ends the line, right after a word
// too.
TEST_F(Tool, TabsAndCommentsPartWordsAsBlanksDo) {
    for (const char* scenario : {"InitML\tfalse\nwpWarning\t\"w\"\nShutdownML\n",
                                 "InitML false#c\nwpWarning \"w\"# \"x\"\nShutdownML#\n"}) {
        ProgramRun run = TevOnScenario(scenario);
        EXPECT_EQ(run.status, 0) << scenario << run.err;
        EXPECT_NE(run.out.find("reached    wp.warning\n             s.warning\n"
                               "               a.warning.message = \"w\"\n"),
                  std::string::npos)
            << run.out;
    }
}

TEST_F(Tool, OutboxReceivesEveryWaypointAsItIsHandedOver) {
    ProgramRun run = Tev({"run", "--outbox", Path("outbox.jsonl")});
    ASSERT_EQ(run.status, 0) << run.err;
    std::vector<std::string> lines = Lines(testing_support::ReadFile(tempDir_ / "outbox.jsonl"));
    ASSERT_EQ(lines.size(), 21u);
    EXPECT_EQ(lines.front(), R"({"call":"initialize","waypoint":"COMMON.STARTUP","states":[]})");
    EXPECT_EQ(nlohmann::json::parse(lines[17])["states"][0]["attributes"][3]["value"], "19045");
    EXPECT_EQ(lines.back(), R"({"call":"uninitialize","waypoint":"COMMON.SHUTDOWN","states":[]})");
}

TEST_F(Tool, AnUnendedRunShowsWhatWasNeverHandedOver) {
    ProgramRun run = Tev({"run", kScenarios + "/unended.tev"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("1 waypoint, 0 states, 0 attributes"), std::string::npos);
    EXPECT_NE(run.out.find("Never handed over (the run was not ended): waypoint 2 \"wp.setup\" "
                           "waypoint 5 \"wp.product\""),
              std::string::npos);
    EXPECT_EQ(run.out.find("Diagnostic log"), std::string::npos);
}

// The default run's log read back line for line: plain, and one JSON object per line. (Cut,
// damaged and missing logs are the log suites'.)
TEST_F(Tool, LogDecodesTheDefaultRunsLogLineForLine) {
    ASSERT_EQ(Tev({"run"}).status, 0);
    ProgramRun plain = Tev({"log", LogPath().string()});
    EXPECT_EQ(plain.status, 0);
    EXPECT_EQ(Lines(plain.out), LogLines());
    ProgramRun json = Tev({"log", LogPath().string(), "--json"});
    std::vector<std::string> objects = Lines(json.out);
    ASSERT_EQ(objects.size(), LogLines().size());
    nlohmann::json second = nlohmann::json::parse(objects[1]);
    EXPECT_EQ(second["token"], "SETUP");
    EXPECT_EQ(second["fields"], nlohmann::json::array({"a.setup", "0"}));
    EXPECT_EQ(second["time"].get<std::string>().size(), 20u);
}

TEST_F(Tool, ScenarioAndOutboxMayHaveAnyName) {
    std::u8string name =
        (tempDir_ / std::filesystem::path(u8"Setup \u00fc \u65e5\u672c")).u8string();
    std::string dir(name.begin(), name.end());  // arguments are UTF-8
    std::filesystem::create_directory(std::filesystem::path(std::u8string(dir.begin(), dir.end())));
    std::string scenario = dir + "/run.tev", outbox = dir + "/outbox.jsonl";
    WriteBytes(std::filesystem::path(std::u8string(scenario.begin(), scenario.end())),
               "InitML false\nShutdownML\n");
    ProgramRun run = Tev({"run", scenario, "--outbox", outbox});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "What the analytics library received from " + scenario +
                           " (2 steps):\n\n"
                           "start-up   COMMON.STARTUP\n"
                           "reached    wp.setup\n"
                           "             s.setup\n"
                           "               a.setup = \"0\"\n"
                           "shut-down  COMMON.SHUTDOWN\n\n"
                           "3 waypoints, 1 state, 1 attribute handed to the analytics library\n"
                           "Outbox: " +
                           outbox + "\n");
    EXPECT_EQ(Lines(testing_support::ReadFile(
                        std::filesystem::path(std::u8string(outbox.begin(), outbox.end()))))
                  .size(),
              3u);
}

// A scenario saved by an editor or a shell is played as the text it holds: UTF-8 after a
// byte-order mark, UTF-16 after one (PowerShell's `>`), lines ended by CR LF; UTF-16 cut inside a
// character is refused, naming its encoding.
TEST_F(Tool, AScenarioSavedWithAByteOrderMarkIsPlayed) {
    const std::string lines = "InitML true\r\nAddAttributeToSetup \"k\" \"v\"\r\nShutdownML\r\n";
    auto utf16 = [&](bool little) {
        std::string bytes = little ? "\xFF\xFE" : "\xFE\xFF";
        for (char c : lines) bytes += little ? std::string{c, '\0'} : std::string{'\0', c};
        return bytes;
    };
    const struct {
        const char* saved;
        std::string bytes;
        int status;
        std::string said;  // in standard output (0) or the whole of standard error
    } cases[] = {
        {"UTF-8 with its mark", "\xEF\xBB\xBF" + lines, 0, "\n               k = \"v\"\n"},
        {"UTF-16LE", utf16(true), 0, "\n               k = \"v\"\n"},
        {"UTF-16BE", utf16(false), 0, "\n               k = \"v\"\n"},
        {"UTF-16LE cut", utf16(true) + "I", 2,
         "line 4, column 1: the text is UTF-16LE (after its byte-order mark) cut inside a "
         "character: save it as UTF-8\n"},
    };
    for (const auto& c : cases) {
        ProgramRun run = TevOnScenario(c.bytes);
        EXPECT_EQ(run.status, c.status) << c.saved << run.err;
        if (c.status == 0)
            EXPECT_NE(run.out.find(c.said), std::string::npos) << c.saved << run.out;
        else
            EXPECT_EQ(run.err, "tev: " + Path("scenario.tev") + ": " + c.said) << c.saved;
    }
}

// A misspelt entry gets the nearest one, as a misspelt option does; a name chosen by the scenario
// reaches the terminal escaped, so that no text of it can retitle or recolour the terminal.
TEST_F(Tool, AMisspeltEntryIsNamedAndChosenNamesAreShownEscaped) {
    const struct {
        std::string line;
        std::string said;
    } misspelt[] = {
        {"InstalBegin \"Studio\"",
         "line 2, column 1: unknown entry InstalBegin (tev run --help lists them); did you mean "
         "InstallBegin?\n"},
        {"TEVUtil::DownloadBegn \"u\"",
         "line 2, column 1: unknown entry TEVUtil::DownloadBegn (tev run --help lists them); did "
         "you mean DownloadBegin?\n"},
        {"Launch \"Studio\"",
         "line 2, column 1: unknown entry Launch (tev run --help lists them)\n"},
    };
    for (const auto& c : misspelt) {
        ProgramRun run = TevOnScenario("InitML true\n" + c.line + "\nShutdownML\n");
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.err, "tev: " + Path("scenario.tev") + ": " + c.said);
    }
    ProgramRun run = TevOnScenario(
        "InitML true\nAddAttributeToSetup \"a\\u001b]0;TITLE\\u0007\" \"v\"\n"
        "AddNRData \"P\" \"n\\u001b[31m\" 1\nShutdownML\n");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("\n               a\\x1b]0;TITLE\\x07 = \"v\"\n"), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("\n               n\\x1b[31m = \"1\"\n"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find_first_of("\x1b\x07"), std::string::npos);
}
