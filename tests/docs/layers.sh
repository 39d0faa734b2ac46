#!/usr/bin/env bash
# Folders include only folders below them, in the order the architecture document draws: the
# product's folders (src/) between its "layers" markers, the tool's parts (tools/) and the stand-in
# (kv8/) between its "tool layers" markers. One line a layer, top first, folders named with a final
# "/". Folders on one line do not include each other. Usage: layers.sh SOURCE_DIR
set -euo pipefail
root=${1:?usage: layers.sh SOURCE_DIR}
doc="$root/docs/ARCHITECTURE.md"

# Reads the picture between <!-- NAME --> and <!-- /NAME --> into the array named by the second
# argument: each folder's level, top first; the number of levels in `level`.
read_layers() {
  local -n levels=$2
  level=0
  while IFS= read -r line; do
    folders=$(grep -oE '\b[a-z_0-9]+/' <<<"$line" || true)
    [[ -z $folders ]] && continue
    level=$((level + 1))
    for folder in $folders; do levels[${folder%/}]=$level; done
  done < <(sed -n "/<!-- $1 -->/,/<!-- \\/$1 -->/p" "$doc")
  ((level > 1)) || { echo "no layers drawn between <!-- $1 --> and <!-- /$1 --> in $doc" >&2; exit 1; }
}

declare -A layer tool_layer
read_layers layers layer

faults=0
for dir in "$root"/src/*/; do
  folder=$(basename "$dir")
  if [[ -z ${layer[$folder]:-} ]]; then
    echo "src/$folder/ is in no layer of docs/ARCHITECTURE.md" >&2
    faults=$((faults + 1))
    continue
  fi
  # Every quoted include, by its first folder: "../run/run.h" and "run/run.h" both name run/ (the
  # second through an include folder that holds src/). A name alone is a file of the folder's own,
  # a public header (include/) or one the build makes.
  while IFS=: read -r file number text; do
    included=$(sed -nE 's|.*#include "([^"]+)".*|\1|p' <<<"$text")
    path=$included
    while [[ $path == ../* ]]; do path=${path#../}; done
    if [[ $path != */* ]]; then
      [[ $included == "$path" ]] && continue  # the folder's own, a public header or a made one
      echo "${file#"$root"/}:$number: includes a file outside every folder: $text" >&2
      faults=$((faults + 1))
      continue
    fi
    target=${path%%/*}
    [[ $target == "$folder" && $included == "$path" ]] && continue
    if [[ -z ${layer[$target]:-} ]] || ((layer[$target] <= layer[$folder])); then
      echo "${file#"$root"/}:$number: src/$folder/ includes src/$target/, which is not below it: $text" >&2
      faults=$((faults + 1))
    fi
  done < <(grep -nH '#include "' "$dir"* || true)
done
for file in "$root"/src/*; do
  [[ -f $file && $file != *.def ]] || continue
  echo "${file#"$root"/} lies outside every layer's folder" >&2
  faults=$((faults + 1))
done
product_levels=$level

# The tool's parts and the stand-in name what they include by its folder ("logreader/...",
# "base/..."); a bare name is a file of the stand-in's folder, a public header or one the build makes.
read_layers "tool layers" tool_layer
for dir in "$root"/tools/*/ "$root"/kv8/; do
  folder=$(basename "$dir")
  if [[ -z ${tool_layer[$folder]:-} ]]; then
    echo "${dir#"$root"/} is in no tool layer of docs/ARCHITECTURE.md" >&2
    faults=$((faults + 1))
    continue
  fi
  while IFS=: read -r file number text; do
    included=$(sed -nE 's|.*#include "([^"]+)".*|\1|p' <<<"$text")
    if [[ $included == */* ]]; then
      target=${included%%/*}
    elif [[ -f $root/kv8/$included ]]; then
      target=kv8
    else
      continue  # a public header, the folder's own, or one the build makes
    fi
    [[ $target == "$folder" ]] && continue
    if [[ -z ${tool_layer[$target]:-} ]]; then
      echo "${file#"$root"/}:$number: includes a file of no drawn folder: $text" >&2
      faults=$((faults + 1))
    elif ((tool_layer[$target] <= tool_layer[$folder])); then
      echo "${file#"$root"/}:$number: $folder/ includes $target/, which is not below it: $text" >&2
      faults=$((faults + 1))
    fi
  done < <(grep -nH '#include "' "$dir"*.cpp "$dir"*.h 2>/dev/null || true)
done
((faults == 0)) || exit 1
echo "src/: $product_levels layers; tools/ and kv8/: $level layers; every include points down"
