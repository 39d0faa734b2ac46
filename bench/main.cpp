// The benchmark binary's entry: a private temporary directory and a silent stand-in for every
// suite; Google Benchmark's own reporters do the rest.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "KV8Control.h"
#include "support.h"

namespace {
std::string scratch;
}

const std::string& bench::ScratchDirectory() { return scratch; }

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

    // A directory of our own, so that the log of a real run in the user's TMP is never touched.
    const char* tmp = std::getenv("TMPDIR");
    scratch = std::string(tmp && *tmp ? tmp : "/tmp") + "/tev-bench.XXXXXX";
    if (!mkdtemp(scratch.data())) {
        std::perror("tev_bench: cannot create a scratch directory");
        return 1;
    }
    setenv("TMPDIR", scratch.c_str(), 1);
    // The heap keeps what it frees, so that a large run's memory is not handed back to the kernel
    // and faulted in afresh by the next: on this virtual machine fresh pages cost several times
    // more from one run to the next, which would swamp the figures of the largest runs.
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    mallopt(M_MMAP_THRESHOLD, 32 << 20);  // the largest glibc allows
    // Nothing but the measured work: no outbox file, no trace, no ownership ledger.
    unsetenv("KV8_OUTBOX");
    kv8::SetRecording(false);

    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ignored;
    std::filesystem::remove_all(scratch, ignored);
    return 0;
}
