#!/usr/bin/env bash
# Runs each libFuzzer target of a fuzz build for a bounded time, starting from seed corpora (copied,
# so the committed seeds stay as they are): for the scenario parser the suites' scenarios and the
# tool's default one, for the log decoder and the summary and page the logs under tests/fuzz/corpus/log.
# Usage: scripts/fuzz.sh BUILD_DIR SECONDS
set -euo pipefail
build=$1
seconds=$2
for target in scenario log summary; do
  work="$build/fuzz-work/$target"
  mkdir -p "$work/corpus" "$work/tmp"
  if [ "$target" = scenario ]; then
    cp -n tests/tool/scenarios/*.tev tools/player/default.tev "$work/corpus/"
  else
    cp -n tests/fuzz/corpus/log/* "$work/corpus/"
  fi
  echo "fuzzing $target for ${seconds}s"
  if ! TMPDIR="$work/tmp" "$build/tests/fuzz/${target}_fuzzer" "$work/corpus" -max_total_time="$seconds" \
      -artifact_prefix="$work/" -print_final_stats=1 >"$work/output.txt" 2>&1; then
    tail -n 40 "$work/output.txt"
    echo "fuzz: ${target}_fuzzer found a fault; the input is in $work/" >&2
    exit 1
  fi
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$work/output.txt" | grep -o '[0-9]*$')
  echo "fuzz: ${target}_fuzzer: $runs executions in ${seconds}s, no fault"
done
