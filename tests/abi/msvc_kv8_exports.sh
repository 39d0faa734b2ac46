#!/usr/bin/env bash
# The export .def of the clang-built analytics library: the statics of KV8.h's classes, under the
# names clang gave them in the object (public static members: '?Name@Class@@S...').
# With OMITTED, the static of that name is left out: a library that lacks one of them.
# Usage: tests/abi/msvc_kv8_exports.sh LLVM_NM OBJECT DEF [OMITTED]
set -euo pipefail
names=$("$1" --defined-only --extern-only "$2" |
  awk -v omitted="${4:-}" '$2 == "T" && $3 ~ /^[?][^@]+@CML[A-Za-z]+@@S/ && (omitted == "" || index($3, "?" omitted "@") != 1) {print "    " $3}')
[ -n "$names" ] || { echo "no statics of KV8.h defined in $2" >&2; exit 1; }
printf 'LIBRARY KV8.dll\nEXPORTS\n%s\n' "$names" >"$3"
