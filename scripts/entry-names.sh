#!/usr/bin/env bash
# Writes the header that names each of TEVUtil's entries by the symbol a compiler gives it, made
# from the one list (cmake/tev_entries.txt): what `tev doctor` checks a libtev.so exports.
# Usage: scripts/entry-names.sh SOURCE_DIR INCLUDE_DIR OUT_HEADER CXX LISTS_DIR
set -euo pipefail
source "$(dirname "$0")/entry-lists.sh"
source_dir=$1
include_dir=$2
out=$3
cxx=$4
lists=$5
mkdir -p "$(dirname "$out")"
fields=$(tev_entries "$lists" | cut -d' ' -f1)
names=$(tev_entries "$lists" | cut -d' ' -f2- |
  compiled_names "$source_dir/include/TEVUtil.h" "$cxx" -std=c++20 -nostdinc -fms-extensions \
    -DTEV_BUILDING_LIBRARY -I"$include_dir")
[ "$(wc -l <<<"$names")" -eq "$(wc -l <<<"$fields")" ] ||
  { echo "entry-names.sh: not every entry of cmake/tev_entries.txt gave a name" >&2; exit 1; }
{
  echo "// Made by the build from cmake/tev_entries.txt: change that list, not this file."
  echo "// X(FIELD, EXPORTED_NAME) for each name TEV exports an entry under, in the list's order."
  printf '#define TEV_EXPORTED_ENTRIES(X)'
  paste -d' ' <(echo "$fields") <(echo "$names") | while read -r field name; do
    printf ' \\\n    X(%s, "%s")' "$field" "$name"
  done
  echo
} >"$out.new"
mv "$out.new" "$out"
