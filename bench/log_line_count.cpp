// A log line under callgrind: writes COUNT typical lines (default 20,000) to the diagnostic log in
// TMPDIR and nothing else, so that run.sh can count the instructions executed inside WriteLog
// (valgrind --toggle-collect) and divide by COUNT.
#include <cstdlib>

#include "../src/run/log.h"
#include "../src/run/run_state.h"
#include "KV8Control.h"
#include "TEVUtil.h"

using namespace tev;

int main(int argc, char** argv) {
    long count = argc > 1 ? std::atol(argv[1]) : 20000;
    kv8::SetRecording(false);
    if (!TEVUtil::InitML(true) || runState.logFile == platform::kNoFile) return 1;
    for (long i = 0; i < count; ++i)
        WriteLog({TEV_TEXT("SETUP"), TEV_TEXT("a.setup"), TEV_TEXT("0")});
    TEVUtil::ShutdownML();
    return 0;
}
