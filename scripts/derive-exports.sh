#!/usr/bin/env bash
# Derives the export .def file of a DLL from its public header: for every function listed (one
# C++ address expression a line), the name GCC gives it and the name Microsoft's compiler gives it,
# the latter as clang's MSVC mode decorates it. The DLL exports both at one address.
# Usage: scripts/derive-exports.sh [-I INCLUDE_DIR]... HEADER ENTRY_LIST LIBRARY_NAME [GCC_FLAG...] > FILE.def
# (-I: where the header's generated companions are, for both compilers)
set -euo pipefail
includes=()
while [ "$1" = "-I" ]; do includes+=("-I$2"); shift 2; done
header=$(realpath "$1")
list=$2
library=$3
shift 3
gcc_flags=("$@")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

name_of() {  # name_of COMPILER... : the one undefined symbol the probe refers to (an import's, dllimport's, without __imp_)
  "$@" -c "$work/probe.cpp" -o "$work/probe.o"
  llvm-nm -u "$work/probe.o" | awk '{sub(/^__imp_/, "", $NF); print $NF}'
}

echo "LIBRARY $library"
echo "EXPORTS"
while IFS= read -r entry; do
  [ -n "$entry" ] || continue
  printf '#include "%s"\nextern void* const probe;\nvoid* const probe = (void*)(%s);\n' "$header" "$entry" >"$work/probe.cpp"
  msvc=$(name_of clang++ --target=i686-pc-windows-msvc -fms-extensions -std=c++20 -I"$(dirname "$header")" "${includes[@]}")
  gnu=$(name_of i686-w64-mingw32-g++-posix -std=c++20 -I"$(dirname "$header")" "${includes[@]}" "${gcc_flags[@]}")
  gnu=${gnu#_}  # the .def names symbols without i686's leading underscore
  printf '    %s\n    %s=%s\n' "$gnu" "$msvc" "$gnu"
done <"$list"
