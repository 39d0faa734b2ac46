#!/usr/bin/env bash
# Runs the benchmark suites of a build and prints every figure against its floor, then counts the
# instructions of a log line under callgrind.
# Usage: bench/run.sh BUILD_DIR [benchmark flags...]   (e.g. bench/run.sh build/release)
#
# Timings on this machine are shared with other work, so each benchmark is repeated with the
# repetitions of all benchmarks shuffled together (--benchmark_enable_random_interleaving): a busy
# spell then falls on figures and floors alike, and the summary compares medians.
set -euo pipefail

build=${1:?usage: bench/run.sh BUILD_DIR [benchmark flags...]}
shift
bin="$build/bench"
for program in tev_bench tev_log_line_count; do
  if [ ! -x "$bin/$program" ]; then
    echo "bench/run.sh: $bin/$program is missing; build the release preset first" >&2
    exit 2
  fi
done

# What the stand-in would write to an outbox file is no part of any figure.
unset KV8_OUTBOX

echo "== Timed suites (Google Benchmark; CPU time; medians of interleaved repetitions) =="
"$bin/tev_bench" --benchmark_enable_random_interleaving=true --benchmark_repetitions=12 \
  --benchmark_min_time=0.05 "$@"

# ---- Instructions per log line, from callgrind (deterministic where timings are not).
#
# tev_log_line_count writes $lines typical lines; --toggle-collect counts only what runs inside
# WriteLog, callees included. Of that, the functions in the driver binary are ours (WriteLog,
# FormatLogLine, the platform wrappers); what lies in libc (lseek, time, gmtime_r and its
# time-zone work, write) and the dynamic linker is the system's part, which the floor also pays.
echo
echo "== Instructions per log line (callgrind) =="
if ! command -v valgrind >/dev/null || ! command -v callgrind_annotate >/dev/null; then
  if [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null; then
    echo "installing valgrind (Debian package, for callgrind)"
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends valgrind \
      >/dev/null || true
  fi
fi
if ! command -v valgrind >/dev/null || ! command -v callgrind_annotate >/dev/null; then
  echo "skipped: valgrind (Debian package valgrind) is not installed"
  exit 0
fi

lines=20000
scratch=$(mktemp -d "${TMPDIR:-/tmp}/tev-callgrind.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
TMPDIR="$scratch" valgrind --tool=callgrind --callgrind-out-file="$scratch/callgrind.out" \
  --toggle-collect='WriteLog*' "$bin/tev_log_line_count" "$lines" 2>"$scratch/valgrind.log" ||
  { cat "$scratch/valgrind.log" >&2; exit 1; }
callgrind_annotate --threshold=100 "$scratch/callgrind.out" >"$scratch/annotated.txt"

# Lines look like: "9,762,330 (48.25%)  ???:FormatLogLine(...) [/path/to/object]".
awk -v lines="$lines" -v ours="tev_log_line_count" '
  /PROGRAM TOTALS/ { gsub(",", "", $1); total = $1 }
  /\[.*\]$/ && $1 ~ /^[0-9,]+$/ {
    count = $1; gsub(",", "", count)
    object = $NF; gsub(/[\[\]]/, "", object)
    n = split(object, parts, "/")
    if (parts[n] == ours) { own += count } else system_part += count
  }
  END {
    if (total == "" || total == 0) { print "callgrind counted nothing inside WriteLog"; exit 1 }
    printf "  %-58s %10.0f\n", "inside WriteLog, everything", total / lines
    printf "  %-58s %10.0f\n", "  libc and loader (lseek, time, gmtime_r, write)",
           system_part / lines
    verdict = own / lines <= 1500 ? "met" : "MISSED"
    printf "  %-58s %10.0f  goal <= 1500  %s\n",
           "  ours (WriteLog, FormatLogLine, platform wrappers)", own / lines, verdict
    printf "  (per line, over %d lines of {\"SETUP\",\"a.setup\",\"0\"};", lines
    printf " callgrind_annotate self counts)\n"
  }' "$scratch/annotated.txt"
