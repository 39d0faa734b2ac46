// tev's front as a user meets it: exit statuses that mean one thing each, options that are refused
// or corrected with a message, a path alone read as a log, output to a file, folders walked by name
// whatever their files are called, and colour and progress on a terminal only.
#include <nlohmann/json.hpp>

#include <algorithm>
#include <fstream>

#include "tool_support.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

using testing_support::Has;
using testing_support::Lines;
using testing_support::ProgramRun;
using testing_support::ReadFile;
using testing_support::Utf16Line;
using testing_support::WriteBytes;
namespace fs = std::filesystem;

// PATH written the Unix way, beginning with "/", as a shell passes it to a program under Wine: its
// Unix name, from Wine; on Windows itself, from the root of its drive (the tests run on one drive).
std::string Slashed(const fs::path& path) {
#ifdef _WIN32
    using UnixName = char*(__cdecl*)(const wchar_t*);
    if (auto unixName = reinterpret_cast<UnixName>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")))) {
        char* name = unixName(path.wstring().c_str());
        std::string text = name ? name : "";
        HeapFree(GetProcessHeap(), 0, name);
        return text;
    }
    std::string text = path.string().substr(path.string().find(':') + 1);
    std::replace(text.begin(), text.end(), '\\', '/');
    return text;
#else
    return path.string();
#endif
}

}  // namespace

class ToolFront : public ToolTest {
protected:
    // Plays a run with a warning in `dir`; returns its log.
    fs::path Logged(const std::string& dir) {
        WriteBytes(tempDir_ / "scenario.tev", "InitML true\nwpWarning \"w\"\nShutdownML\n");
        fs::create_directories(tempDir_ / dir);
        ProgramRun run = Tev({"run", Path("scenario.tev"), "--log-dir", Path(dir)});
        EXPECT_EQ(run.status, 0) << run.err;
        return tempDir_ / dir / "Setup_TEV.log";
    }
};

TEST_F(ToolFront, OptionsThatConflictOrAreMisspeltAreRefusedWithAMessage) {
    std::string log = Logged("logs").string();
    const std::string bytes = ReadFile(log);
    struct Case {
        std::vector<std::string> arguments;
        std::string message;
    };
    const Case cases[] = {
        {{"log", log, "--json", "--csv"}, "--json excludes --csv"},
        {{"log", log, "--html", "--summary"}, "--summary excludes --html"},
        {{"log", log, "--csv", "--html"}, "--csv excludes --html"},
        {{"log", log, "-o", log}, "tev: -o " + log + " is among what is read; name another file\n"},
        {{"log", Path("logs"), "-o", Path("logs/new.txt")}, "is among what is read"},
        {{"log", "--sumary"}, "tev: unknown option --sumary; did you mean --summary?"},
        {{"log", "--jsno", log}, "did you mean --json?"},
        {{"log", "--tot", log}, "did you mean --totals?"},
        {{"log", "--jsonld", log}, "tev: unknown option --jsonld; did you mean --json?"},
        {{"log", "--summary=yes", "--outbox", "x"},
         "tev: unknown option --outbox (see tev log --help)\n"},
        {{"run", "--outbx", "x"}, "did you mean --outbox?"},
        {{"lgo", log}, "tev: unknown subcommand lgo; did you mean log?"},
        {{"scenaro"}, "did you mean scenario?"},
        {{"nothing-like-a-command"}, "unknown subcommand nothing-like-a-command (the"},
        {{"-x"}, "tev: unknown option -x (see tev --help)\n"},
        {{"log", "--follow", log, log}, "tev: --follow follows one log\n"},
        {{"log", "--follow", "-"}, "tev: --follow follows a log file, not standard input\n"},
        {{"log", "--follow", Path("logs")}, "tev: --follow follows a log file, not a folder\n"},
        {{"log", "--local", log},
         "tev: --local shows the times of --json, --summary and --html in this machine's time "
         "zone; the plain decode shows each record as logged, in UTC\n"},
#ifdef _WIN32  // "/" begins an option there too
        {{"log", Slashed(log), "/sumary"}, "The following argument was not expected: /sumary\n"},
#endif
    };
    for (const Case& c : cases) {
        ProgramRun run = Tev(c.arguments);
        EXPECT_EQ(run.status, 2) << c.message;
        EXPECT_TRUE(Has(run.err, c.message)) << run.err;
        EXPECT_EQ(run.out, "");
    }
    EXPECT_EQ(ReadFile(log), bytes);  // -o never emptied the log it names
}

TEST_F(ToolFront, APathAloneIsReadAsALogAndDashOWritesToAFile) {
    fs::path log = Logged("logs");
    ProgramRun asked = Tev({"log", log.string()});
    ProgramRun dropped = Tev({log.string()});  // a log dropped on the tool
    EXPECT_EQ(dropped.status, 0) << dropped.err;
    EXPECT_EQ(dropped.out, asked.out);
    EXPECT_EQ(Lines(dropped.out).size(), 6u);
    EXPECT_EQ(Tev({Path("logs"), "--summary", "--json"}).status, 0);

    // A path that begins with "/" is read wherever it stands, the options around it kept (CLI11
    // on Windows takes "/name" for an option).
    const std::string slashed = Slashed(log);
    fs::create_directories(tempDir_ / "process");
    fs::copy_file(log, tempDir_ / "process" / "-dash.log");
    const std::string summaryHead = slashed + " (run 1)\n";
    const struct {
        std::vector<std::string> arguments;
        std::string out;  // all of it, or its first line when it is summaryHead
    } slashPaths[] = {
        {{"log", slashed}, asked.out},
        {{slashed}, asked.out},
        {{"log", slashed, "-o", Path("slashed.txt")}, ""},
        {{"log", "-o" + Path("attached.txt"), slashed}, ""},
        {{"log", "--output=" + Path("equals.txt"), slashed}, ""},
        // A name that begins with "-", in the folder the tool works in, after "--".
        {{"log", "--", "-dash.log"}, asked.out},
        {{"log", "--summary", slashed}, summaryHead},
        {{slashed, "--summary"}, summaryHead},
#ifdef _WIN32
        {{"log", slashed, "/summary"}, summaryHead},
#endif
    };
    const fs::path workingFolder = fs::current_path();
    fs::current_path(tempDir_ / "process");  // the tool's, which it inherits
    for (const auto& c : slashPaths) {
        ProgramRun run = Tev(c.arguments);
        EXPECT_EQ(run.status, 0) << c.arguments.back() << ": " << run.err;
        EXPECT_EQ(c.out == summaryHead ? run.out.substr(0, run.out.find('\n') + 1) : run.out,
                  c.out);
    }
    fs::current_path(workingFolder);
    for (const char* written : {"slashed.txt", "attached.txt", "equals.txt"})
        EXPECT_EQ(ReadFile(tempDir_ / written), asked.out) << written;

    ProgramRun toFile = Tev({"log", log.string(), "-o", Path("decoded.txt")});
    EXPECT_EQ(toFile.status, 0) << toFile.err;
    EXPECT_EQ(toFile.out, "");
    EXPECT_EQ(ReadFile(tempDir_ / "decoded.txt"), asked.out);
    ProgramRun folder = Tev({"log", Path("logs"), "--output=" + Path("decoded.txt")});
    EXPECT_EQ(folder.status, 0) << folder.err;
    // Of a folder, each line names its log, as grep -H does, when it is not shown on a terminal.
    std::string named;
    for (const std::string& line : Lines(asked.out)) named += log.string() + ":" + line + "\n";
    EXPECT_EQ(ReadFile(tempDir_ / "decoded.txt"), named);
    ProgramRun unwritable = Tev({"log", log.string(), "-o", Path("none/decoded.txt")});
    EXPECT_EQ(unwritable.status, 2);
    EXPECT_EQ(unwritable.err,
              "tev: cannot write " + Path("none/decoded.txt") + ": no such file or folder\n");
}

TEST_F(ToolFront, AFolderIsWalkedByNameAndEveryLogIsReadWhateverItsName) {
    fs::path log = Logged("logs");
    fs::path folder = tempDir_ / "folder";
    fs::create_directories(folder / "b");
    fs::copy_file(log, folder / "c.log");
    fs::copy_file(log, folder / "a copy.txt");  // a log sent on as text
    fs::copy_file(log, folder / "b" / "data");
    // The same log re-saved as UTF-8 text.
    std::string resaved;
    for (const std::string& line : Lines(Tev({"log", log.string()}).out)) resaved += line + "\r\n";
    WriteBytes(folder / "b" / "resaved.txt", resaved);
    WriteBytes(folder / "b" / "notes.txt", "not a log");
    WriteBytes(folder / "image.png", std::string("\x89PNG\r\n\x1a\n\0\0\0\r", 12));
    WriteBytes(folder / "empty.log", "");

    ProgramRun rows = Tev({"log", "--csv", folder.string()});
    EXPECT_EQ(rows.status, 0) << rows.err;
    std::vector<std::string> files;
    for (const std::string& line : Lines(rows.out)) files.push_back(line.substr(0, line.find(',')));
    EXPECT_EQ(files, (std::vector<std::string>{
                         "file", (folder / "a copy.txt").string(), (folder / "b" / "data").string(),
                         (folder / "b" / "resaved.txt").string(), (folder / "c.log").string()}));
    for (const char* skipped : {"b/notes.txt", "empty.log", "image.png"})
        EXPECT_TRUE(Has(rows.err, "tev: " + (folder / skipped).make_preferred().string() +
                                      ": skipped: not a log by its content"))
            << rows.err;

#ifndef _WIN32
    // A folder and a file that cannot be read are each named, and the walk goes on past them.
    fs::create_directories(folder / "a-locked" / "inner");
    fs::copy_file(log, folder / "a-locked" / "inner" / "hidden.log");
    fs::copy_file(log, folder / "b" / "locked.log");
    fs::create_directories(folder / "d");
    fs::copy_file(log, folder / "d" / "locked.log");
    fs::permissions(folder / "a-locked", fs::perms::none);
    fs::permissions(folder / "b" / "locked.log", fs::perms::none);
    fs::permissions(folder / "d" / "locked.log", fs::perms::none);
    // Root reads everything: the tool is run as another user, who may read all the rest.
    std::vector<std::string> asUser = {"log", "--csv", folder.string()};
    std::string program = TEV_TOOL_PATH;
    if (geteuid() == 0) {
        // The other user reaches the test's folder only through folders anyone may enter; the
        // temporary directory's own are not the test's to open up.
        for (fs::path at = tempDir_.parent_path(); at != at.root_path(); at = at.parent_path())
            if ((fs::status(at).permissions() & fs::perms::others_exec) == fs::perms::none)
                GTEST_SKIP() << "run as root, this case runs the tool as another user, who cannot "
                                "enter "
                             << at << " on the way to the temporary directory";
        for (fs::path at = folder / "b" / "data"; at != tempDir_.parent_path();
             at = at.parent_path())
            fs::permissions(at, fs::perms::others_read | fs::perms::others_exec,
                            fs::perm_options::add);
        for (const char* file :
             {"c.log", "a copy.txt", "b/resaved.txt", "b/notes.txt", "image.png"})
            fs::permissions(folder / file, fs::perms::others_read, fs::perm_options::add);
        fs::permissions(folder / "d", fs::perms::others_read | fs::perms::others_exec,
                        fs::perm_options::add);
        asUser.insert(asUser.begin(),
                      {"--reuid=65534", "--regid=65534", "--clear-groups", program});
        program = "/usr/bin/setpriv";
    }
    ProgramRun locked = testing_support::RunTool(tempDir_, asUser, "", program);
    EXPECT_EQ(locked.status, 2);
    EXPECT_EQ(Lines(locked.out).size(), 1u + 4u) << locked.out;
    EXPECT_TRUE(Has(locked.err, "tev: " + (folder / "a-locked").string() + ": Permission denied\n"))
        << locked.err;
    EXPECT_TRUE(
        Has(locked.err, "tev: " + (folder / "b" / "locked.log").string() + ": Permission denied\n"))
        << locked.err;
    // A folder whose only log cannot be read holds no log it could read.
    asUser[asUser.size() - 1] = (folder / "d").string();
    ProgramRun lockedOnly = testing_support::RunTool(tempDir_, asUser, "", program);
    EXPECT_EQ(lockedOnly.status, 2);
    EXPECT_EQ(lockedOnly.err, "tev: " + (folder / "d" / "locked.log").string() +
                                  ": Permission denied\ntev: " + (folder / "d").string() +
                                  ": the folder holds no log\n");
    fs::permissions(folder / "a-locked", fs::perms::owner_all);
#endif
}

#ifndef _WIN32
// An internal failure is told apart from a log that shows a failure (3) and from a usage error.
TEST_F(ToolFront, RunningOutOfMemoryHasAnExitStatusOfItsOwn) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer reserves more address space than the limit allows";
#else
    // A scenario as long as one may be, in an address space too small to play it.
    std::string scenario = "InitML true\nwpWarning \"" + std::string((2 << 20) - 20, 'a') + "\"\n";
    WriteBytes(tempDir_ / "big.tev", scenario);
    ProgramRun run = testing_support::RunTool(
        tempDir_, {"--as=30000000", "--", TEV_TOOL_PATH, "run", Path("big.tev")}, "",
        "/usr/bin/prlimit");
    EXPECT_EQ(run.status, 4) << run.err;
    EXPECT_EQ(run.err, "tev: internal error: out of memory\n");
#endif
}

// The reader of the output gone (`| head -c 1`) with SIGPIPE ignored, as a parent may leave it: the
// failed write ends the tool at once, quietly, with the status a SIGPIPE would have given.
TEST_F(ToolFront, AReaderGoneAwayEndsTheToolQuietlyEvenWithSigpipeIgnored) {
    std::string big;
    while (big.size() < (1 << 20)) big += Utf16Line("1/2/2016; 3:4:5; wpWarning;a long log;");
    WriteBytes(tempDir_ / "big.log", big);
    ProgramRun run = testing_support::RunTool(
        tempDir_,
        {"-c", R"(trap '' PIPE; "$0" log "$1" | head -c 1 >/dev/null; echo "${PIPESTATUS[0]}")",
         TEV_TOOL_PATH, Path("big.log")},
        "", "/bin/bash");
    EXPECT_EQ(run.out, "141\n");
    EXPECT_EQ(run.err, "");
}

// Of a folder's files that are no log, the first ten by name are named and the rest counted; an
// entry the walk cannot look at (a link to itself) is named with the system's reason.
TEST_F(ToolFront, AFoldersFilesThatAreNoLogAreNamedUpToTenThenCounted) {
    fs::path log = Logged("logs");
    const std::string why =
        ": not a log by its content (no dated record of TEV's in its first 4 KB)\n";
    for (auto [others, counted] : {std::pair{10, ""}, {12, "and 2 more files skipped"}}) {
        SCOPED_TRACE(others);
        fs::path folder = tempDir_ / ("folder" + std::to_string(others));
        fs::create_directories(folder);
        fs::copy_file(log, folder / "a.log");
        std::string expected;
        for (int i = 0; i < others; ++i) {
            std::string name = "note" + std::to_string(10 + i) + ".txt";
            WriteBytes(folder / name, "not a log");
            if (i < 10) expected += "tev: " + (folder / name).string() + ": skipped" + why;
        }
        if (*counted) expected += "tev: " + folder.string() + ": " + counted + why;
        ProgramRun run = Tev({"log", "--csv", folder.string()});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.err, expected);
    }
    fs::create_symlink("loop.log", tempDir_ / "folder10" / "loop.log");
    ProgramRun looped = Tev({"log", "--csv", Path("folder10")});
    EXPECT_EQ(looped.status, 2);
    EXPECT_TRUE(Has(looped.err,
                    "tev: " + Path("folder10") + "/loop.log: Too many levels of symbolic links\n"))
        << looped.err;
}

// On a terminal (a pseudo-terminal that `script` gives the tool): colour, unless NO_COLOR says
// otherwise, and the progress of a long read; neither when the output is piped.
TEST_F(ToolFront, ColourAndProgressOnlyOnATerminal) {
    fs::path log = Logged("logs");
    fs::copy_file(log, tempDir_ / "logs" / "second.log");
    std::string line = Utf16Line("1/2/2016; 3:4:5; wpWarning;a warning of the long log;");
    std::string big = ReadFile(log);
    while (big.size() < (33 << 20)) big += line;
    WriteBytes(tempDir_ / "big.log", big);
    auto onTerminal = [&](const std::string& command) {
        return testing_support::RunTool(tempDir_, {"-q", "-e", "-c", command, "/dev/null"}, "",
                                        "/usr/bin/script")
            .out;
    };
    const std::string tev = TEV_TOOL_PATH;
    const std::string bold = "\x1b[1m== " + log.string() + " ==\x1b[0m";
    testing_support::UnsetEnv("NO_COLOR");
    std::string coloured = onTerminal(tev + " log " + Path("logs") + " " + Path("none.log"));
    EXPECT_TRUE(Has(coloured, bold)) << coloured;
    EXPECT_TRUE(Has(coloured, "\x1b[1m\x1b[91mtev: " + Path("none.log"))) << coloured;
    std::string progress = onTerminal(tev + " log " + Path("big.log") + " >/dev/null");
    const std::string reading = "\rtev: reading " + Path("big.log") + ": ";
    EXPECT_TRUE(Has(progress, reading + "  3%" + reading + "  6%")) << progress;
    EXPECT_TRUE(Has(progress, reading + "100%\r\x1b[K")) << progress;

    ProgramRun piped = Tev({"log", Path("logs"), Path("big.log"), "--summary"});
    EXPECT_EQ(piped.out.find('\x1b'), std::string::npos);
    EXPECT_EQ(piped.err.find('\x1b'), std::string::npos);
    EXPECT_EQ(piped.err.find("reading"), std::string::npos);
    testing_support::SetEnv("NO_COLOR", "1");
    std::string plain = onTerminal(tev + " log " + Path("logs") + " " + Path("none.log"));
    testing_support::UnsetEnv("NO_COLOR");
    EXPECT_TRUE(Has(plain, "== " + log.string() + " ==\r\n")) << plain;
    EXPECT_EQ(plain.find('\x1b'), std::string::npos) << plain;
}
#endif

// What a support engineer meets first: each run's outcome and first error at the top of its
// block, and a named path that is no log, or none at all, refused with why.
TEST_F(ToolFront, TheFrontSaysWhatItReadAndRefusesWhatIsNoLog) {
    fs::path log = Logged("logs");
    ProgramRun summary = Tev({"log", "--summary", log.string()});
    std::vector<std::string> lines = Lines(summary.out);
    ASSERT_GE(lines.size(), 2u) << summary.out;
    EXPECT_EQ(lines[1], "  outcome       ok, ShutdownML") << summary.out;
    EXPECT_EQ(summary.out.find('\x1b'), std::string::npos);  // piped: no colour

    // One log or several, every JSON object names its file.
    for (const std::string& line : Lines(Tev({"log", "--json", log.string()}).out))
        EXPECT_EQ(nlohmann::json::parse(line).value("file", ""), log.string()) << line;

    WriteBytes(tempDir_ / "passwd", "root:x:0:0:root:/root:/bin/bash\n");
    WriteBytes(tempDir_ / "runs.png", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16));
    fs::create_directories(tempDir_ / "no logs");
    fs::copy_file(tempDir_ / "passwd", tempDir_ / "no logs" / "passwd");
    struct Case {
        std::vector<std::string> arguments;
        std::string error;
    } cases[] = {
        {{"log", Path("passwd")}, Path("passwd") + ": not a log by its content"},
        {{Path("runs.png")}, Path("runs.png") + ": not a log by its content"},
        {{Path("nosuch.log")}, Path("nosuch.log") + ": no such file or folder"},
        {{"log", Path("no logs")}, Path("no logs") + ": the folder holds no log"},
    };
    for (const Case& c : cases) {
        ProgramRun run = Tev(c.arguments);
        EXPECT_EQ(run.status, 2) << c.error;
        EXPECT_EQ(run.out, "") << c.error;
        EXPECT_TRUE(Has(run.err, "tev: " + c.error)) << run.err;
    }
}

// A path that names nothing is said in one wording, whichever command was given it (and a file
// where the play's log folder should be, as what it is).
TEST_F(ToolTest, EveryCommandSaysAMissingPathTheSameWay) {
    const std::string missing = Path("none/there.log");
    WriteBytes(tempDir_ / "file", "a file, not a folder");
    const struct {
        std::vector<std::string> arguments;
        std::string said;  // the whole of standard error
    } cases[] = {
        {{"log", missing}, "tev: " + missing + ": no such file or folder\n"},
        {{missing},
         "tev: " + missing +
             ": no such file or folder (name a log or a folder of logs to read, or a subcommand: "
             "run, log, scenario, doctor; see tev --help)\n"},
        {{"run", missing}, "tev: " + missing + ": no such file or folder\n"},
        {{"doctor", missing}, "tev: " + missing + ": no such file or folder\n"},
        {{"log", Path("file/there.log")},
         "tev: " + Path("file/there.log") + ": no such file or folder\n"},
        {{"there.log"},
         "tev: there.log: no such file or folder (name a log or a folder of logs to read, or a "
         "subcommand: run, log, scenario, doctor; see tev --help)\n"},
        {{"run", "--log-dir", missing},
         "tev: cannot use " + missing + " for the log: no such file or folder\n"},
        {{"run", "--outbox", missing},
         "tev: cannot write the outbox " + missing + ": no such file or folder\n"},
        {{"run", "--log-dir", Path("file")},
         "tev: cannot use " + Path("file") + " for the log: not a directory\n"},
    };
    for (const auto& c : cases) {
        ProgramRun run = Tev(c.arguments);
        EXPECT_EQ(run.status, 2) << c.arguments.front();
        EXPECT_EQ(run.err, c.said) << c.arguments.front();
    }
}
