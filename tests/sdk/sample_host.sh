#!/usr/bin/env bash
# The sample installer host of examples/host, built natively against the library: it runs, in a
# temporary directory of its own, and the stand-in's outbox holds exactly host.outbox.jsonl (what
# the Windows build of the same code must send too). The README's example is this code, verbatim.
# Usage: tests/sdk/sample_host.sh SOURCE_DIR HOST WORK_DIR
set -euo pipefail
source_dir=$1
host=$2
work=$3
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

rm -rf "$work"
mkdir -p "$work/temp"
status=0
TMPDIR="$work/temp" KV8_OUTBOX="$work/outbox.jsonl" KV8_USER_ID=tev-sdk-user-0001 "$host" >"$work/stdout" || status=$?
cat "$work/stdout"
[ "$status" -eq 0 ] || fail "the host exited with status $status"
diff -u "$source_dir/tests/sdk/host.outbox.jsonl" "$work/outbox.jsonl" || fail "the outbox differs from host.outbox.jsonl"
[ -s "$work/temp/Setup_TEV.log" ] || fail "no Setup_TEV.log in the run's temporary directory"

# Every C++ block of the README, each ending in a NUL; one of them is the sample.
found=0
sample=$(cat "$source_dir/examples/host/host.cpp")
while IFS= read -r -d '' block; do
  [ "${block%$'\n'}" = "$sample" ] && found=1
done < <(awk '/^```cpp$/{inside=1; next} /^```$/ && inside {inside=0; printf "%c", 0; next} inside' "$source_dir/README.md")
[ "$found" -eq 1 ] || fail "README.md does not show examples/host/host.cpp as it is"

if [ "$failures" -eq 0 ]; then echo "1 passed, 0 failed"; else echo "0 passed, 1 failed"; exit 1; fi
