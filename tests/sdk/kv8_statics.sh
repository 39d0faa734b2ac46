#!/usr/bin/env bash
# The analytics library's statics that TEV calls against their one list, cmake/kv8_statics.txt, on
# the development machine. Checked here:
#  - each static's names in the list are those the compilers give KV8.h's declaration: the
#    development build's (CXX, TEVChar char16_t) and Microsoft's (clang's MSVC mode);
#  - kv8/KV8.def, the stand-in's export file, is what the list gives (derived into BUILD_DIR/lists);
#  - where MinGW's GCC is installed, KV8.h imports each static by exactly the list's Microsoft name;
#  - the stand-in, libkv8.so, exports every static under the list's name (TEV binds it by these).
# Usage: tests/sdk/kv8_statics.sh SOURCE_DIR BUILD_DIR LIBKV8 CXX (BUILD_DIR/lists: the .def derived)
set -euo pipefail
source_dir=$1
build_dir=$2
libkv8=$3
cxx=$4
source "$source_dir/scripts/entry-lists.sh"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

list=cmake/kv8_statics.txt
header="$source_dir/src/kv8_interface/KV8.h"
kv8_statics "$build_dir/generated" >"$work/listed"
cut -d' ' -f2 "$work/listed" | sed 's/^/\&/' >"$work/expressions"
flags=(-std=c++20 -nostdinc -I"$source_dir/include")
if ! compiled_names "$header" "$cxx" "${flags[@]}" -DKV8_BUILDING_LIBRARY <"$work/expressions" >"$work/itanium" 2>"$work/errors"; then
  cat "$work/errors"
  fail "$list names a static KV8.h does not declare (above)"
  echo "0 passed, 1 failed"
  exit 1
fi
compiled_names "$header" clang++ --target=i686-pc-windows-msvc "${flags[@]}" <"$work/expressions" >"$work/microsoft"
mingw=$(command -v i686-w64-mingw32-g++-posix || true)
if [ -n "$mingw" ]; then
  compiled_names "$header" "$mingw" "${flags[@]}" <"$work/expressions" >"$work/imported"
else
  echo "i686-w64-mingw32-g++-posix not found: KV8.h's import labels are not checked here"
  cp "$work/microsoft" "$work/imported"
fi
exported=$(nm -D --defined-only "$libkv8" | awk '{ print $3 }')

while read -r binding function itanium microsoft <&3 && read -r compiled_itanium <&4 &&
  read -r compiled_microsoft <&5 && read -r imported <&6; do
  [ "$itanium" = "$compiled_itanium" ] ||
    fail "$list gives $function ($binding) the name $itanium; KV8.h's declaration has $compiled_itanium"
  [ "$microsoft" = "$compiled_microsoft" ] ||
    fail "$list gives $function ($binding) Microsoft's name $microsoft; Microsoft's compiler gives $compiled_microsoft"
  [ "$imported" = "$compiled_microsoft" ] ||
    fail "KV8.h imports $function under $imported (KV8_MSVC_NAME); Microsoft's compiler gives $compiled_microsoft"
  grep -qxF "$itanium" <<<"$exported" || fail "the stand-in ($(basename "$libkv8")) does not export $function as $itanium"
done 3<"$work/listed" 4<"$work/itanium" 5<"$work/microsoft" 6<"$work/imported"

mkdir -p "$build_dir/lists"
"$source_dir/scripts/derive-exports.sh" -I "$source_dir/include" "$header" "$work/expressions" KV8.dll >"$build_dir/lists/KV8.def"
diff -u "$source_dir/kv8/KV8.def" "$build_dir/lists/KV8.def" ||
  fail "kv8/KV8.def is not what $list gives (above): copy $build_dir/lists/KV8.def over it"

echo "$(wc -l <"$work/listed") statics in $list"
if [ "$failures" -eq 0 ]; then echo "1 passed, 0 failed"; else echo "0 passed, 1 failed"; exit 1; fi
