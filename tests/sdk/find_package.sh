#!/usr/bin/env bash
# A new user's first day with the unpacked SDK and MinGW: the sample host's own CMake project,
# configured with the SDK's toolchain file and CMAKE_PREFIX_PATH alone, builds, and its build folder
# runs as it is in a fresh Wine prefix (nothing but Wine), in a temporary directory of its own.
# Checked here: the build folder holds TEV.dll and the stand-in, put there by the project; the host
# links TEV.dll (nothing of TEV compiled in) and imports nothing else that a bare Windows lacks
# (MinGW's runtime is linked in); it prints the header's version, exits 0, the stand-in's outbox
# holds exactly host.outbox.jsonl, and the diagnostic log is where the run's TEMP says.
# Usage: tests/sdk/find_package.sh SOURCE_DIR WORK_DIR (WORK_DIR/sdk: the SDK, from archive.sh)
set -euo pipefail
source_dir=$1
sdk="$2/sdk"
work="$2/find_package"
build="$work/build"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

rm -rf "$work"
mkdir -p "$work"
source "$source_dir/tests/sdk/wine_prefix.sh"

started=$(date +%s%N)
cmake -S "$sdk/examples/host" -B "$build" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$sdk/cmake/i686-w64-mingw32.cmake" -DCMAKE_PREFIX_PATH="$sdk" >"$work/build.log" 2>&1 &&
  cmake --build "$build" >>"$work/build.log" 2>&1 || { cat "$work/build.log"; fail "the sample host did not configure and build"; exit 1; }

host="$build/setup_host.exe"
cmp -s "$sdk/bin/TEV.dll" "$build/TEV.dll" || fail "the build did not put the SDK's TEV.dll beside the host"
cmp -s "$sdk/standin/KV8.dll" "$build/KV8.dll" || fail "the build did not put the stand-in beside the host"
imports=$(llvm-readobj --coff-imports "$host" | awk '/^ *Name: /{dll=$2} dll=="TEV.dll" && /^ *Symbol: /{n++} END{print n+0}')
[ "$imports" -gt 0 ] || fail "the host imports nothing from TEV.dll"
system32="$WINEPREFIX/drive_c/windows/system32"
for dll in $(llvm-readobj --coff-imports "$host" | sed -n 's/^ *Name: //p' | sort -u); do
  [ "$dll" = TEV.dll ] || [ -n "$(find "$system32" -maxdepth 1 -iname "$dll")" ] ||
    fail "the host imports $dll, which a bare Windows lacks"
done

status=0
KV8_OUTBOX=$(windows_path "$work/outbox.jsonl") KV8_USER_ID=tev-sdk-user-0001 \
  wine_in "$work" "$(windows_path "$host")" >"$work/stdout" 2>"$work/stderr" || status=$?
echo "from configure to a finished run of the sample: $((($(date +%s%N) - started) / 1000000)) ms"
cat "$work/stdout"
[ "$status" -eq 0 ] || { cat "$work/stderr"; fail "the host exited with status $status"; }
version=$(sed -n 's/^#define TEV_VERSION_STRING "\(.*\)"$/\1/p' "$sdk/include/TEVVersion.h")
tr -d '\r' <"$work/stdout" | grep -qxF "reporting through TEV $version" || fail "the host did not print TEV $version"
if [ -f "$work/outbox.jsonl" ]; then
  diff -u "$source_dir/tests/sdk/host.outbox.jsonl" "$work/outbox.jsonl" || fail "the outbox differs from host.outbox.jsonl"
else
  fail "no outbox was written"
fi
[ -s "$work/temp/Setup_TEV.log" ] || fail "no Setup_TEV.log in the run's temporary directory"

if [ "$failures" -eq 0 ]; then echo "1 passed, 0 failed"; else echo "0 passed, 1 failed"; exit 1; fi
