// The run's life cycle: InitML, ShutdownML, OnCrash, GetKV8UserId.
#include "../setup_report/setup_report.h"
#include "TEVUtil.h"
#include "log.h"
#include "run_state.h"

namespace tev {

RunState runState;

namespace {

// The analytics library's configuration file, beside the host executable (not this library).
WideString ConfigurationPath() {
    WideString path = platform::operations.executableDirectory();
    path += TEV_TEXT("ORB");
    path += platform::kPathSeparator;
    path += TEV_TEXT("orbconfig.xml");
    return path;
}

// Every field of the run record back to "no run": the log closed, nothing held. Whatever the
// record pointed at has been handed over or destroyed; the product map's memory is given back.
void ForgetRun() {
    CloseLog();
    runState = RunState{};
}

// Ends a run that never sent what it kept: the setup report is destroyed, unsent.
void DiscardRun() {
    if (runState.enabled) DiscardSetupReport();
    ForgetRun();
}

// Starts a run on a record that holds none. False when the analytics library stays down; the
// caller then forgets the run.
bool StartRun(bool enableLog) {
    WideString configPath = ConfigurationPath();
    if (enableLog) OpenLogFile();
    WriteLog({TEV_TEXT("InitML")});

    CMLWaypoint* startup = CMLWaypoint::Create(TEV_TEXT("COMMON.STARTUP"));
    if (!startup) return false;
    CMLFacade::Initialize(startup, configPath.c_str(), TEV_TEXT(""), 0, 0u, 0LL, 0LL, TEV_TEXT(""),
                          nullptr, true);
    runState.enabled = CMLFacade::IsKV8Initialized();
    if (!runState.enabled) {
        WriteLog({TEV_TEXT("Fail to initialize KV8")});
        startup->Destroy();  // a library that did not come up took nothing
        return false;
    }
    CreateSetupWaypoint();
    return true;
}

// Sends what the run kept, shuts the library down, and forgets the run.
void EndRun() {
    WriteLog({TEV_TEXT("ShutdownML")});
    CommitSetupWaypoint();
    CommitProducts();
    // The library takes the shut-down waypoint as created, null included.
    CMLFacade::Uninitialize(CMLWaypoint::Create(TEV_TEXT("COMMON.SHUTDOWN")), 0u);
    ForgetRun();
}

}  // namespace

}  // namespace tev

using namespace tev;

bool TEVUtil::InitML(bool enableLog) {
    bool started = Contained(false, [&] {
        // An earlier run still active loses what it never sent, and its log handle is closed so
        // that this run can create the log anew. First, so that an InitML that fails, for lack of
        // memory too, leaves reporting off.
        DiscardRun();
        return StartRun(enableLog);
    });
    if (!started) ForgetRun();
    return started;
}

bool TEVUtil::ShutdownML() {
    return Contained(true, [] {
        if (runState.enabled) EndRun();
        return true;
    });
}

void TEVUtil::OnCrash() {
    Contained([] {
        if (!runState.enabled) return;
        WriteLog({TEV_TEXT("OnCrash")});
        CMLFacade::OnCrash(CMLWaypoint::Create(TEV_TEXT("COMMON.CRASH")), 0u, 0LL, 0LL);
        EndRun();
    });
}

const TEVChar* TEVUtil::GetKV8UserId() {
    return Contained<const TEVChar*>(TEV_TEXT(""), [] {
        // A library that is not up gets a run without a log first.
        if (!CMLFacade::IsKV8Initialized()) InitML(false);
        return CMLFacade::GetKV8UserId();
    });
}
