#!/usr/bin/env bash
# Runs the benchmark suites of a build and prints every figure against its floor, counts the
# instructions of a log line under callgrind, then times the Windows log line under Wine.
# Usage: bench/run.sh BUILD_DIR [benchmark flags...]   (e.g. bench/run.sh build/release)
#
# Timings on this machine are shared with other work, so each benchmark is repeated with the
# repetitions of all benchmarks shuffled together (--benchmark_enable_random_interleaving): a busy
# spell then falls on figures and floors alike, and the summary compares medians.
set -euo pipefail

build=${1:?usage: bench/run.sh BUILD_DIR [benchmark flags...]}
shift
bin="$build/bench"
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
for program in tev_bench tev_log_line_count; do
  if [ ! -x "$bin/$program" ]; then
    echo "bench/run.sh: $bin/$program is missing; build the release preset first" >&2
    exit 2
  fi
done

# What the stand-in would write to an outbox file is no part of any figure.
unset KV8_OUTBOX

# Wine runs in a prefix of our own, never the one beside the win32 build: its server may be busy
# with someone's tests, and ending it would end them.
bench_prefix=${TEV_BENCH_WINEPREFIX:-/tmp/benchwine}
wine_started=
scratch=$(mktemp -d "${TMPDIR:-/tmp}/tev-bench.XXXXXX")
cleanup() {
  if [ -n "$wine_started" ]; then
    WINEPREFIX="$bench_prefix" wineserver -k 2>/dev/null || true
    WINEPREFIX="$bench_prefix" wineserver -w 2>/dev/null || true
  fi
  rm -rf "$scratch"
}
trap cleanup EXIT

echo "== Timed suites (Google Benchmark; CPU time; medians of interleaved repetitions) =="
"$bin/tev_bench" --benchmark_enable_random_interleaving=true --benchmark_repetitions=12 \
  --benchmark_min_time=0.05 "$@"

# ---- Instructions per log line, from callgrind (deterministic where timings are not).
#
# tev_log_line_count writes $lines typical lines; --toggle-collect counts only what runs inside
# WriteLog, callees included. Of that, the functions in the driver binary are ours (WriteLog,
# FormatLogLine, the platform wrappers); what lies in libc (lseek, time, gmtime_r and its
# time-zone work, write) and the dynamic linker is the system's part, which the floor also pays.
count_instructions() {
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
    return 0
  fi

  local lines=20000
  TMPDIR="$scratch" valgrind --tool=callgrind --callgrind-out-file="$scratch/callgrind.out" \
    --toggle-collect='tev::WriteLog*' "$bin/tev_log_line_count" "$lines" 2>"$scratch/valgrind.log" ||
    { cat "$scratch/valgrind.log" >&2; return 1; }
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
}

# ---- The Windows log line: the system's objects cross-built with MinGW-w64 (i686), under Wine.
#
# The program is built in the win32 preset's tree when the cross compiler is installed (make
# deps-windows installs it, with Wine), or taken as built there; without either, it is skipped.
windows_log_line() {
  echo
  echo "== Windows log line (MinGW-w64 i686 build, under Wine) =="
  local program=tev_log_line_win32_bench
  local exe="$root/build/win32/bin/$program.exe"
  if command -v i686-w64-mingw32-g++-posix >/dev/null; then
    # A tree configured before the preset built the benchmarks (or none) is configured first;
    # otherwise building the one target reconfigures what needs it.
    if ! grep -q '^TEV_BENCHMARKS:BOOL=ON$' "$root/build/win32/CMakeCache.txt" 2>/dev/null; then
      (cd "$root" && cmake --preset win32) >"$scratch/win32-configure.log" 2>&1 ||
        { cat "$scratch/win32-configure.log" >&2; return 1; }
    fi
    (cd "$root" && cmake --build --preset win32 --target "$program" -j "$(nproc)") \
      >"$scratch/win32-build.log" 2>&1 || { cat "$scratch/win32-build.log" >&2; return 1; }
  fi
  if [ ! -f "$exe" ]; then
    echo "skipped: no win32 build and no MinGW-w64 cross compiler (make deps-windows)"
    return 0
  fi
  if ! command -v wine >/dev/null || ! command -v wineserver >/dev/null; then
    echo "skipped: Wine is not installed (make deps-windows)"
    return 0
  fi

  export WINEPREFIX="$bench_prefix"
  source "$root/scripts/wine-env.sh"
  # Wine's services inherit the output of the program that starts them, and would hold this
  # script's output open long after it ends. So a persistent server comes first, and wineboot
  # starts the services on it with their output going nowhere; they then outlive every program
  # run below. A server our prefix still has (an interrupted run, or the one wineboot leaves
  # winding down) is ended first, since a second one would not start.
  wine_started=1
  mkdir -p "$(dirname "$WINEPREFIX")"
  [ -d "$WINEPREFIX" ] || wine wineboot </dev/null >/dev/null 2>&1  # first use: makes the prefix
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  wineserver -p </dev/null >/dev/null 2>&1
  wine wineboot </dev/null >/dev/null 2>&1

  # Wine's exit status cannot be trusted alone (a crash has been seen to exit 0): the program must
  # also have printed its tally.
  local status=0
  wine "$exe" </dev/null >"$scratch/win32.out" 2>&1 || status=$?
  cat "$scratch/win32.out"
  if [ $status -ne 0 ] || ! grep -q '^Goals: ' "$scratch/win32.out"; then
    echo "bench/run.sh: $program failed under Wine (status $status)" >&2
    return 1
  fi
}

count_instructions
windows_log_line

echo
"$root/bench/tool_log.sh" "$build"
