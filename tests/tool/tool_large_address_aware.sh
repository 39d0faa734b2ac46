#!/usr/bin/env bash
# tev.exe is large-address-aware: on 64-bit Windows the 32-bit tool may use 4 GB, not 2, before a
# very large log runs it out of memory.
# Usage: tests/tool/tool_large_address_aware.sh TEV_EXE
set -euo pipefail
exe=${1:?usage: tool_large_address_aware.sh TEV_EXE}
source "$(dirname "${BASH_SOURCE[0]}")/../shared/pe.sh"
characteristics=$(pe_characteristics "$exe")
[ -n "$characteristics" ] || { echo "no PE header read from $exe" >&2; exit 1; }
if grep -qx IMAGE_FILE_LARGE_ADDRESS_AWARE <<<"$characteristics"; then
  echo "$exe is large-address-aware"
else
  echo "$exe is not large-address-aware:" >&2
  echo "$characteristics" >&2
  exit 1
fi
