#!/usr/bin/env bash
# TEV.dll calling an analytics library built by Microsoft's toolchain: a KV8.dll made by clang in
# MSVC mode (msvc_kv8.cpp, objects with __thiscall virtuals in the library's slot order, cdecl
# statics under their decorated names) records every call it receives, while tev_setup_run.exe
# plays setup runs through the MinGW-built TEV.dll beside it. Checked here:
#  - the double exports the statics under the names Microsoft's compiler gives the library's
#    own declarations (msvc_kv8.exports.txt: public static __cdecl, __int64 where 64 bits), so a
#    KV8.h whose declarations drift from the library's shows here;
#  - TEV.dll, which binds the library itself, looks up exactly what the double exports;
#  - the driver printed its success line and exited 0 (Wine's status alone is not trusted);
#  - the record holds exactly msvc_kv8.calls.txt, the folder's path written <folder>.
# Usage: tests/abi/msvc_kv8.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source_dir=$1
build_dir=$2
folder=$(realpath "$build_dir/tests/abi/msvc_kv8")
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
windows_path() { local path; path=$(realpath -m "$1"); echo "Z:${path//\//\\}"; }

exported=$(llvm-readobj --coff-exports "$folder/KV8.dll" | sed -n 's/^ *Name: \(.\+\)$/\1/p' | sort)
looked_up=$(strings -a "$folder/TEV.dll" | grep -E '^[?][^@]+@CML[A-Za-z]+@@S' | sort -u)
diff -u "$source_dir/tests/abi/msvc_kv8.exports.txt" <(echo "$exported") ||
  fail "clang's names for KV8.h's statics are not the library's (msvc_kv8.exports.txt)"
diff -u <(echo "$exported") <(echo "$looked_up") || fail "TEV.dll looks up other names than the double exports"

source "$source_dir/scripts/wine-env.sh"
rm -f "$folder/record.txt" "$folder/stdout" "$folder/stderr"
status=0
KV8_RECORD=$(windows_path "$folder/record.txt") \
  wine "$folder/tev_setup_run.exe" </dev/null >"$folder/stdout" 2>"$folder/stderr" || status=$?
cat "$folder/stdout"
[ "$status" -eq 0 ] || { cat "$folder/stderr"; fail "the driver exited with status $status"; }
grep -qxF "msvc setup run: TEV.dll drove the Microsoft-ABI analytics library, every result as expected" \
  "$folder/stdout" || fail "the driver did not print its success line"

if [ -f "$folder/record.txt" ]; then
  record=$(<"$folder/record.txt")
  # The configuration path is the driver's folder, as the record quotes it (backslashes doubled).
  quoted_folder=$(windows_path "$folder")
  quoted_folder=${quoted_folder//\\/\\\\}
  record=${record//"$quoted_folder"/<folder>}
  diff -u "$source_dir/tests/abi/msvc_kv8.calls.txt" <(printf '%s\n' "$record") ||
    fail "the calls the library received differ from msvc_kv8.calls.txt"
  echo "record: $(wc -l <"$folder/record.txt") calls"
else
  fail "the library recorded nothing"
fi

if [ "$failures" -eq 0 ]; then echo "1 passed, 0 failed"; else echo "0 passed, 1 failed"; exit 1; fi
