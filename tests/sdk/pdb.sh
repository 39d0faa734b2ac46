#!/usr/bin/env bash
# The PDB of the unpacked SDK, as a Windows team's tools read it. Checked here:
#  - symbols/ is a symbol store (its folders' names are checked by archive.sh): llvm-pdbutil reads
#    symbols/TEV.pdb/<GUID><age>/TEV.pdb, and its GUID and age are those bin/TEV.dll's debug
#    directory names, with the PDB by its file name alone;
#  - it is a whole PDB: a procedure for each entry under its C++ name (TEVUtil::InitML) with
#    source lines, TEV's types (TEVUtil, tev::Run), and no path of the machine that built it;
#  - in a fresh Wine prefix, Windows' debugging API (dbghelp: SymInitialize, SymLoadModuleEx of
#    TEV.dll, SymFromAddr, SymGetLineFromAddr64) names each entry of cmake/tev_entries.txt at an address inside
#    it, 3 bytes past its address in the export table (where a crash report's return address into
#    the entry points), as TEVUtil::<entry> +3 at a line of a file under src\: with the PDB put
#    beside a copy of TEV.dll, and through the store, "srv*symbols", read as a symbol server reads
#    it (dbghelp_names.c); with an empty search path it finds no PDB.
# Usage: tests/sdk/pdb.sh SOURCE_DIR WORK_DIR BUILD_DIR (WORK_DIR/sdk: the SDK, from archive.sh)
set -euo pipefail
source_dir=$1
sdk="$2/sdk"
work="$2/pdb"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
source "$source_dir/scripts/entry-lists.sh"
entries=$(tev_entry_count "$3/generated")

rm -rf "$work"
mkdir -p "$work/empty" "$work/beside"
pdbs=("$sdk"/symbols/TEV.pdb/*/TEV.pdb)
[ "${#pdbs[@]}" -eq 1 ] && [ -f "${pdbs[0]}" ] || { fail "symbols/ holds no TEV.pdb/<GUID><age>/TEV.pdb"; exit 1; }
pdb=${pdbs[0]}
summary=$(llvm-pdbutil dump -summary "$pdb") || { fail "llvm-pdbutil cannot read ${pdb#"$sdk"/}"; exit 1; }
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
echo "${pdb#"$sdk"/}: $(stat -c %s "$pdb") bytes, GUID $pdb_guid, the one bin/TEV.dll names"

# CodeView, not public names alone: procedures by their C++ names, with lines; TEV's classes.
symbols=$(llvm-pdbutil dump -symbols "$pdb")
procedures=$(grep -c 'S_GPROC32 .*`TEVUtil::' <<<"$symbols" || true)
[ "$procedures" -ge 28 ] || fail "the PDB holds $procedures procedures named TEVUtil::..., not the 28 entries"
types=$(llvm-pdbutil dump -types "$pdb")
for class in TEVUtil tev::Run tev::Log; do
  grep -q "LF_CLASS .*\`$class\`" <<<"$types" || fail "the PDB holds no type $class"
done
grep -q '\\src\\entries\\entries\.cpp' <(llvm-pdbutil dump -modules -files "$pdb") ||
  fail "the PDB names no source file src\\entries\\entries.cpp"
# No path of the build machine: the source folder (which holds the build folders of the presets).
if grep -qF "$(realpath "$source_dir")" <(strings -a "$pdb"); then
  fail "the PDB holds the source folder's path: $(strings -a "$pdb" | grep -F "$(realpath "$source_dir")" | head -3)"
fi

# GCC's name of each entry at its RVA, from the export table.
source "$(dirname "${BASH_SOURCE[0]}")/../shared/pe.sh"
declare -A name_at
while read -r rva name; do
  [[ $name == _Z* ]] && name_at[$((16#$rva))]=$name
done < <(pe_exports "$sdk/bin/TEV.dll")
[ "${#name_at[@]}" -eq "$entries" ] || fail "${#name_at[@]} entries under GCC's names in the export table, not $entries"
# Three bytes into each entry, where a return address into its body points.
inside=3
rvas=()
for rva in "${!name_at[@]}"; do rvas+=("$(printf '%x' $((rva + inside)))"); done

i686-w64-mingw32-gcc -x c -std=c99 -municode -Wall -Wextra -Werror "$source_dir/tests/sdk/dbghelp_names.c" \
  -ldbghelp -o "$work/dbghelp_names.exe"
source "$source_dir/tests/sdk/wine_prefix.sh"
# names TITLE DLL SEARCH_PATH: dbghelp names every entry from what it finds on SEARCH_PATH.
names() {
  local title=$1 dll=$2 search=$3 status=0 named=0 rva name displacement line file expected entry length
  wine "$(windows_path "$work/dbghelp_names.exe")" "$(windows_path "$dll")" "$search" "${rvas[@]}" \
    </dev/null >"$work/names" 2>"$work/stderr" || status=$?
  tr -d '\r' <"$work/names" >"$work/names.txt"
  [ "$status" -eq 0 ] || { cat "$work/names.txt" "$work/stderr"; fail "$title: dbghelp could not name every entry (status $status)"; }
  grep -qx 'symbols pdb .*TEV.pdb' "$work/names.txt" || fail "$title: dbghelp did not load the PDB: $(grep -m1 '^symbols' "$work/names.txt")"
  while read -r rva name displacement line file; do
    expected=${name_at[$((16#$rva - inside))]}
    # The entry's own name, from GCC's: _ZN7TEVUtil10AddContentEPKw... gives AddContent.
    entry=${expected#_ZN7TEVUtil}
    length=${entry%%[!0-9]*}
    entry=${entry:${#length}:$length}
    [ "$name" = "TEVUtil::$entry" ] && [ "$displacement" = "$inside" ] ||
      fail "$title: dbghelp names 0x$rva $name (+$displacement), not TEVUtil::$entry +$inside"
    [ "$line" -gt 0 ] && [[ $file == *\\src\\*.* ]] || fail "$title: 0x$rva ($name) is at line $line of '$file', not a line of a file under src\\"
    named=$((named + 1))
  done < <(grep -v '^s[a-z]* ' "$work/names.txt")
  [ "$named" -eq "$entries" ] || fail "$title: dbghelp named $named entries, not $entries"
  echo "$title: $named entries named by dbghelp, each with its line, e.g. $(grep -v '^s[a-z]* ' "$work/names.txt" | head -1)"
}
# The PDB beside the DLL, as a developer puts it; then the store as it is, as srv*<folder>.
cp "$sdk/bin/TEV.dll" "$pdb" "$work/beside/"
names "TEV.pdb beside TEV.dll" "$work/beside/TEV.dll" "$(windows_path "$work/empty")"
names "srv*symbols" "$sdk/bin/TEV.dll" "srv*$(windows_path "$sdk/symbols")"
grep -q '^store pdb TEV.pdb\\' "$work/names.txt" || fail "the store was not read: $(head -2 "$work/names.txt")"

wine "$(windows_path "$work/dbghelp_names.exe")" "$(windows_path "$sdk/bin/TEV.dll")" "$(windows_path "$work/empty")" \
  </dev/null 2>/dev/null | tr -d '\r' | grep -q '^symbols pdb' && fail "dbghelp found a PDB without symbols/ on its search path"

if [ "$failures" -eq 0 ]; then echo "1 passed, 0 failed"; else echo "0 passed, 1 failed"; exit 1; fi
