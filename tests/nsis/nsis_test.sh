#!/usr/bin/env bash
# An NSIS installer that calls TEV through nsis/TEV.nsh, against the same calls made through the
# C++ header: makensis builds SCRIPT with TEV.dll and the stand-in KV8.dll inside it, the installer
# runs silently under Wine, and the tool plays SCENARIO, which holds the installer's calls as
# scenario lines. Both run with a temporary directory of their own. Checked here:
#  - makensis builds the installer, warnings counted as errors;
#  - the installer ran to its end (exit status 0), and its plug-ins directory (ns*.tmp in its
#    temporary directory) is gone, as it is without TEV: nothing held TEV.dll or KV8.dll there;
#  - its outbox is the tool's, byte for byte;
#  - its diagnostic log is the tool's, the time of each line masked;
#  - where the installer records each entry's result (TEV_NSIS_RESULTS), the results are those the
#    tool's trace gives, entry for entry.
# With --without-tev, the installer is built without TEV.dll (SCRIPT leaves it out when TEV_DLL is
# not defined): it must run to its end with no outbox, no log, every result 0 and the empty user
# identifier.
# Usage: tests/nsis/nsis_test.sh SOURCE_DIR BUILD_DIR SCRIPT SCENARIO [--without-tev]
set -euo pipefail
source_dir=$1
build_dir=$2
script=$3
scenario=$4
without_tev=${5:-}
name=$(basename "$script" .nsi)${without_tev:+-without-tev}
work="$build_dir/tests/nsis/$name"
libraries=("-DTEV_DLL=$build_dir/bin/TEV.dll" "-DKV8_DLL=$build_dir/bin/KV8.dll")
[ -z "$without_tev" ] || libraries=()
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
windows_path() { local path; path=$(realpath -m "$1"); echo "Z:${path//\//\\}"; }

rm -rf "$work"
mkdir -p "$work/installer/temp" "$work/tool/temp" "$work/tool/log"
# A script that calls every entry once through the build's every_entry_once.nsh: the tool plays the
# same calls first.
if grep -q '"every_entry_once.nsh"' "$script"; then
  cat "$build_dir/generated/every_entry_once.tev" "$scenario" >"$work/scenario.tev"
  scenario=$work/scenario.tev
fi

# Scripts are UTF-8; the output file is chosen after the script, which names its own.
makensis -V2 -WX -INPUTCHARSET UTF8 "-X!addincludedir $source_dir/nsis" "-X!addincludedir $build_dir/generated" \
  ${libraries[@]+"${libraries[@]}"} \
  "$script" "-XOutFile $work/installer/$name.exe" ||
  { echo "FAIL: makensis did not build $script"; echo "0 passed, 1 failed"; exit 1; }

source "$source_dir/scripts/wine-env.sh"
export KV8_USER_ID=tev-nsis-user-0001
# run_in DIR COMMAND...: the command under Wine with DIR/temp as its temporary directory, which
# Wine otherwise takes from its registry; start /wait waits for a windowed program and gives its
# exit status.
run_in() {
  local temp
  temp=$(windows_path "$1/temp")
  shift
  KV8_OUTBOX=$(windows_path "$work/${dir_name:-x}.outbox") \
    wine cmd /c "set TMP=$temp&& set TEMP=$temp&& $*" </dev/null
}

status=0
dir_name=installer TEV_NSIS_RESULTS=$(windows_path "$work/installer/results.txt") \
  run_in "$work/installer" start /wait "$(windows_path "$work/installer/$name.exe")" /S \
  >"$work/installer/stdout" 2>&1 || status=$?
[ "$status" -eq 0 ] || { cat "$work/installer/stdout"; fail "the installer exited with status $status"; }
for left in "$work/installer/temp"/ns*.tmp; do
  [ ! -e "$left" ] || fail "the installer left its plug-ins directory: $(du -sb "$left" | cut -f1) bytes in $(ls "$left" | tr '\n' ' ')"
done

status=0
# The tool plays beside its temporary directory (a play never writes where a real setup does) and
# appends to the outbox it is given (never to one it inherits).
dir_name=tool run_in "$work/tool" "$(windows_path "$build_dir/bin/tev.exe")" run --trace \
  --log-dir "$(windows_path "$work/tool/log")" --outbox "$(windows_path "$work/tool.outbox")" \
  "$(windows_path "$scenario")" >"$work/tool/trace" 2>"$work/tool/stderr" || status=$?
[ "$status" -eq 0 ] || { cat "$work/tool/stderr"; fail "the tool exited with status $status"; }

# What the analytics library was handed.
[ -s "$work/tool.outbox" ] || fail "the tool wrote no outbox"
if [ -n "$without_tev" ]; then
  [ ! -e "$work/installer.outbox" ] || fail "an outbox was written without TEV.dll"
else
  cmp "$work/tool.outbox" "$work/installer.outbox" ||
    { diff -u "$work/tool.outbox" "$work/installer.outbox" || true; fail "the installer's outbox differs from the tool's"; }
fi

# The logs, decoded, each line's time masked (a line without one stays as it is, and differs).
masked_log() {
  [ -f "$1/Setup_TEV.log" ] || { echo "(no log)"; return; }
  iconv -f UTF-16LE -t UTF-8 "$1/Setup_TEV.log" | sed 's|^[0-9]*/[0-9]*/[0-9]*; [0-9]*:[0-9]*:[0-9]*; |<time>; |'
}
if [ -n "$without_tev" ]; then
  [ "$(masked_log "$work/installer/temp")" = "(no log)" ] || fail "a log was written without TEV.dll"
else
  diff -u <(masked_log "$work/tool/log") <(masked_log "$work/installer/temp") || fail "the installer's log differs from the tool's"
fi

# What each entry gave back, where the installer recorded it ("Entry result" lines); without TEV.dll
# every bool is 0 and the identifier empty.
expected_results() {
  sed -n 's/^{"entry":"\([A-Za-z0-9]*\)","result":\(.*\)}$/\1 \2/p' "$work/tool/trace" | sed 's/ true$/ 1/; s/ false$/ 0/' |
    if [ -n "$without_tev" ]; then sed 's/ 1$/ 0/; s/^GetKV8UserId .*/GetKV8UserId ""/'; else cat; fi
}
if [ -f "$work/installer/results.txt" ]; then
  diff -u <(expected_results) <(tr -d '\r' <"$work/installer/results.txt") || fail "the entries' results differ from the tool's"
  echo "results: $(wc -l <"$work/installer/results.txt") entries"
elif grep -q TEV_NSIS_RESULTS "$script"; then
  fail "the installer recorded no results"
fi

echo "outbox: $(wc -l <"$work/installer.outbox" 2>/dev/null || echo 0) waypoints; log: $(masked_log "$work/installer/temp" | wc -l) lines"
if [ "$failures" -eq 0 ]; then echo "1 passed, 0 failed"; else echo "0 passed, 1 failed"; exit 1; fi
