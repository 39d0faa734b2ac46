#!/usr/bin/env bash
# A MinGW installer project on the unpacked SDK: the sample host's own CMake project finds TEV::TEV
# with find_package(TEV CONFIG REQUIRED), builds, and runs under Wine beside TEV.dll and the
# stand-in, in a temporary directory of its own. Checked here: the host links TEV.dll (nothing of
# TEV compiled in), prints the header's version, exits 0, the stand-in's outbox holds exactly
# host.outbox.jsonl, and the diagnostic log is where the run's TEMP says.
# Usage: tests/sdk/find_package.sh SOURCE_DIR WORK_DIR (WORK_DIR/sdk: the SDK, from archive.sh)
set -euo pipefail
source_dir=$1
work=$2
sdk="$work/sdk"
build="$work/find_package"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
windows_path() { local path; path=$(realpath -m "$1"); echo "Z:${path//\//\\}"; }

rm -rf "$build"
# A cross build re-roots the package search in MinGW's root, so the SDK is named by TEV_DIR.
cmake -S "$sdk/examples/host" -B "$build" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/i686-w64-mingw32.cmake" -DTEV_DIR="$sdk/lib/cmake/TEV" >"$build.log" 2>&1 &&
  cmake --build "$build" >>"$build.log" 2>&1 || { cat "$build.log"; fail "the sample host did not configure and build"; exit 1; }

host="$build/setup_host.exe"
imports=$(llvm-readobj --coff-imports "$host" | awk '/^ *Name: /{dll=$2} dll=="TEV.dll" && /^ *Symbol: /{n++} END{print n+0}')
[ "$imports" -gt 0 ] || fail "the host imports nothing from TEV.dll"
cp "$sdk/standin/KV8.dll" "$build/"
cmp -s "$sdk/bin/TEV.dll" "$build/TEV.dll" || fail "the build did not put the SDK's TEV.dll beside the host"

# Wine takes TMP and TEMP from its registry, not from the Unix environment: cmd sets them for the run.
mkdir -p "$build/temp"
temp=$(windows_path "$build/temp")
source "$source_dir/scripts/wine-env.sh"
status=0
KV8_OUTBOX=$(windows_path "$build/outbox.jsonl") KV8_USER_ID=tev-sdk-user-0001 \
  wine cmd /c "set TMP=$temp&& set TEMP=$temp&& $(windows_path "$host")" </dev/null >"$build/stdout" 2>"$build/stderr" || status=$?
cat "$build/stdout"
[ "$status" -eq 0 ] || { cat "$build/stderr"; fail "the host exited with status $status"; }
version=$(sed -n 's/^#define TEV_VERSION_STRING "\(.*\)"$/\1/p' "$sdk/include/TEVVersion.h")
tr -d '\r' <"$build/stdout" | grep -qxF "reporting through TEV $version" || fail "the host did not print TEV $version"
if [ -f "$build/outbox.jsonl" ]; then
  diff -u "$source_dir/tests/sdk/host.outbox.jsonl" "$build/outbox.jsonl" || fail "the outbox differs from host.outbox.jsonl"
else
  fail "no outbox was written"
fi
[ -s "$build/temp/Setup_TEV.log" ] || fail "no Setup_TEV.log in the run's temporary directory"

if [ "$failures" -eq 0 ]; then echo "1 passed, 0 failed"; else echo "0 passed, 1 failed"; exit 1; fi
