// The run's life: start, end, crash, and the run the process holds.
#include "run.h"

#include "../kv8_client/kv8_binding.h"
#include "../vocabulary/report_names.h"

namespace tev {

using logformat::Token;

namespace {

Run theRun;

// The analytics library's configuration file, beside the host executable (not this library).
WideString ConfigurationPath() {
    WideString path = platform::operations.executableDirectory();
    path += TEV_TEXT("ORB");
    path += platform::kPathSeparator;
    path += TEV_TEXT("orbconfig.xml");
    return path;
}

}  // namespace

Run& CurrentRun() { return theRun; }

void Run::Close() {
    log_.Close();
    ClearReport();
}

void Run::ClearReport() {
    report_.Clear();
    reporting_ = false;
}

void Run::DestroyUnsent() {
    if (reporting_) report_.DestroyUnsent();
    ClearReport();
}

bool Run::Start(bool enableLog) {
    WideString configPath = ConfigurationPath();
    if (enableLog) log_.Open();
    log_.Write(Token::InitML);
    // A library that cannot be called refuses everything below; the log says why.
    if (const kv8_client::Unavailable* why =
            kv8_client::libraryUnavailable ? kv8_client::libraryUnavailable() : nullptr)
        log_.Write(Token::LibraryUnavailable, {why->file.c_str(), why->cause.c_str()});

    CMLWaypoint* startup = CMLWaypoint::Create(names::kStartupWaypoint);
    if (!startup) return false;
    CMLFacade::Initialize(startup, configPath.c_str(), TEV_TEXT(""), 0, 0u, 0LL, 0LL, TEV_TEXT(""),
                          nullptr, true);
    reporting_ = CMLFacade::IsKV8Initialized();
    if (!reporting_) {
        log_.Write(Token::FailToInitialize);
        startup->Destroy();  // a library that did not come up took nothing
        return false;
    }
    report_.Create();
    return true;
}

bool Run::Restart(bool enableLog) {
    bool started = false;
    try {
        // An earlier run still active loses what it never sent. First, so that a start that fails,
        // for lack of memory too, leaves reporting off. Its log, lines and all, goes on with this
        // run's lines when this run logs too, and is closed, its lines kept, when not.
        DestroyUnsent();
        if (!enableLog) log_.Close();
        started = Start(enableLog);
    } catch (...) {
    }
    if (!started) Close();
    return started;
}

void Run::End() {
    log_.Write(Token::ShutdownML);
    report_.Commit();
    // The library takes the shut-down waypoint as created, null included.
    CMLFacade::Uninitialize(CMLWaypoint::Create(names::kShutdownWaypoint), 0u);
    Close();
}

const TEVChar* Run::UserId() {
    if (!CMLFacade::IsKV8Initialized()) Restart(false);
    return CMLFacade::GetKV8UserId();
}

void Run::Crash() {
    log_.Write(Token::OnCrash);
    CMLFacade::OnCrash(CMLWaypoint::Create(names::kCrashWaypoint), 0u, 0LL, 0LL);
    End();
}

}  // namespace tev
