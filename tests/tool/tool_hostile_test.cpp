// Files made to hurt whoever reads them: an output that is one of the logs read under another
// name, names and scenarios that would drive the terminal or fill the memory, outputs that cannot
// be written, outboxes and temporary directories left in odd states. Each test builds its files
// in its own temporary directory.
#include <nlohmann/json.hpp>

#include <functional>

#include "tool_support.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

using testing_support::Has;
using testing_support::ProgramRun;
using testing_support::ReadFile;
using testing_support::WriteBytes;
namespace fs = std::filesystem;

// Whether the text holds anything but line feeds that would drive a terminal.
bool HoldsControls(const std::string& text) {
    for (char c : text)
        if ((static_cast<unsigned char>(c) < 0x20 && c != '\n') || c == 0x7F) return true;
    return false;
}

}  // namespace

class ToolHostile : public ToolTest {
protected:
    // A log of a played run at `name` in the temporary directory; returns its path.
    std::string Logged(const std::string& name) {
        fs::create_directories(tempDir_ / "played");
        ProgramRun run = Tev({"run", "--log-dir", Path("played")});
        EXPECT_EQ(run.status, 0) << run.err;
        // A UTF-8 name on every system (a narrow path is the ANSI code page's on Windows).
        fs::path target = tempDir_ / fs::path(std::u8string(name.begin(), name.end()));
        fs::create_directories(target.parent_path());
        fs::remove(target);  // MinGW's copy_file does not replace a file
        fs::copy_file(tempDir_ / "played" / "Setup_TEV.log", target);
        std::u8string utf8 = target.u8string();
        return std::string(utf8.begin(), utf8.end());
    }
};

// -o naming a log that is read, by whatever name, is refused before anything is written: the log
// keeps every byte.
TEST_F(ToolHostile, AnOutputThatIsALogReadUnderAnotherNameIsRefused) {
    struct Case {
        const char* name;
        std::function<bool()> make;  // false when the system cannot make it
        std::vector<std::string> arguments;
        std::string log;  // the log that must keep its bytes
        bool logOnStandardInput = false;
    };
    const Case cases[] = {
        {"a hard link",
         [&] { return fs::create_hard_link(Path("in.log"), Path("out.html")), true; },
         {"log", Path("in.log"), "--html", "-o", Path("out.html")},
         "in.log"},
        {"a link in a folder read",
         [&] {
             std::error_code error;
             fs::create_directory(tempDir_ / "d");
             fs::create_symlink("../in.log", tempDir_ / "d" / "link.log", error);
             return !error;
         },
         {"log", Path("d"), "--csv", "-o", Path("in.log")},
         "in.log"},
        {"a path through ..",
         [&] { return fs::create_directory(tempDir_ / "sub"), true; },
         {"log", Path("sub/../in.log"), "-o", Path("in.log")},
         "in.log"},
#ifndef _WIN32
        {"standard input", [] { return true; }, {"log", "-", "-o", Path("in.log")}, "in.log", true},
#endif
#ifdef _WIN32
        {"a name in other letter case",
         [] { return true; },
         {"log", Path("in.log"), "-o", Path("IN.LOG")},
         "in.log"},
#endif
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(tempDir_ / "d");
        fs::remove(tempDir_ / "out.html");
        std::string log = Logged(c.log);
        const std::string bytes = ReadFile(log);
        if (!c.make()) continue;
        std::vector<std::string> shell = {"-c", "exec \"$@\" <\"$0\"", log, TEV_TOOL_PATH};
        shell.insert(shell.end(), c.arguments.begin(), c.arguments.end());
        ProgramRun run = c.logOnStandardInput
                             ? testing_support::RunTool(tempDir_, shell, "", "/bin/sh")
                             : Tev(c.arguments);
        EXPECT_EQ(run.status, 2);
        EXPECT_TRUE(Has(run.err, "is among what is read; name another file\n")) << run.err;
        EXPECT_EQ(ReadFile(log), bytes);
    }
}

// Names and scenarios that hold escape sequences, line feeds or a megabyte of nothing reach the
// terminal escaped, and an echoed fragment of a scenario is cut short.
TEST_F(ToolHostile, NamesAndScenarioFragmentsReachTheTerminalEscaped) {
#ifdef _WIN32
    const std::string name = "a\xE2\x80\xAEgol.txt";  // Windows takes no control in a name
    const std::string shown = "a\\u202egol.txt";
#else
    const std::string name = "a\x1b]0;owned\x07\nb.log";
    const std::string shown = "a\\x1b]0;owned\\x07\\nb.log";
#endif
    std::string log = Logged(name), other = Logged("other.log");
    WriteBytes(tempDir_ / "entry.tev", "InitML true\nInit\x1b[31mML\n");
    WriteBytes(tempDir_ / "nothing.tev", std::string(1000, '\0'));
    struct Case {
        std::vector<std::string> arguments;
        std::string said;  // in the output or the messages
    };
    const Case cases[] = {
        {{"log", log, other}, Path(shown) + ":"},  // each line names its log
        {{"log", log + "x"}, "tev: " + Path(shown) + "x: no such file or folder"},
        {{"log", log, "-o", log}, "tev: -o " + Path(shown) + " is among what is read"},
        {{"run", log + "x"}, "tev: " + Path(shown) + "x: no such file or folder"},
        {{"run", Path("entry.tev")}, "line 2, column 1: unknown entry Init\\x1b[31mML ("},
        {{"run", Path("nothing.tev")},
         "unknown entry " +
             [] {
                 std::string cut;
                 for (int i = 0; i < 40; ++i) cut += "\\x00";
                 return cut;
             }() +
             "\xE2\x80\xA6 ("},
        {{"log", "--json", "--csv", log}, ""},  // a refusal quoting no name
        {{"scenario", name}, "The following argument was not expected: " + name.substr(0, 1)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.back());
        ProgramRun run = Tev(c.arguments);
        EXPECT_TRUE(Has(run.out + run.err, c.said)) << run.out << run.err;
        EXPECT_FALSE(HoldsControls(run.err)) << run.err;
        EXPECT_LT(run.err.size(), 400u);
    }
}

// A scenario is bounded: a line longer than two mebibytes or more entries than a scenario holds is
// refused with its line, before anything is played.
TEST_F(ToolHostile, AScenarioTooLargeIsRefusedWithItsLine) {
    struct Case {
        std::string text;
        std::string message;
    };
    std::string many;
    for (int i = 0; i < 10001; ++i) many += "InitML false\n";
    const Case cases[] = {
        {"InitML false\n" + std::string((2 << 20) + 1, 'x') + "\n",
         "line 2, column 1: the line is longer than 2 MiB"},
        {std::string(5 << 20, '\0'), "line 1, column 1: the line is longer than 2 MiB"},
        {many, "line 10001, column 1: more than 10,000 entries"},
        {std::string(5 << 20, '\n'), "longer than 4 MiB"},
    };
    for (const Case& c : cases) {
        WriteBytes(tempDir_ / "big.tev", c.text);
        for (const std::string& source : {Path("big.tev"), std::string("-")}) {
            ProgramRun run = source == "-" ? Tev({"run", "-"}, c.text) : Tev({"run", source});
            EXPECT_EQ(run.status, 2) << c.message;
            EXPECT_TRUE(Has(run.err, c.message)) << run.err;
            EXPECT_EQ(run.out, "");
        }
    }
    // Kept: a line of exactly two mebibytes (2,097,152 bytes before its line end) is played.
    std::string warning = "wpWarning \"" + std::string(2097152 - 12, 'x') + "\"";
    ASSERT_EQ(warning.size(), 2097152u);
    WriteBytes(tempDir_ / "edge.tev", "InitML false\n" + warning + "\nShutdownML\n");
    ProgramRun kept = Tev({"run", Path("edge.tev")});
    EXPECT_EQ(kept.status, 0) << kept.err;
}

#ifndef _WIN32
// Output that cannot be written is an error of the tool's own, with one message, whatever the
// command; nothing is said to be done that was not.
TEST_F(ToolHostile, OutputThatCannotBeWrittenIsAnError) {
    std::string log = Logged("a.log");
    const std::vector<std::string> cases[] = {
        {"log", log, "--json"}, {"scenario"}, {"run", "--trace"}, {"log", log, "--html"}};
    for (const std::vector<std::string>& arguments : cases) {
        std::vector<std::string> shell = {"-c", "exec \"$0\" \"$@\" >/dev/full", TEV_TOOL_PATH};
        shell.insert(shell.end(), arguments.begin(), arguments.end());
        ProgramRun run = testing_support::RunTool(tempDir_, shell, "", "/bin/sh");
        EXPECT_EQ(run.status, 4) << arguments.back();
        EXPECT_EQ(run.err, "tev: cannot write standard output: No space left on device\n");
    }
    ProgramRun file = Tev({"log", log, "-o", "/dev/full"});
    EXPECT_EQ(file.status, 4);
    EXPECT_EQ(file.err, "tev: cannot write /dev/full: No space left on device\n");
}

// A temporary directory the play cannot make its folder in costs the play its log: it is written
// nowhere, not even in a folder someone left there under the name a fallback would take.
TEST_F(ToolHostile, APlayWithoutAFolderOfItsOwnWritesNoLog) {
    fs::path shared = tempDir_ / "shared";
    fs::create_directories(shared / "tev-run-unavailable");
    fs::permissions(shared / "tev-run-unavailable", fs::perms::all);
    fs::permissions(shared, fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
    std::vector<std::string> arguments = {"run"};
    std::string program = TEV_TOOL_PATH;
    if (geteuid() == 0) {  // root writes anywhere: the tool runs as another user
        for (fs::path at = shared; at != tempDir_.parent_path(); at = at.parent_path())
            fs::permissions(at, fs::perms::others_read | fs::perms::others_exec,
                            fs::perm_options::add);
        arguments.insert(arguments.begin(),
                         {"--reuid=65534", "--regid=65534", "--clear-groups", program});
        program = "/usr/bin/setpriv";
    }
    testing_support::UseTempDirectory(shared);
    ProgramRun run = testing_support::RunTool(tempDir_, arguments, "", program);
    testing_support::UseTempDirectory(tempDir_);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(Has(run.err, "tev: the play writes no log: cannot make a folder ")) << run.err;
    EXPECT_TRUE(Has(run.out, "Diagnostic log: none could be written in the temporary directory"))
        << run.out;
    EXPECT_TRUE(fs::is_empty(shared / "tev-run-unavailable"));
}
#endif

// An outbox asked for loses no line it holds: one cut short that looks like the start of the
// stand-in's own is ended, not taken for one the stand-in left half-written.
TEST_F(ToolHostile, AnOutboxKeepsEveryLineItHeld) {
    const std::string kept[] = {"{", "{\"call\":", "the user's own", "{}\n", ""};
    for (const std::string& before : kept) {
        WriteBytes(tempDir_ / "outbox.jsonl", before);
        ProgramRun run = Tev({"run", "--outbox", Path("outbox.jsonl")});
        EXPECT_EQ(run.status, 0) << run.err;
        std::string after = ReadFile(tempDir_ / "outbox.jsonl");
        std::string start = before.empty() || before.back() == '\n' ? before : before + "\n";
        EXPECT_EQ(after.substr(0, start.size()), start) << after;
        EXPECT_TRUE(Has(after.substr(start.size()), "{\"call\":\"initialize\""));
    }
}
