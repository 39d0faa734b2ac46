#!/usr/bin/env bash
# The PDB of the unpacked SDK, as a Windows team's tools read it. Checked here:
#  - llvm-pdbutil reads symbols/TEV.pdb, and its GUID and age are those bin/TEV.dll's debug
#    directory names, with the PDB by its file name alone;
#  - in a fresh Wine prefix, Windows' debugging API (dbghelp: SymInitialize with symbols/ as the
#    search path, SymLoadModuleEx of bin/TEV.dll, SymFromAddr) loads the PDB and names each of the
#    entries of cmake/tev_entries.txt, at its address in TEV.dll's export table, with no displacement: by GCC's name, or
#    by the Microsoft name, undecorated (TEVUtil::InitML), the two names the PDB holds for the
#    address; with an empty search path it finds no PDB.
# Usage: tests/sdk/pdb.sh SOURCE_DIR WORK_DIR (WORK_DIR/sdk: the SDK, from archive.sh)
set -euo pipefail
source_dir=$1
sdk="$2/sdk"
work="$2/pdb"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
source "$source_dir/scripts/entry-lists.sh"
entries=$(tev_entry_count "$source_dir")

rm -rf "$work"
mkdir -p "$work/empty"
pdb="$sdk/symbols/TEV.pdb"
summary=$(llvm-pdbutil dump -summary "$pdb") || { fail "llvm-pdbutil cannot read symbols/TEV.pdb"; exit 1; }
directory=$(llvm-readobj --coff-debug-directory "$sdk/bin/TEV.dll")
# The debug directory gives the GUID's bytes as stored: its first three fields little-endian.
read -r -a bytes <<<"$(sed -n 's/^ *PDBGUID: (\(.*\))$/\1/p' <<<"$directory")"
[ "${#bytes[@]}" -eq 16 ] || { fail "bin/TEV.dll's debug directory names no PDB"; exit 1; }
b=("${bytes[@]}")
dll_guid="{${b[3]}${b[2]}${b[1]}${b[0]}-${b[5]}${b[4]}-${b[7]}${b[6]}-${b[8]}${b[9]}-${b[10]}${b[11]}${b[12]}${b[13]}${b[14]}${b[15]}}"
pdb_guid=$(sed -n 's/^ *GUID: //p' <<<"$summary")
[ "$dll_guid" = "$pdb_guid" ] || fail "TEV.dll names the PDB $dll_guid, symbols/TEV.pdb is $pdb_guid"
[ "$(sed -n 's/^ *PDBAge: //p' <<<"$directory")" = "$(sed -n 's/^ *Age: //p' <<<"$summary")" ] ||
  fail "the PDB's age is not the one TEV.dll names"
[ "$(sed -n 's/^ *PDBFileName: //p' <<<"$directory")" = TEV.pdb ] || fail "TEV.dll names its PDB by a path, not TEV.pdb"
echo "symbols/TEV.pdb: $(stat -c %s "$pdb") bytes, GUID $pdb_guid, the one bin/TEV.dll names"

# GCC's name of each entry at its RVA, from the export table.
table=$(i686-w64-mingw32-objdump -p "$sdk/bin/TEV.dll")
declare -A rva_of_ordinal name_at
while read -r ordinal rva; do rva_of_ordinal[$ordinal]=$rva; done < <(
  sed -n 's/^\s*\[ *\([0-9]*\)\] +base\[ *[0-9]*\] \([0-9a-f]*\) Export RVA$/\1 \2/p' <<<"$table")
while read -r ordinal name; do
  [[ $name == _Z* ]] && name_at[$((16#${rva_of_ordinal[$ordinal]}))]=$name
done < <(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/ s/^\s*\[ *\([0-9]*\)\] \(.*\)$/\1 \2/p' <<<"$table")
[ "${#name_at[@]}" -eq "$entries" ] || fail "${#name_at[@]} entries under GCC's names in the export table, not $entries"
rvas=()
for rva in "${!name_at[@]}"; do rvas+=("$(printf '%x' "$rva")"); done

i686-w64-mingw32-gcc -x c -std=c99 -municode -Wall -Wextra -Werror "$source_dir/tests/sdk/dbghelp_names.c" \
  -ldbghelp -o "$work/dbghelp_names.exe"
source "$source_dir/tests/sdk/wine_prefix.sh"
status=0
wine "$(windows_path "$work/dbghelp_names.exe")" "$(windows_path "$sdk/bin/TEV.dll")" "$(windows_path "$sdk/symbols")" \
  "${rvas[@]}" </dev/null >"$work/names" 2>"$work/stderr" || status=$?
tr -d '\r' <"$work/names" >"$work/names.txt"
[ "$status" -eq 0 ] || { cat "$work/names.txt" "$work/stderr"; fail "dbghelp could not name every entry (status $status)"; }
grep -qx 'symbols pdb .*TEV.pdb' "$work/names.txt" || fail "dbghelp did not load the PDB: $(head -1 "$work/names.txt")"
named=0
while read -r rva name displacement; do
  expected=${name_at[$((16#$rva))]}
  # The entry's own name, from GCC's: _ZN7TEVUtil10AddContentEPKw... gives AddContent.
  entry=${expected#_ZN7TEVUtil}
  length=${entry%%[!0-9]*}
  entry=${entry:${#length}:$length}
  # dbghelp gives a public symbol's name with or without the leading underscore of a C name.
  { [ "${name##*_Z}" = "${expected##*_Z}" ] || [ "$name" = "TEVUtil::$entry" ]; } && [ "$displacement" = 0 ] ||
    fail "dbghelp names 0x$rva $name (+$displacement), not $expected or TEVUtil::$entry"
  named=$((named + 1))
done < <(tail -n +2 "$work/names.txt")
[ "$named" -eq "$entries" ] || fail "dbghelp named $named entries, not $entries"
echo "$named entries named by dbghelp from symbols/TEV.pdb"

wine "$(windows_path "$work/dbghelp_names.exe")" "$(windows_path "$sdk/bin/TEV.dll")" "$(windows_path "$work/empty")" \
  </dev/null 2>/dev/null | tr -d '\r' | grep -q '^symbols pdb' && fail "dbghelp found a PDB without symbols/ on its search path"

if [ "$failures" -eq 0 ]; then echo "1 passed, 0 failed"; else echo "0 passed, 1 failed"; exit 1; fi
