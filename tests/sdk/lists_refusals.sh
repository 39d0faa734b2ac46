#!/usr/bin/env bash
# The entries' lists check (tests/sdk/entry_list.sh) refuses each file that ships written out when it
# strays from the list: one fault a row, planted in a copy of the sources, and the words the check
# must say. The unchanged copy must pass.
# Usage: tests/sdk/lists_refusals.sh SOURCE_DIR BUILD_DIR LIBTEV TOOL CXX
set -uo pipefail
source_dir=$1 build_dir=$2 libtev=$3 tool=$4 cxx=$5
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0 failed=0

# check WHAT FILE SED_EXPRESSION EXPECTED: the check, on a copy whose FILE is changed by
# SED_EXPRESSION (none: unchanged), fails saying EXPECTED (none: passes).
check() {
  local what=$1 file=$2 expression=$3 expected=$4 copy="$work/source" build="$work/build" output status=0
  rm -rf "$copy" "$build"
  mkdir -p "$copy/src" "$build/lists"
  cp -r "$source_dir/include" "$source_dir/nsis" "$source_dir/scripts" "$copy/"
  cp "$source_dir/src/TEV.def" "$copy/src/"
  ln -s "$build_dir/generated" "$build/generated"
  ln -s "$build_dir/include" "$build/include"
  if [ -n "$file" ]; then
    sed -i "$expression" "$copy/$file"
    cmp -s "$copy/$file" "$source_dir/$file" && { echo "FAIL: $what: the fault was not planted"; failed=$((failed + 1)); return; }
  fi
  output=$(bash "$source_dir/tests/sdk/entry_list.sh" "$copy" "$build" "$libtev" "$tool" "$cxx" 2>&1) || status=$?
  if [ -z "$expected" ] && [ "$status" -eq 0 ]; then
    passed=$((passed + 1))
  elif [ -n "$expected" ] && [ "$status" -ne 0 ] && grep -qF -- "$expected" <<<"$output"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    printf 'FAIL: %s: status %s, expected %s; the check said:\n%s\n' "$what" "$status" "${expected:-a pass}" "$output"
  fi
}

check "the sources as they are" "" "" ""
check "TEVLoader.h with two entries swapped" include/TEVLoader.h \
  '/X(DownloadPause,/{h;d};/X(DownloadResume,/{G}' "include/TEVLoader.h does not give the entries in the order"
check "TEVLoader.h naming an entry wrongly" include/TEVLoader.h \
  's/?DownloadEnd@TEVUtil@@SAXPB_W@Z/?DownloadEnd@TEVUtil@@SAXPA_W@Z/' \
  "include/TEVLoader.h names DownloadEnd ?DownloadEnd@TEVUtil@@SAXPA_W@Z"
check "TEV.nsh without an entry's macro" nsis/TEV.nsh 's/^!macro TEV_wpDownloadSP$/!macro TEV_wpDownloadMilestone/' \
  "nsis/TEV.nsh has no wpDownloadSP"
check "TEV.def without an entry" src/TEV.def '/_ZN7TEVUtil12wpDownloadSPEv$/d' "src/TEV.def is not what"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
