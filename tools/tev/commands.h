// The tool's commands, each in a file of its own: main.cpp adds them to the command line and runs
// the one asked for.
#ifndef TEV_TOOL_COMMANDS_H
#define TEV_TOOL_COMMANDS_H

#include <functional>

namespace CLI {
class App;
}

namespace tevtool {

// Exit statuses; with several, the first in this order wins: usage or I/O error, a failure the
// log shows (never hidden behind a damaged record), malformed records. An internal failure ends the
// tool at once with a status of its own, whatever it was reading. tev run: ownership violations;
// tev log: malformed or cut records; tev doctor: the folder will not report to the maker's
// analytics library
constexpr int kFailure = 1;
constexpr int kUsageError = 2;     // bad command line, unreadable file or scenario
constexpr int kRunFailed = 3;      // tev log --summary: a log shows a failure
constexpr int kInternalError = 4;  // the tool itself failed: out of memory, or a fault of its own,
                                   // or its output could not be written
// The reader of the tool's output went away (a closed pipe): the tool stops at once, quietly, with
// the status a program that SIGPIPE ends gives on Linux.
constexpr int kReaderGone = 128 + 13;
// Stopped by an interrupt (Ctrl-C) where that is a way to end it (tev log --follow), after what it
// had to say was written: the status a shell gives a program SIGINT ends.
constexpr int kInterrupted = 128 + 2;

// A command on the command line: `app` is parsed into the command's options, then `run` does what
// they ask and gives the exit status.
struct Command {
    CLI::App* app;
    std::function<int()> run;
};

Command AddRunCommand(CLI::App& tev);
Command AddLogCommand(CLI::App& tev);
Command AddScenarioCommand(CLI::App& tev);
Command AddDoctorCommand(CLI::App& tev);

}  // namespace tevtool

#endif
