#!/usr/bin/env bash
# The product's folders include only folders below them, in the order the architecture document
# draws between its "layers" markers: one line a layer, top first, folders named with a final "/".
# Folders on one line do not include each other. Usage: layers.sh SOURCE_DIR
set -euo pipefail
root=${1:?usage: layers.sh SOURCE_DIR}
doc="$root/docs/ARCHITECTURE.md"

declare -A layer
level=0
while IFS= read -r line; do
  folders=$(grep -oE '\b[a-z_]+/' <<<"$line" || true)
  [[ -z $folders ]] && continue
  level=$((level + 1))
  for folder in $folders; do layer[${folder%/}]=$level; done
done < <(sed -n '/<!-- layers -->/,/<!-- \/layers -->/p' "$doc")
((level > 1)) || { echo "no layers drawn between <!-- layers --> and <!-- /layers --> in $doc" >&2; exit 1; }

faults=0
for dir in "$root"/src/*/; do
  folder=$(basename "$dir")
  if [[ -z ${layer[$folder]:-} ]]; then
    echo "src/$folder/ is in no layer of docs/ARCHITECTURE.md" >&2
    faults=$((faults + 1))
    continue
  fi
  while IFS=: read -r file number text; do
    target=$(sed -nE 's|.*#include "\.\./([^/"]+)/.*|\1|p' <<<"$text")
    if [[ -z $target ]]; then
      echo "${file#"$root"/}:$number: includes a file outside every folder: $text" >&2
      faults=$((faults + 1))
    elif [[ -z ${layer[$target]:-} ]] || ((layer[$target] <= layer[$folder])); then
      echo "${file#"$root"/}:$number: src/$folder/ includes src/$target/, which is not below it: $text" >&2
      faults=$((faults + 1))
    fi
  done < <(grep -nH '#include "\.\./' "$dir"* || true)
done
for file in "$root"/src/*; do
  [[ -f $file && $file != *.def ]] || continue
  echo "${file#"$root"/} lies outside every layer's folder" >&2
  faults=$((faults + 1))
done
((faults == 0)) || exit 1
echo "src/: $level layers, every include points down"
