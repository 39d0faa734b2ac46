# The lists of entries, for scripts that source this file: TEVUtil's entries (cmake/tev_entries.txt)
# and the analytics library's statics that TEV calls (cmake/kv8_entries.txt), and the names a
# compiler gives what they list.

# list_lines FILE: the list's lines, without its comments and blank lines.
list_lines() {
  grep -v -e '^[[:space:]]*#' -e '^[[:space:]]*$' "$1"
}

# tev_entries SOURCE_DIR: "FIELD ADDRESS_EXPRESSION" for each entry of TEVUtil.h, in its order.
tev_entries() {
  list_lines "$1/cmake/tev_entries.txt" | sed 's/[[:space:]][[:space:]]*/ /'
}

# tev_entry_count SOURCE_DIR: how many entries TEV exports (each under two names on Windows).
tev_entry_count() {
  tev_entries "$1" | wc -l
}

# kv8_statics SOURCE_DIR: "BINDING_NAME FUNCTION ITANIUM MICROSOFT" for each static TEV calls, in the
# order it looks them up.
kv8_statics() {
  list_lines "$1/cmake/kv8_entries.txt" | tr -s ' \t' ' ' | sed 's/ $//'
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
