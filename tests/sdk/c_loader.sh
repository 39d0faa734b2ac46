#!/usr/bin/env bash
# TEV.dll loaded at run time by a C host, from the unpacked SDK alone: c_loader.c, compiled as C by
# MinGW against include/TEVLoader.h, runs in a fresh Wine prefix. Checked here:
#  - the decorated names of TEVLoader.h and of lib/TEV.entries.txt are exactly those that
#    bin/TEV.dll exports under Microsoft's names, one for each entry of cmake/tev_entries.txt;
#  - beside TEV.dll and the stand-in, every entry is called: the outbox is the tool's for
#    c_loader.tev, byte for byte, and each entry's result is the one the tool's trace gives;
#  - without KV8.dll, every call returns, refused (every bool 0 but ShutdownML's, which ends the run
#    all the same; the empty identifier), and nothing is sent;
#  - a missing TEV.dll, and a DLL that is not TEV, are named as what is missing.
# Usage: tests/sdk/c_loader.sh SOURCE_DIR WORK_DIR BUILD_DIR (WORK_DIR/sdk: the SDK, from archive.sh)
set -euo pipefail
source_dir=$1
sdk="$2/sdk"
work="$2/c_loader"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
source "$source_dir/scripts/entry-lists.sh"
entries=$(tev_entry_count "$3/generated")

rm -rf "$work"
mkdir -p "$work"
source "$(dirname "${BASH_SOURCE[0]}")/../shared/pe.sh"
exported=$(pe_exports "$sdk/bin/TEV.dll" | sed -n 's/^[0-9a-f]* \(?.*\)$/\1/p' | LC_ALL=C sort)
[ "$(wc -l <<<"$exported")" -eq "$entries" ] || fail "TEV.dll exports $(wc -l <<<"$exported") decorated names, not $entries"
diff -u <(echo "$exported") <(grep -o '"?[^"]*"' "$sdk/include/TEVLoader.h" | tr -d '"' | LC_ALL=C sort) ||
  fail "TEVLoader.h's names are not those TEV.dll exports"
diff -u <(echo "$exported") <(LC_ALL=C sort "$sdk/lib/TEV.entries.txt") ||
  fail "lib/TEV.entries.txt is not the list of TEV.dll's decorated names"

i686-w64-mingw32-gcc -x c -std=c99 -municode -Wall -Wextra -Wpedantic -Werror -I"$sdk/include" -I"$3/generated" \
  "$source_dir/tests/sdk/c_loader.c" -o "$work/c_loader.exe"
mkdir -p "$work/with" "$work/without"
cp "$sdk/bin/TEV.dll" "$sdk/standin/KV8.dll" "$work/c_loader.exe" "$work/with/"
cp "$sdk/bin/TEV.dll" "$work/c_loader.exe" "$work/without/"

source "$source_dir/tests/sdk/wine_prefix.sh"
export KV8_USER_ID=tev-sdk-user-0001
# run FOLDER [ARGUMENT]: the host of FOLDER, its outbox FOLDER/outbox.jsonl, its output FOLDER/stdout.
run() {
  KV8_OUTBOX=$(windows_path "$1/outbox.jsonl") wine_in "$1" "$(windows_path "$1/c_loader.exe")" ${2:+"$2"} \
    >"$1/stdout" 2>"$1/stderr"
}
status=0
run "$work/with" || status=$?
[ "$status" -eq 0 ] || { cat "$work/with/stdout" "$work/with/stderr"; fail "the host beside KV8.dll exited with status $status"; }
mkdir -p "$work/tool/log"
cp "$3/generated/every_entry_once.tev" "$work/c_loader.tev"  # the host's calls, for the tool
wine_in "$work/tool" "$(windows_path "$sdk/bin/tev.exe")" run --trace \
  --log-dir "$(windows_path "$work/tool/log")" --outbox "$(windows_path "$work/tool.outbox.jsonl")" \
  "$(windows_path "$work/c_loader.tev")" \
  >"$work/tool.trace" 2>"$work/tool.stderr" || { cat "$work/tool.stderr"; fail "the tool did not play c_loader.tev"; }
[ -s "$work/tool.outbox.jsonl" ] || fail "the tool sent nothing"
cmp "$work/tool.outbox.jsonl" "$work/with/outbox.jsonl" || fail "the C host's outbox differs from the tool's"
expected_results() {
  sed -n 's/^{"entry":"\([A-Za-z0-9]*\)","result":\(.*\)}$/\1 \2/p' "$work/tool.trace" | sed 's/ true$/ 1/; s/ false$/ 0/'
}
diff -u <(expected_results) <(tr -d '\r' <"$work/with/stdout") || fail "the C host's results differ from the tool's"

status=0
run "$work/without" || status=$?
[ "$status" -eq 0 ] || fail "the host without KV8.dll exited with status $status"
diff -u <(expected_results | sed '/^ShutdownML /!s/ 1$/ 0/; s/^GetKV8UserId .*/GetKV8UserId ""/') <(tr -d '\r' <"$work/without/stdout") ||
  fail "without KV8.dll, an entry did not refuse"
[ ! -e "$work/without/outbox.jsonl" ] || fail "an outbox was written without KV8.dll"

status=0
run "$work/without" "$(windows_path "$work/none/TEV.dll")" || status=$?
[ "$status" -eq 3 ] && [ "$(tr -d '\r' <"$work/without/stdout")" = "missing: TEV.dll" ] ||
  fail "a missing TEV.dll gave status $status and '$(cat "$work/without/stdout")'"
status=0
run "$work/without" "$(windows_path "$sdk/standin/KV8.dll")" || status=$?
[ "$status" -eq 3 ] && [ "$(tr -d '\r' <"$work/without/stdout")" = "missing: ?InitML@TEVUtil@@SA_N_N@Z" ] ||
  fail "a DLL that is not TEV gave status $status and '$(cat "$work/without/stdout")'"

if [ "$failures" -eq 0 ]; then echo "1 passed, 0 failed"; else echo "0 passed, 1 failed"; exit 1; fi
