#!/usr/bin/env bash
# The binary interface of the Windows build, read back from the files themselves:
#  - the .def files are what the headers give today (GCC's names, and Microsoft's as clang's MSVC
#    mode decorates them), and the names KV8.h imports are the ones Microsoft's compiler gives;
#  - TEV.dll exports exactly two names for each entry of cmake/tev_entries.txt, each decorated name
#    at its GCC twin's address;
#  - TEV.dll imports only Windows' own DLLs (it binds KV8.dll itself, at first need, and holds the
#    decorated name of each static it looks up), and carries its version information.
# Usage: tests/abi/check_exports.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source_dir=$1
build_dir=$2
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

source "$source_dir/scripts/entry-lists.sh"
entries=$(tev_entry_count "$build_dir/generated")
derive="$source_dir/scripts/derive-exports.sh"
derived_tev=$("$derive" -I "$build_dir/include" "$source_dir/include/TEVUtil.h" <(tev_entries "$build_dir/generated" | cut -d' ' -f2-) TEV.dll)
diff -u "$source_dir/src/TEV.def" <(echo "$derived_tev") || fail "src/TEV.def differs from the names TEVUtil.h gives"
kv8_expressions=$(kv8_statics "$build_dir/generated" | cut -d' ' -f2 | sed 's/^/\&/')
diff -u "$source_dir/kv8/KV8.def" <("$derive" -I "$source_dir/include" "$source_dir/src/kv8_interface/KV8.h" <(echo "$kv8_expressions") KV8.dll) ||
  fail "kv8/KV8.def differs from the names KV8.h gives"
# The list's names of the statics are Microsoft's, and an importer compiled by GCC refers to each
# by exactly that name.
mapfile -t kv8_names < <(kv8_statics "$build_dir/generated" | cut -d' ' -f4)
mapfile -t decorated < <(compiled_names "$source_dir/src/kv8_interface/KV8.h" clang++ --target=i686-pc-windows-msvc -std=c++20 -I"$source_dir/include" <<<"$kv8_expressions")
mapfile -t imported < <(compiled_names "$source_dir/src/kv8_interface/KV8.h" i686-w64-mingw32-g++-posix -std=c++20 -I"$source_dir/include" <<<"$kv8_expressions")
for index in "${!kv8_names[@]}"; do
  [ "${decorated[$index]:-}" = "${kv8_names[$index]}" ] ||
    fail "cmake/kv8_statics.txt names ${kv8_names[$index]} where Microsoft's compiler says ${decorated[$index]:-nothing}"
  [ "${imported[$index]:-}" = "${kv8_names[$index]}" ] ||
    fail "KV8.h imports ${imported[$index]:-nothing} where Microsoft's compiler says ${kv8_names[$index]}"
done

# The export table: each name's address.
source "$(dirname "${BASH_SOURCE[0]}")/../shared/pe.sh"
declare -A name_rva
exported=0
while read -r rva name; do
  name_rva[$name]=$rva
  exported=$((exported + 1))
done < <(pe_exports "$build_dir/bin/TEV.dll")
[ "$exported" -eq $((2 * entries)) ] || fail "TEV.dll exports $exported names, not $((2 * entries)) (two for each entry of cmake/tev_entries.txt)"
while read -r line; do
  line=${line# }
  case "$line" in
    '?'*=*)
      decorated=${line%%=*} gnu=${line#*=}
      [ -n "${name_rva[$decorated]:-}" ] || fail "TEV.dll does not export $decorated"
      [ -n "${name_rva[$gnu]:-}" ] || fail "TEV.dll does not export $gnu"
      [ "${name_rva[$decorated]:-x}" = "${name_rva[$gnu]:-y}" ] || fail "$decorated and $gnu are at different addresses"
      ;;
  esac
done < <(sed 's/^ *//' <<<"$derived_tev")

imports=$(pe_imports "$build_dir/bin/TEV.dll" | sort -u | tr '\n' ' ')
for dll in $imports; do
  case "${dll,,}" in
    kernel32.dll | msvcrt.dll | shlwapi.dll | user32.dll) ;;
    *) fail "TEV.dll imports $dll" ;;
  esac
done
# The names TEV.dll looks the analytics library's statics up by: every one cmake/kv8_statics.txt lists.
looked_up=$(strings -a "$build_dir/bin/TEV.dll")
for name in "${kv8_names[@]}"; do
  grep -qxF "$name" <<<"$looked_up" || fail "TEV.dll does not name $name, which it must look up"
done

# Windows shows a DLL's version information from its resource.
llvm-readobj --coff-resources "$build_dir/bin/TEV.dll" | grep -q 'Type: VERSIONINFO' ||
  fail "TEV.dll carries no version information"

echo "exports: $exported names; imports: $imports"
if [ "$failures" -eq 0 ]; then echo "1 passed, 0 failed"; else echo "0 passed, 1 failed"; exit 1; fi
