#!/usr/bin/env bash
# TEVUtil's entries against their one list, cmake/tev_entries.txt, on the development machine (no
# Windows tools). Checked here:
#  - the entries libtev.so exports (those TEVUtil.h declares and entries.cpp defines) are exactly
#    those the list gives; an entry the list lacks is named with every place that lacks it;
#  - src/TEV.def is what the list gives (GCC's and Microsoft's names, as clang gives them; derived
#    into BUILD_DIR/lists);
#  - include/TEVLoader.h's table and nsis/TEV.nsh's macros name each entry by its field, in the
#    list's order, with Microsoft's name of it; the tool's scenario binder binds each by name;
#  - the tool's scenario binder, made from the list, binds each (the MSVC-mode host, the C loader's
#    test and the every-entry installer take their calls from the list too).
# Usage: tests/sdk/entry_list.sh SOURCE_DIR BUILD_DIR LIBTEV TOOL CXX
set -euo pipefail
source_dir=$1
build_dir=$2
libtev=$3
tool=$4
cxx=$5
source "$source_dir/scripts/entry-lists.sh"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

list=cmake/tev_entries.txt
fields=$(tev_entries "$build_dir/generated" | cut -d' ' -f1)
tev_entries "$build_dir/generated" | cut -d' ' -f2- >"$work/expressions"
header="$source_dir/include/TEVUtil.h"
flags=(-std=c++20 -nostdinc -fms-extensions -DTEV_BUILDING_LIBRARY -I"$build_dir/include")
if ! itanium=$(compiled_names "$header" "$cxx" "${flags[@]}" <"$work/expressions" 2>"$work/errors"); then
  cat "$work/errors"
  fail "$list names an entry TEVUtil.h does not declare (above)"
  echo "0 passed, 1 failed"
  exit 1
fi
microsoft=$(compiled_names "$header" clang++ --target=i686-pc-windows-msvc "${flags[@]}" <"$work/expressions")
# A line an entry: FIELD ITANIUM MICROSOFT ENTRY (ENTRY: its own name, AddNRData for both overloads).
entries=$(c++filt <<<"$itanium" | sed 's/^TEVUtil::\([A-Za-z0-9_]*\).*/\1/')
paste -d' ' <(echo "$fields") <(echo "$itanium") <(echo "$microsoft") <(echo "$entries") >"$work/listed"

# What each place holds, a line an entry, FIELD MICROSOFT_NAME where it names entries by field.
# TEVLoader.h's table as the preprocessor expands it (a stand-in for <windows.h>, which the table
# does not need).
mkdir "$work/windows"
touch "$work/windows/windows.h"
printf '#include "TEVLoader.h"\n#define TEV_LISTED(field, decorated, result, parameters) TEV_LISTED_ENTRY field decorated\nTEV_LOADER_ENTRIES(TEV_LISTED)\n' >"$work/loader.c"
clang -E -P -x c -I"$work/windows" -I"$source_dir/include" "$work/loader.c" |
  grep -o 'TEV_LISTED_ENTRY [A-Za-z0-9_]* "[^"]*"' | tr -d '"' | cut -d' ' -f2- >"$work/loader" || true
# TEV.nsh: each macro TEV_<field> with the name of the entry it calls.
awk '/^!macro TEV_/ { field = substr($2, 5); next }
     /^!macroend/ { field = "" }
     field != "" && match($0, /"[?][^"]*"/) { print field, substr($0, RSTART + 1, RLENGTH - 2); field = "" }' \
  "$source_dir/nsis/TEV.nsh" >"$work/nsh"
# The binder: the entries `tev run --help` lists, by the name a scenario calls them.
"$tool" run --help | sed -n '/^Entries (/,/^$/ s/^  \([A-Za-z0-9_]*\).*/\1/p' >"$work/binder"

# count_of NAME FILE: how many of FILE's Microsoft names are of entry NAME.
count_of() { grep -c "?$1@TEVUtil@@" "$2" || true; }

# callers_lacking ENTRY: the binder, where ENTRY is not bound.
callers_lacking() {
  grep -qx "$1" "$work/binder" || echo "the scenario binder (tools/player/scenario.cpp)"
}

# Entries the library exports that the list lacks, each with every place that lacks it.
nm -D --defined-only "$libtev" | awk '$3 ~ /^_ZN7TEVUtil/ { print $3 }' | LC_ALL=C sort >"$work/exported"
cut -d' ' -f2 "$work/listed" | LC_ALL=C sort >"$work/listed_itanium"
sed -n 's/^ *\([?][^=]*\)=.*/\1/p' "$source_dir/src/TEV.def" >"$work/def"
while read -r name; do
  entry=$(c++filt "$name" | sed 's/^TEVUtil::\([A-Za-z0-9_]*\).*/\1/')
  overloads=$(grep -c "^_ZN7TEVUtil${#entry}${entry}E" "$work/exported")
  lacking=("$list (the list of entries: add it there first)")
  [ "$(count_of "$entry" "$work/def")" -ge "$overloads" ] || lacking+=("src/TEV.def")
  [ "$(count_of "$entry" "$work/loader")" -ge "$overloads" ] || lacking+=("include/TEVLoader.h")
  [ "$(count_of "$entry" "$work/nsh")" -ge "$overloads" ] || lacking+=("nsis/TEV.nsh")
  mapfile -t -O "${#lacking[@]}" lacking < <(callers_lacking "$entry")
  fail "$(c++filt "$name"): TEVUtil.h declares it and entries.cpp defines it (libtev.so exports it), but it is missing from:$(printf '\n      %s' "${lacking[@]}")"
done < <(LC_ALL=C comm -23 "$work/exported" "$work/listed_itanium")
while read -r name; do
  fail "$list lists $(c++filt "$name"), which libtev.so does not export: entries.cpp does not define it"
done < <(LC_ALL=C comm -13 "$work/exported" "$work/listed_itanium")

# The export definitions, as the list gives them.
mkdir -p "$build_dir/lists"
"$source_dir/scripts/derive-exports.sh" -I "$build_dir/include" "$header" "$work/expressions" TEV.dll >"$build_dir/lists/TEV.def"
diff -u "$source_dir/src/TEV.def" "$build_dir/lists/TEV.def" ||
  fail "src/TEV.def is not what $list gives (above): copy $build_dir/lists/TEV.def over it"

# compare PLACE FILE: FILE's FIELD MICROSOFT lines are the list's, in its order.
compare() {
  local place=$1 file=$2 field name given
  while read -r field _ name _; do
    given=$(awk -v field="$field" '$1 == field { print $2; exit }' "$file")
    if [ -z "$given" ]; then
      fail "$place has no $field ($name), which $list lists"
    elif [ "$given" != "$name" ]; then
      fail "$place names $field $given, which TEVUtil.h gives as $name"
    fi
  done <"$work/listed"
  while read -r field _; do
    grep -q "^$field " "$work/listed" || fail "$place has $field, which $list does not list"
  done <"$file"
  [ "$(cut -d' ' -f1 "$file")" = "$fields" ] || [ "$(sort "$file" | cut -d' ' -f1)" != "$(echo "$fields" | sort)" ] ||
    fail "$place does not give the entries in the order of $list (TEVUtil.h's)"
}
compare include/TEVLoader.h "$work/loader"
compare nsis/TEV.nsh "$work/nsh"

# The binder and the suites that call every entry, by name.
while read -r field _ _ entry; do
  while read -r place; do
    fail "$place does not call $entry ($field)"
  done < <(callers_lacking "$entry")
done <"$work/listed"
while read -r entry; do
  cut -d' ' -f4 "$work/listed" | grep -qx "$entry" ||
    fail "the scenario binder binds $entry, which $list does not list"
done <"$work/binder"

echo "$(wc -l <"$work/listed") entries in $list; libtev.so exports $(wc -l <"$work/exported")"
if [ "$failures" -eq 0 ]; then echo "1 passed, 0 failed"; else echo "0 passed, 1 failed"; exit 1; fi
