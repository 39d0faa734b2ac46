// The run's life cycle: InitML, ShutdownML, OnCrash, GetKV8UserId.
#include "../setup_report/setup_report.h"
#include "TEVUtil.h"
#include "log.h"
#include "run_state.h"

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

}  // namespace

bool TEVUtil::InitML(bool enableLog) {
    return Contained(false, [&] {
        // Built first, so that nothing of the run changes when memory runs out here.
        WideString configPath = ConfigurationPath();

        // An earlier run still active loses what it never sent, and its log handle is closed so
        // that this run can create the log anew.
        if (runState.enabled) DiscardSetupReport();
        CloseLog();
        runState.enabled = false;
        runState.products.clear();
        runState.setupWaypoint = nullptr;
        runState.setupState = nullptr;
        runState.logEnabled = enableLog;
        OpenLogFile();
        WriteLog({TEV_TEXT("InitML")});

        CMLWaypoint* startup = CMLWaypoint::Create(TEV_TEXT("COMMON.STARTUP"));
        if (!startup) return false;
        CMLFacade::Initialize(startup, configPath.c_str(), TEV_TEXT(""), 0, 0u, 0LL, 0LL,
                              TEV_TEXT(""), nullptr, true);
        runState.enabled = CMLFacade::IsKV8Initialized();
        if (!runState.enabled) {
            WriteLog({TEV_TEXT("Fail to initialize KV8")});
            startup->Destroy();  // a library that did not come up took nothing
            CloseLog();
            return false;
        }
        CreateSetupWaypoint();
        return true;
    });
}

bool TEVUtil::ShutdownML() {
    return Contained(true, [] {
        if (!runState.enabled) return true;
        WriteLog({TEV_TEXT("ShutdownML")});
        CommitSetupWaypoint();
        CommitProducts();
        // The library takes the shut-down waypoint as created, null included.
        CMLFacade::Uninitialize(CMLWaypoint::Create(TEV_TEXT("COMMON.SHUTDOWN")), 0u);
        CloseLog();
        runState.enabled = false;
        return true;
    });
}

void TEVUtil::OnCrash() {
    Contained([] {
        if (!runState.enabled) return;
        WriteLog({TEV_TEXT("OnCrash")});
        CMLFacade::OnCrash(CMLWaypoint::Create(TEV_TEXT("COMMON.CRASH")), 0u, 0LL, 0LL);
        ShutdownML();
    });
}

const TEVChar* TEVUtil::GetKV8UserId() {
    return Contained<const TEVChar*>(TEV_TEXT(""), [] {
        // A library that is not up gets a run without a log first.
        if (!CMLFacade::IsKV8Initialized()) InitML(false);
        return CMLFacade::GetKV8UserId();
    });
}
