#!/usr/bin/env bash
# Runs the benchmark suites of a build, each figure against its floor and its goal; counts the
# instructions of a log line under callgrind; then times the Windows log line under Wine.
# Usage: bench/run.sh BUILD_DIR [benchmark flags...]   (e.g. bench/run.sh build/release)
#        bench/run.sh BUILD_DIR --tool-log              (the tool's log reading alone)
set -euo pipefail

build=${1:?usage: bench/run.sh BUILD_DIR [benchmark flags...]}
shift
bin="$build/bench"
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
needed="tev_bench tev_log_line_count tev_log_floor"
[ "${1:-}" = --tool-log ] && needed=tev_log_floor
for program in $needed; do
  if [ ! -x "$bin/$program" ]; then
    echo "bench/run.sh: $bin/$program is missing; build the release preset first" >&2
    exit 2
  fi
done
unset KV8_OUTBOX  # what the stand-in would write to an outbox is no part of any figure

# Wine runs in a prefix of our own, never the one beside the win32 build: its server may be busy
# with someone's tests, and ending it would end them.
export WINEPREFIX=${TEV_BENCH_WINEPREFIX:-/tmp/benchwine}
wine_started=
scratch=$(mktemp -d "${TMPDIR:-/tmp}/tev-bench.XXXXXX")
cleanup() {
  if [ -n "$wine_started" ]; then
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
  fi
  rm -rf "$scratch"
}
trap cleanup EXIT

# Everything printed is also kept, so that a whole run (no benchmark flags) writes its figures
# into the README's Performance table at the end (bench/figures.py).
exec 3>&1
exec > >(tee "$scratch/all.txt") 2>&1
tee_process=$!
write_figures() {
  exec >&3 2>&3
  wait "$tee_process" 2>/dev/null || true
  if [ $# -eq 0 ]; then
    python3 "$root/bench/figures.py" "$scratch/all.txt" "$root/README.md"
  else
    echo "bench/run.sh: benchmark flags given, so README.md keeps the figures of the last whole run"
  fi
}

# --tool-log: the tool's log reading alone (tool_log.sh), its lines written into the README's
# table, the suites' rows left as the last whole run wrote them.
if [ "${1:-}" = --tool-log ]; then
  "$root/bench/tool_log.sh" "$build"
  exec >&3 2>&3
  wait "$tee_process" 2>/dev/null || true
  python3 "$root/bench/figures.py" --tool-log "$scratch/all.txt" "$root/README.md"
  exit 0
fi

# Only the median of the repetitions is shown; a shared machine's busy spell falls on figures and
# floors alike, as the repetitions of all benchmarks are shuffled together.
echo "== Timed suites (CPU time per operation: medians over rounds, then over repetitions) =="
"$bin/tev_bench" --benchmark_enable_random_interleaving=true --benchmark_repetitions=11 \
  --benchmark_min_time=0.05 --benchmark_report_aggregates_only=true "$@" | tee "$scratch/out.txt" |
  grep -Ev '_(mean|stddev|cv) '
awk '/_median / && /met=/ { if (/met=1 /) met++; else missed++ }
     END { printf "Goals: %d met, %d missed\n", met, missed }' "$scratch/out.txt"

# ---- Instructions per log line, from callgrind (deterministic where timings are not). Of what
# runs inside Log::Write, the functions in the driver binary are ours (Log::Write, the line's builders, the
# platform wrappers); libc's (lseek, time, gmtime_r, write) are the system's, which the floor pays.
echo
echo "== Instructions per log line (callgrind) =="
lines=20000
TMPDIR="$scratch" valgrind --tool=callgrind --callgrind-out-file="$scratch/callgrind.out" \
  --toggle-collect='tev::Log::Write*' "$bin/tev_log_line_count" "$lines" 2>"$scratch/valgrind.log" ||
  { cat "$scratch/valgrind.log" >&2; exit 1; }
# Lines look like: "9,762,330 (48.25%)  ???:FormatLogLine(...) [/path/to/object]".
callgrind_annotate --threshold=100 "$scratch/callgrind.out" | awk -v lines="$lines" '
  /\[.*\]$/ && $1 ~ /^[0-9,]+$/ {
    count = $1; gsub(",", "", count)
    if ($NF ~ /\/tev_log_line_count\]$/) own += count; else system_part += count
  }
  END {
    met = own > 0 && own / lines <= 1500
    printf "LogLine_Instructions  ours=%.0f libc=%.0f met=%d goal: ours <= 1500 per line\n",
           own / lines, system_part / lines, met
  }'

# ---- Decoding logs with the tool, against iconv on the same file.
echo
"$root/bench/tool_log.sh" "$build"

# ---- The Windows log line: the system's objects cross-built with MinGW-w64 (i686), under Wine,
# built in the win32 preset's tree when the cross compiler is there (make deps-windows).
echo
echo "== Windows log line (MinGW-w64 i686 build, under Wine) =="
program=tev_log_line_win32_bench
if command -v i686-w64-mingw32-g++-posix >/dev/null; then
  (cd "$root" && cmake --preset win32 && cmake --build --preset win32 --target $program -j "$(nproc)") \
    >"$scratch/win32-build.log" 2>&1 || { cat "$scratch/win32-build.log" >&2; exit 1; }
fi
exe="$root/build/win32/bin/$program.exe"
if [ ! -f "$exe" ] || ! command -v wine >/dev/null; then
  echo "skipped: no win32 build, or no Wine (make deps-windows)"
  write_figures "$@"
  exit 0
fi
if ! "$root/scripts/wine-server.sh" can-run 2>&1; then
  echo "skipped: Wine cannot run 32-bit programs on this machine"
  write_figures "$@"
  exit 0
fi
source "$root/scripts/wine-env.sh"
# Wine's services inherit the output of the program that starts them and would hold this script's
# output open long after it ends: so a persistent server comes first (ending one our prefix still
# has), and wineboot starts the services on it with their output going nowhere.
wine_started=1
[ -d "$WINEPREFIX" ] || wine wineboot </dev/null >/dev/null 2>&1  # first use: makes the prefix
wineserver -k 2>/dev/null || true
wineserver -w 2>/dev/null || true
wineserver -p </dev/null >/dev/null 2>&1
wine wineboot </dev/null >/dev/null 2>&1
# Wine's exit status cannot be trusted alone (a crash has been seen to exit 0): the program must
# also have printed its tally.
status=0
wine "$exe" </dev/null >"$scratch/win32.out" 2>&1 || status=$?
cat "$scratch/win32.out"
if [ $status -ne 0 ] || ! grep -q '^Goals: ' "$scratch/win32.out"; then
  echo "bench/run.sh: $program failed under Wine (status $status)" >&2
  exit 1
fi
write_figures "$@"
