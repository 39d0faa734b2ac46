#!/usr/bin/env bash
# Derives the export .def file of a DLL from its public header: for every function listed (one
# C++ address expression a line), the name GCC gives it and the name Microsoft's compiler gives it,
# as clang gives them for MinGW and for Microsoft's toolchain (no system header needed, so this
# runs on any machine with clang). The DLL exports both at one address.
# Usage: scripts/derive-exports.sh [-I INCLUDE_DIR]... HEADER EXPRESSIONS LIBRARY_NAME > FILE.def
# (-I: where the header's generated companions are; EXPRESSIONS: a file, or - for standard input)
set -euo pipefail
source "$(dirname "$0")/entry-lists.sh"
includes=()
while [ "$1" = "-I" ]; do includes+=("-I$2"); shift 2; done
header=$(realpath "$1")
expressions=$(cat "$2")
library=$3
# Both sides define what they export, as the DLLs' own sources do: no import thunks.
flags=(-std=c++20 -nostdinc -fms-extensions -DTEV_BUILDING_LIBRARY -DKV8_BUILDING_LIBRARY "${includes[@]}")
gnu=$(compiled_names "$header" clang++ --target=i686-w64-mingw32 "${flags[@]}" <<<"$expressions")
msvc=$(compiled_names "$header" clang++ --target=i686-pc-windows-msvc "${flags[@]}" <<<"$expressions")
[ "$(wc -l <<<"$gnu")" -eq "$(wc -l <<<"$expressions")" ] && [ "$(wc -l <<<"$msvc")" -eq "$(wc -l <<<"$gnu")" ] ||
  { echo "derive-exports.sh: not every expression gave a name" >&2; exit 1; }

echo "LIBRARY $library"
echo "EXPORTS"
# The .def names symbols without i686's leading underscore.
paste -d' ' <(sed 's/^_//' <<<"$gnu") <(echo "$msvc") | while read -r gnu_name msvc_name; do
  printf '    %s\n    %s=%s\n' "$gnu_name" "$msvc_name" "$gnu_name"
done
