#!/usr/bin/env bash
# tev.exe is one file: it imports Windows' own DLLs and nothing of ours (no TEV.dll, no KV8.dll),
# so it starts on any machine, beside the maker's KV8.dll too.
# Usage: tests/tool/tool_imports.sh TEV_EXE
set -euo pipefail
exe=${1:?usage: tool_imports.sh TEV_EXE}
source "$(dirname "${BASH_SOURCE[0]}")/../shared/pe.sh"
imports=$(pe_imports "$exe")
[ -n "$imports" ] || { echo "no import table read from $exe" >&2; exit 1; }
status=0
while read -r dll; do
  case "${dll,,}" in
    kernel32.dll | msvcrt.dll | shell32.dll | shlwapi.dll | version.dll) echo "imports $dll" ;;
    *) echo "imports $dll, which is not one of Windows' own DLLs" >&2; status=1 ;;
  esac
done <<<"$imports"
exit $status
