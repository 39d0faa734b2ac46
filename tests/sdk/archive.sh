#!/usr/bin/env bash
# The SDK archive as an installer team receives it: made by CPack from the build, as `make package`
# makes it, and unpacked into WORK_DIR, away from the build tree. Checked here:
#  - it is TEV-<version>-win32.zip, the version that of include/TEVVersion.h and of TEV.dll's
#    version information, and it holds exactly the files of contents.txt, in one folder of its name
#    (the symbol store's folders named as a symbol server looks for them, from bin/TEV.dll's headers
#    and debug directory as llvm-readobj reads them: <timestamp><size> is %08X%x of its time stamp
#    and size of image, <GUID><age> the GUID's 32 hexadecimal digits and the age in hexadecimal);
#  - the store holds the very TEV.dll of bin/;
#  - standin/KV8.dll's version information says it is a stand-in for tests, not for distribution;
#  - its README.md is the SDK's own guide: every file or folder it names is in the archive, and every
#    size it gives is the size of that file;
#  - bin/TEV.dll carries no debug sections and no link timestamp;
#  - bin/TEV.dll, bin/tev.exe and standin/KV8.dll register their unwind tables with libgcc's
#    unwinder when loaded, as GCC's crtbegin.o does (its frame_dummy looks libgcc_s_dw2-1.dll up
#    first, by name); MinGW-w64's own crtbegin.o, which clang's driver takes unless told, does
#    not, and every exception thrown inside such a module ends the process instead of being caught;
#  - every entry, at its address in bin/TEV.dll's export table, is named back from the shipped
#    symbols alone: by addr2line on symbols/TEV.dll.debug, and through TEV.dll's debug link when
#    the symbols are put beside it (the link's checksum ties the two).
# The unpacked SDK stays in WORK_DIR/sdk for the tests that consume it.
# Usage: tests/sdk/archive.sh SOURCE_DIR BUILD_DIR WORK_DIR
set -euo pipefail
source_dir=$1
build_dir=$2
work=$3
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
source "$source_dir/scripts/entry-lists.sh"
entries=$(tev_entry_count "$build_dir/generated")

rm -rf "$work"
mkdir -p "$work/package"
cpack --config "$build_dir/CPackConfig.cmake" -B "$work/package" >"$work/cpack.log" ||
  { cat "$work/cpack.log"; fail "cpack failed"; exit 1; }

version_of() { sed -n "s/^#define TEV_VERSION_$1 \(.*\)$/\1/p" "$build_dir/include/TEVVersion.h"; }
version="$(version_of MAJOR).$(version_of MINOR).$(version_of PATCH)"
[ "\"$version\"" = "$(version_of STRING)" ] || fail "TEV_VERSION_STRING is not $version"
name="TEV-$version-win32"
archive="$work/package/$name.zip"
[ -f "$archive" ] || { ls "$work/package"; fail "no $name.zip"; exit 1; }
echo "$name.zip: $(stat -c %s "$archive") bytes"

unzip -q "$archive" -d "$work/unpacked"
# The symbol store's folder names, from the DLL unpacked.
dll="$work/unpacked/$name/bin/TEV.dll"
headers=$(llvm-readobj --file-headers "$dll")
directory=$(llvm-readobj --coff-debug-directory "$dll")
timestamp=$(sed -n 's/^ *TimeDateStamp: .*(0x\([0-9A-Fa-f]*\))$/\1/p' <<<"$headers" | head -1)
size=$(sed -n 's/^ *SizeOfImage: //p' <<<"$headers")
read -r -a b <<<"$(sed -n 's/^ *PDBGUID: (\(.*\))$/\1/p' <<<"$directory")"
age=$(sed -n 's/^ *PDBAge: //p' <<<"$directory")
[ -n "$timestamp" ] && [ -n "$size" ] && [ "${#b[@]}" -eq 16 ] && [ -n "$age" ] ||
  { fail "bin/TEV.dll's headers or debug directory cannot be read"; exit 1; }
dll_key=$(printf '%08X%x' "0x$timestamp" "$size")
pdb_key="${b[3]}${b[2]}${b[1]}${b[0]}${b[5]}${b[4]}${b[7]}${b[6]}${b[8]}${b[9]}${b[10]}${b[11]}${b[12]}${b[13]}${b[14]}${b[15]}"
pdb_key="${pdb_key^^}$(printf '%x' "$age")"
echo "symbol store: TEV.dll/$dll_key, TEV.pdb/$pdb_key"
diff -u <(sed "s|<timestamp><size>|$dll_key|; s|<GUID><age>|$pdb_key|" "$source_dir/tests/sdk/contents.txt" |
  LC_ALL=C sort | sed "s|^|$name/|") \
  <(cd "$work/unpacked" && find . -type f -printf '%P\n' | LC_ALL=C sort) ||
  fail "the archive does not hold exactly the files of contents.txt under $name/"
mv "$work/unpacked/$name" "$work/sdk"
sdk="$work/sdk"
[ -f "$sdk/bin/TEV.dll" ] && [ -f "$sdk/symbols/TEV.dll.debug" ] || { fail "no TEV.dll or no symbols"; exit 1; }
cmp -s "$sdk/bin/TEV.dll" "$sdk/symbols/TEV.dll/$dll_key/TEV.dll" || fail "the symbol store's TEV.dll is not bin/TEV.dll"

# The guide: paths in backquotes (a folder's ends in /; Windows' \\ read as /), and the sizes
# given in its table of files and beside each file it sizes in its text.
guide="$sdk/README.md"
head -1 "$guide" | grep -qxF "# TEV $version for Windows installers" || fail "README.md is not the SDK's guide"
! grep -n '@[A-Z_]*@' "$guide" || fail "README.md holds a figure that was not filled in"
named_paths=0
while read -r path; do
  [ -e "$sdk/$path" ] || fail "README.md names $path, which the archive does not hold"
  named_paths=$((named_paths + 1))
done < <(grep -o '`[A-Za-z][A-Za-z]*[/\\][^` ]*`\|`[A-Z]*\.\(md\|txt\)`' "$guide" | tr -d '`' | tr '\\' / | sort -u)
sized=0
while read -r path bytes; do
  [ "$(stat -c %s "$sdk/$path")" = "${bytes//,/}" ] || fail "README.md gives $path $bytes bytes, not $(stat -c %s "$sdk/$path")"
  sized=$((sized + 1))
done < <(sed -n 's/^| `\([^`]*\)` | \([0-9,]*\) |$/\1 \2/p; s/^.*`\([a-z]*\/[^`]*\)` (\([0-9,]*\) bytes.*$/\1 \2/p' "$guide")
[ "$sized" -ge 20 ] || fail "README.md gives the size of $sized files only"
echo "README.md: $named_paths paths named, $sized sizes given"

for module in bin/TEV.dll bin/tev.exe standin/KV8.dll; do
  grep -qx 'libgcc_s_dw2-1.dll' <(i686-w64-mingw32-strings -a "$sdk/$module") ||
    fail "$module does not register its unwind tables with libgcc's unwinder (no GCC crtbegin.o)"
done

file_version=$(i686-w64-mingw32-strings -el "$sdk/bin/TEV.dll" | grep -A1 -x FileVersion | tail -1)
[ "$file_version" = "$version" ] || fail "TEV.dll's FileVersion is '$file_version', not $version"

# The stand-in cannot pass for the maker's analytics library: its version information says so.
standin_strings=$(i686-w64-mingw32-strings -el "$sdk/standin/KV8.dll")
for field in FileDescription ProductName; do
  value=$(grep -A1 -x "$field" <<<"$standin_strings" | tail -1)
  [[ $value == *"not for distribution"* ]] || fail "standin/KV8.dll's $field is '$value', which does not say it is not for distribution"
done
[[ $(grep -A1 -x FileDescription <<<"$standin_strings" | tail -1) == *"stand-in for TEV's tests"* ]] ||
  fail "standin/KV8.dll's FileDescription does not say it is a stand-in for tests"

source "$(dirname "${BASH_SOURCE[0]}")/../shared/pe.sh"
debug=$(pe_sections "$sdk/bin/TEV.dll" | { grep '^\.debug' || true; } | tr '\n' ' ')
[ -z "$debug" ] || fail "bin/TEV.dll has debug sections: $debug"
stamp=$(pe_header "$sdk/bin/TEV.dll" TimeDateStamp)
[ "$stamp" = 0 ] || fail "TEV.dll carries a link timestamp: $stamp"
echo "bin/TEV.dll: $(stat -c %s "$sdk/bin/TEV.dll") bytes; symbols/TEV.dll.debug: $(stat -c %s "$sdk/symbols/TEV.dll.debug") bytes"

# Each entry's address: the image base plus the RVA of its GCC name in the export table.
image_base=$(pe_header "$sdk/bin/TEV.dll" ImageBase)
beside="$work/symbols-beside"
mkdir -p "$beside"
cp "$sdk/bin/TEV.dll" "$sdk/symbols/TEV.dll.debug" "$beside/"
named=0
while read -r rva name; do
  [[ $name == _Z* ]] || continue
  address=$(printf '0x%x' $((image_base + 16#$rva)))
  expected=$(i686-w64-mingw32-c++filt -n "$name")
  # -i lists the inlined calls at the address first; the entry itself is the last function named,
  # with its source line.
  for file in "$sdk/symbols/TEV.dll.debug" "$beside/TEV.dll"; do
    found=$(i686-w64-mingw32-addr2line -f -i -e "$file" "$address" | tail -2)
    function=$(i686-w64-mingw32-c++filt -n "$(head -1 <<<"$found")")
    line=$(tail -1 <<<"$found")
    [ "$function" = "$expected" ] && [[ $line =~ \.cpp:[0-9]+ ]] ||
      fail "$address in ${file#"$work"/} is '$function' at '$line', not $expected in a source line"
  done
  named=$((named + 1))
done < <(pe_exports "$sdk/bin/TEV.dll")
[ "$named" -eq "$entries" ] || fail "$named entries under their GCC names in the export table, not $entries"
echo "$named entries named back from the shipped symbols"

if [ "$failures" -eq 0 ]; then echo "1 passed, 0 failed"; else echo "0 passed, 1 failed"; exit 1; fi
