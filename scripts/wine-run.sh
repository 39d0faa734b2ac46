#!/usr/bin/env bash
# Runs a Windows program under Wine for ctest. Wine's exit status cannot be trusted alone (a crash
# has been seen to exit 0), so a GoogleTest program must also print its success line.
set -uo pipefail
source "$(dirname "$0")/wine-env.sh"
output=$(mktemp)
trap 'rm -f "$output"' EXIT
wine "$@" </dev/null >"$output" 2>&1
status=$?
cat "$output"
if [ $status -eq 0 ] && grep -q '^\[==========\] ' "$output" && ! grep -q '^\[  PASSED  \] ' "$output"; then
  echo "wine-run: the program exited 0 without its success line" >&2
  exit 1
fi
exit $status
