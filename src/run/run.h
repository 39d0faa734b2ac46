// A reporting run, from InitML to ShutdownML or OnCrash: its log, its setup report and its
// progress events, each owned here, and whether reporting is on.
//
//   InitML(log) --Restart--> [discard an active run unsent; without log: close its log]
//                -> Log::Open (an open log is kept) -> "InitML"
//                -> library unavailable? "KV8 unavailable;file;cause", close
//                -> COMMON.STARTUP to Initialize -> library up?
//                     no: "Fail to initialize KV8", close
//                     yes: reporting on, wp.setup made
//   entries while reporting -> SetupReport (kept) / ProgressEvents (sent at once), Log::Write
//   ShutdownML --End--> "ShutdownML" -> SetupReport::Commit -> COMMON.SHUTDOWN to Uninitialize
//                       -> close
//   OnCrash --Crash--> "OnCrash" -> COMMON.CRASH to OnCrash -> End
//
// Objects the library creates are the system's until it adds them to a parent (the parent then
// owns them), hands a waypoint over (WaypointReached, Initialize, Uninitialize, OnCrash: the
// library owns it) or destroys them. The setup report's pointers are plain: Clear releases
// nothing, so every path hands over or destroys first.
#ifndef TEV_RUN_RUN_H
#define TEV_RUN_RUN_H

#include "../events/progress_events.h"
#include "../log/log.h"
#include "../setup_report/setup_report.h"

namespace tev {

// Any entry may throw (an allocation that cannot be satisfied); the caller contains it.
class Run {
public:
    Run() = default;
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;

    // Ends an active run, unsent, and starts a new one, which writes its lines after the active
    // run's in the log when both log. False when the analytics library does not come up; the run
    // is then closed and reporting stays off.
    bool Restart(bool enableLog);
    // Sends what the run kept, shuts the library down, and closes the run.
    void End();
    // Reports the crash, then ends the run as End does.
    void Crash();
    // The analytics library's identifier of the user; a library that is not up gets a run without
    // a log first.
    const TEVChar* UserId();
    // Closes the run: the log closed, nothing held, reporting off. Whatever the run held must have
    // been handed over or destroyed.
    void Close();

    bool Reporting() const { return reporting_; }
    Log& TheLog() { return log_; }
    SetupReport& Report() { return report_; }
    ProgressEvents& Events() { return events_; }

private:
    bool Start(bool enableLog);
    // Destroys what an active run has not handed over, and clears it but for its log.
    void DestroyUnsent();
    // Clears the report and the events (whatever they held handed over or destroyed).
    void ClearReport();

    bool reporting_ = false;
    Log log_;
    SetupReport report_{log_};
    ProgressEvents events_{log_};
};

// The process's one run. The installer calls the entries one at a time, from one thread.
Run& CurrentRun();

}  // namespace tev

#endif
