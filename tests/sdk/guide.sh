#!/usr/bin/env bash
# The SDK's guide (its README.md) followed as printed: every command it tells a reader to type runs
# from a copy of the unpacked archive, in a fresh Wine prefix, and where it shows output the output
# is compared (tests/docs/doctest.py). The reader's machine has what the guide assumes: installer
# folders C:\Setup\payload, C:\Setup\plugins (with the installer in C:\Setup) and C:\Setup\nsis
# (where an NSIS script takes its files from), each with TEV.dll and a KV8.dll that passes for the
# maker's; its home, where the guide keeps logs (~/logs), is a fresh folder of the test's. Then the
# program the guide's by-hand MinGW line built (in by-hand/, beside TEV.dll and the stand-in) runs
# beside those two alone, and reports exactly what the sample host reports.
# Usage: tests/sdk/guide.sh SOURCE_DIR WORK_DIR MAKERS_KV8_DLL (WORK_DIR/sdk: the SDK, from archive.sh)
set -euo pipefail
source_dir=$1
work="$2/guide"
makers_kv8=$3
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

rm -rf "$work"
mkdir -p "$work"
cp -r "$2/sdk" "$work/sdk"
sdk="$work/sdk"
source "$source_dir/tests/sdk/wine_prefix.sh"
for folder in payload plugins nsis; do
  mkdir -p "$WINEPREFIX/drive_c/Setup/$folder"
  cp "$sdk/bin/TEV.dll" "$makers_kv8" "$WINEPREFIX/drive_c/Setup/$folder/"
done

python3 "$source_dir/tests/docs/doctest.py" "$sdk/README.md" --title "the archive's README.md (cmake/sdk/README.md.in)" \
  --folder "$sdk" --define "<this folder>=$sdk" --define "<your project>=$sdk/examples/host" \
  --env "HOME=$work/home" --fresh "$work/home" ||
  fail "the guide's commands do not all run as printed"

# The by-hand line's program, with nothing of MinGW beside it.
by_hand="$work/by_hand"
mkdir -p "$by_hand"
if [ -f "$sdk/by-hand/setup_host.exe" ]; then
  for beside in TEV.dll KV8.dll; do
    [ -f "$sdk/by-hand/$beside" ] || fail "the guide's by-hand build left no $beside beside its program"
  done
  cp "$sdk/by-hand/setup_host.exe" "$sdk/bin/TEV.dll" "$sdk/standin/KV8.dll" "$by_hand/"
  status=0
  KV8_OUTBOX=$(windows_path "$by_hand/outbox.jsonl") KV8_USER_ID=tev-sdk-user-0001 \
    wine_in "$by_hand" "$(windows_path "$by_hand/setup_host.exe")" >"$by_hand/stdout" 2>&1 || status=$?
  [ "$status" -eq 0 ] || { cat "$by_hand/stdout"; fail "the by-hand program exited with status $status"; }
  diff -u "$source_dir/tests/sdk/host.outbox.jsonl" "$by_hand/outbox.jsonl" ||
    fail "the by-hand program did not report what the sample host reports"
else
  fail "the guide's by-hand MinGW line made no by-hand/setup_host.exe"
fi

if [ "$failures" -eq 0 ]; then echo "1 passed, 0 failed"; else echo "0 passed, 1 failed"; exit 1; fi
