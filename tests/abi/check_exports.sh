#!/usr/bin/env bash
# The binary interface of the Windows build, read back from the files themselves:
#  - the .def files are what the headers give today (GCC's names, and Microsoft's as clang's MSVC
#    mode decorates them), and the names KV8.h imports are the ones Microsoft's compiler gives;
#  - TEV.dll exports exactly the 56 names, each decorated name at its GCC twin's address;
#  - TEV.dll imports only Windows' own DLLs (it binds KV8.dll itself, at first need, and holds the
#    decorated name of each static it looks up), and carries its version information.
# Usage: tests/abi/check_exports.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source_dir=$1
build_dir=$2
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

derive="$source_dir/scripts/derive-exports.sh"
derived_tev=$("$derive" -I "$build_dir/include" "$source_dir/include/TEVUtil.h" "$source_dir/cmake/tev_entries.txt" TEV.dll)
diff -u "$source_dir/src/TEV.def" <(echo "$derived_tev") || fail "src/TEV.def differs from the names TEVUtil.h gives"
diff -u "$source_dir/kv8/KV8.def" <("$derive" "$source_dir/include/KV8.h" "$source_dir/cmake/kv8_entries.txt" KV8.dll -DKV8_BUILDING_LIBRARY) ||
  fail "kv8/KV8.def differs from the names KV8.h gives"
# An importer compiled by GCC must refer to each static by exactly the name clang's MSVC mode gives.
kv8_names=()
while read -r gnu && read -r alias; do
  [ "$gnu=$gnu" = "$alias" ] || fail "KV8.h imports $gnu where Microsoft's compiler says ${alias%%=*}"
  kv8_names+=("${alias%%=*}")
done < <("$derive" "$source_dir/include/KV8.h" "$source_dir/cmake/kv8_entries.txt" KV8.dll | tail -n +3 | sed 's/^ *//')

# The export table: "[ordinal] name" lines and the address of each ordinal.
table=$(i686-w64-mingw32-objdump -p "$build_dir/bin/TEV.dll")
declare -A rva_of_ordinal name_rva
while read -r ordinal rva; do rva_of_ordinal[$ordinal]=$rva; done < <(
  sed -n 's/^\s*\[ *\([0-9]*\)\] +base\[ *[0-9]*\] \([0-9a-f]*\) Export RVA$/\1 \2/p' <<<"$table")
exported=0
while read -r ordinal name; do
  name_rva[$name]=${rva_of_ordinal[$ordinal]}
  exported=$((exported + 1))
done < <(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/ s/^\s*\[ *\([0-9]*\)\] \(.*\)$/\1 \2/p' <<<"$table")
[ "$exported" -eq 56 ] || fail "TEV.dll exports $exported names, not 56"
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

imports=$(sed -n 's/^\s*DLL Name: //p' <<<"$table" | sort -u | tr '\n' ' ')
for dll in $imports; do
  case "${dll,,}" in
    kernel32.dll | msvcrt.dll | shlwapi.dll | user32.dll) ;;
    *) fail "TEV.dll imports $dll" ;;
  esac
done
# The names TEV.dll looks the analytics library's statics up by: every one KV8.h declares.
looked_up=$(strings -a "$build_dir/bin/TEV.dll")
[ "${#kv8_names[@]}" -eq 9 ] || fail "KV8.h gives ${#kv8_names[@]} statics, not 9"
for name in "${kv8_names[@]}"; do
  grep -qxF "$name" <<<"$looked_up" || fail "TEV.dll does not name $name, which it must look up"
done

# Windows shows a DLL's version information from its resource.
llvm-readobj --coff-resources "$build_dir/bin/TEV.dll" | grep -q 'Type: VERSIONINFO' ||
  fail "TEV.dll carries no version information"

echo "exports: $exported names; imports: $imports"
if [ "$failures" -eq 0 ]; then echo "1 passed, 0 failed"; else echo "0 passed, 1 failed"; exit 1; fi
