// A log line under callgrind: writes COUNT typical lines (default 20,000) to the diagnostic log in
// TMPDIR and nothing else, so that run.sh can count the instructions executed inside Log::Write
// (valgrind --toggle-collect) and divide by COUNT.
#include <cstdlib>

#include "../src/run/run.h"
#include "KV8Control.h"
#include "TEVUtil.h"

using namespace tev;

int main(int argc, char** argv) {
    long count = argc > 1 ? std::atol(argv[1]) : 20000;
    kv8::SetRecording(false);
    if (!TEVUtil::InitML(true) || CurrentRun().TheLog().File() == platform::kNoFile) return 1;
    Log& log = CurrentRun().TheLog();
    for (long i = 0; i < count; ++i)
        log.Write(logformat::Token::SetupAttribute, {TEV_TEXT("a.setup"), TEV_TEXT("0")});
    TEVUtil::ShutdownML();
    return 0;
}
