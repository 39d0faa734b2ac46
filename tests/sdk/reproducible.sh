#!/usr/bin/env bash
# Two builds of the product from this source, each from clean in a folder of its own (of different
# names and depths), give the same bytes: TEV.dll as built and as shipped, its symbols (the DWARF,
# the PDB, and the symbol store of the two, folders named alike), and both import libraries; and
# TEV.dll carries no time stamp (PE header, export directory). The PDB the same from another folder
# is also a PDB that records no build folder.
# Usage: tests/sdk/reproducible.sh SOURCE_DIR WORK_DIR
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../shared/pe.sh"
source_dir=$1
work=$2
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

rm -rf "$work"
builds=("$work/first" "$work/second/build-of-the-same-commit")
# The compiler's own output, not a compiler cache's: ccache hands out objects compiled in another
# folder, with paths it rewrote, so that their debug information depends on what it held.
build_product() {
  env -u CMAKE_CXX_COMPILER_LAUNCHER -u CMAKE_C_COMPILER_LAUNCHER \
    cmake -S "$source_dir" -B "$1" -DCMAKE_BUILD_TYPE=Release -DTEV_TOOL=OFF \
    -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/i686-w64-mingw32.cmake" >"$1.log" 2>&1 &&
    cmake --build "$1" --target tev >>"$1.log" 2>&1
}
mkdir -p "$work/second"
pids=()
for build in "${builds[@]}"; do build_product "$build" & pids+=($!); done
for index in 0 1; do
  wait "${pids[$index]}" || { cat "${builds[$index]}.log"; fail "the product did not build in ${builds[$index]}"; exit 1; }
done

# Two builds in parallel may link within one second: a time stamp is looked for, not only compared.
for file in bin/TEV.dll sdk/TEV.dll; do
  stamps="$(pe_header "${builds[0]}/$file" TimeDateStamp) $(pe_debug_timestamps "${builds[0]}/$file" | tr '\n' ' ')"
  [ "$stamps" = "0 0 " ] || fail "$file carries the time of its build: $stamps"
done
for file in bin/TEV.dll sdk/TEV.dll sdk/TEV.dll.debug sdk/TEV.pdb TEV.lib libTEV.dll.a; do
  if cmp "${builds[0]}/$file" "${builds[1]}/$file"; then
    echo "$file: the same $(stat -c %s "${builds[0]}/$file") bytes"
  else
    fail "$file differs between the two builds"
  fi
done
diff -r "${builds[0]}/sdk/store" "${builds[1]}/sdk/store" >/dev/null ||
  fail "the symbol stores differ: $(cd "${builds[0]}/sdk/store" && find . -type f) and $(cd "${builds[1]}/sdk/store" && find . -type f)"

if [ "$failures" -eq 0 ]; then rm -rf "$work"; echo "1 passed, 0 failed"; else echo "0 passed, 1 failed"; exit 1; fi
