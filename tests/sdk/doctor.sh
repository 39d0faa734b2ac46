#!/usr/bin/env bash
# tev doctor from the unpacked SDK, in a fresh Wine prefix, as a team checks its folder: bin/ as it
# is (no KV8.dll: named missing), then with standin/KV8.dll copied in (flagged, must not ship).
# Usage: tests/sdk/doctor.sh SOURCE_DIR WORK_DIR BUILD_DIR (WORK_DIR/sdk: the SDK, from archive.sh)
set -euo pipefail
source_dir=$1
sdk="$2/sdk"
work="$2/doctor"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
source "$source_dir/scripts/entry-lists.sh"
statics=$(kv8_statics "$3/generated" | wc -l)

rm -rf "$work"
mkdir -p "$work"
cp -r "$sdk/bin" "$work/bin"
source "$source_dir/tests/sdk/wine_prefix.sh"
# doctor: tev doctor run from bin/ without a folder (its own); its output in $work/out, its status echoed.
doctor() {
  local status=0
  wine_in "$work" "$(windows_path "$work/bin/tev.exe")" doctor >"$work/out" 2>"$work/err" || status=$?
  tr -d '\r' <"$work/out" >"$work/out.txt"
  echo "$status"
}

status=$(doctor)
[ "$status" -eq 1 ] || fail "without KV8.dll the doctor exited with status $status"
grep -q '^ok       TEV.dll: .*, version 1\.0\.0\.0, 32-bit x86$' "$work/out.txt" || fail "TEV.dll not found with its version and width"
grep -q "^PROBLEM  KV8.dll is in none of these folders: .*put the maker's KV8.dll beside TEV.dll$" "$work/out.txt" ||
  fail "a missing KV8.dll was not named"
cp "$sdk/standin/KV8.dll" "$work/bin/"
status=$(doctor)
[ "$status" -eq 1 ] || fail "beside the stand-in the doctor exited with status $status"
[ "$(grep -c '^ok       exports ' "$work/out.txt")" -eq "$statics" ] ||
  fail "the stand-in's $statics statics (cmake/kv8_statics.txt) were not each found"
[ "$(grep -c '^PROBLEM ' "$work/out.txt")" -eq 1 ] && grep -q '^PROBLEM  KV8.dll is the stand-in .*must not ship' "$work/out.txt" ||
  fail "the stand-in was not flagged alone"
[ "$failures" -eq 0 ] || cat "$work/out.txt" "$work/err"

if [ "$failures" -eq 0 ]; then echo "1 passed, 0 failed"; else echo "0 passed, 1 failed"; exit 1; fi
