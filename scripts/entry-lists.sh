# The lists of entries, for scripts that source this file, as the build read them (cmake/entry_lists.cmake,
# the one reader of cmake/tev_entries.txt and cmake/kv8_statics.txt) into LISTS_DIR, the build's
# generated/ folder; and the names a compiler gives what they list.

# tev_entries LISTS_DIR: "FIELD ADDRESS_EXPRESSION" for each entry of TEVUtil.h, in its order.
tev_entries() {
  cut -d' ' -f1,3- "$1/tev_entries.list"
}

# tev_entry_count LISTS_DIR: how many entries TEV exports (each under two names on Windows).
tev_entry_count() {
  wc -l <"$1/tev_entries.list"
}

# kv8_statics LISTS_DIR: "BINDING_NAME FUNCTION ITANIUM MICROSOFT" for each static TEV calls, in the
# order it looks them up.
kv8_statics() {
  cat "$1/kv8_statics.list"
}

# compiled_names HEADER COMPILER [FLAG...] < EXPRESSIONS: the symbol each address expression (one a
# line) refers to once HEADER is compiled by COMPILER, one a line, in the same order, as the
# assembler is given it (with the target's leading underscore, if it has one). Each expression
# initialises a constant of its own, so that its symbol is the one operand of that constant.
compiled_names() {
  local header=$1
  shift
  local work
  work=$(mktemp -d)
  {
    printf '#include "%s"\n' "$header"
    local index=0 expression
    while IFS= read -r expression; do
      printf 'extern "C" void* const tev_probe_%d;\nvoid* const tev_probe_%d = (void*)(%s);\n' \
        "$index" "$index" "$expression"
      index=$((index + 1))
    done
  } >"$work/probe.cpp"
  if "$@" -I"$(dirname "$header")" -S -o "$work/probe.s" "$work/probe.cpp" >&2; then
    # The line after each constant's label holds its operand: ".long NAME", ".quad NAME", quoted
    # where the name holds a '?'.
    awk '/^_?tev_probe_[0-9]+:$/ { index_ = $0; gsub(/[^0-9]/, "", index_); next }
         index_ != "" && $1 ~ /^\.(long|quad)$/ { name = $2; gsub(/"/, "", name); print index_, name; index_ = "" }' \
      "$work/probe.s" | sort -n | cut -d' ' -f2
  else
    rm -rf "$work"
    return 1
  fi
  rm -rf "$work"
}
