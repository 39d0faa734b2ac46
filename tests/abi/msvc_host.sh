#!/usr/bin/env bash
# TEV.dll as an installer built by Microsoft's toolchain sees it: tev_msvc_host.exe (clang, MSVC
# ABI, no C runtime) calls every entry through its decorated name, three times:
#  - beside the MinGW-built TEV.dll and the stand-in KV8.dll, as built ("reporting");
#  - in a folder with copies of the host and TEV.dll and no KV8.dll ("absent");
#  - the same with a KV8.dll that lacks one of the statics TEV calls ("incomplete").
# In the last two the host must start and end normally, every run refused. Checked here:
#  - the program imports exactly the decorated names of src/TEV.def from TEV.dll;
#  - it printed its success line and exited 0 (Wine's status alone is not trusted);
#  - the stand-in's outbox holds exactly msvc_host.outbox.jsonl (no outbox where it is refused,
#    and nothing at all called in the incomplete library);
#  - the diagnostic log in the run's own temporary directory is UTF-16LE without a byte-order
#    mark, CR LF lines, each stamped with the UTC time of the run, and says msvc_host.log.txt
#    (msvc_host.absent.log.txt and msvc_host.incomplete.log.txt where it is refused: the start-up
#    that failed, and why the library cannot be called).
# Usage: tests/abi/msvc_host.sh SOURCE_DIR BUILD_DIR [INCOMPLETE_KV8_DLL]
# (the incomplete library defaults to the one BUILD_DIR's ABI checks make)
set -euo pipefail
source_dir=$1
build_dir=$2
incomplete_kv8=${3:-$build_dir/tests/abi/objects/incomplete/KV8.dll}
here="$source_dir/tests/abi"
host="$build_dir/bin/tev_msvc_host.exe"
failures=0
fields=()
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
windows_path() { local path; path=$(realpath -m "$1"); echo "Z:${path//\//\\}"; }

# Every entry, each through its decorated name.
imported=$(llvm-readobj --coff-imports "$host" |
  awk '/^ *Name: /{dll=$2} dll=="TEV.dll" && /^ *Symbol: /{print $2}' | sort)
declared=$(sed -n 's/^ *\([?][^=]*\)=.*$/\1/p' "$source_dir/src/TEV.def" | sort)
diff -u <(echo "$declared") <(echo "$imported") || fail "the host does not import every entry of TEV.def by its decorated name"

# run_host NAME PROGRAM [VARIABLE=VALUE...]: runs the host in build/.../abi/msvc_host/NAME, with its
# outbox, output and temporary directory there, and checks what it left against the expected files.
# Wine takes TMP and TEMP from its registry, not from the Unix environment: the host sets them from
# TEV_ABI_TEMP before its first call into TEV.
run_host() {
  local name=$1 program=$2
  shift 2
  local work="$build_dir/tests/abi/msvc_host/$name"
  local expected_outbox="$here/msvc_host.outbox.jsonl" expected_log="$here/msvc_host.log.txt"
  [ "$name" = reporting ] || expected_outbox=/dev/null expected_log="$here/msvc_host.$name.log.txt"
  mkdir -p "$work/temp"
  echo "== $name"
  started=$(date -u +%s)
  status=0
  env "$@" KV8_OUTBOX="$(windows_path "$work/outbox.jsonl")" KV8_USER_ID=tev-abi-user-0001 \
    TEV_ABI_TEMP="$(windows_path "$work/temp")" \
    wine "$program" </dev/null >"$work/stdout" 2>"$work/stderr" || status=$?
  ended=$(date -u +%s)
  cat "$work/stdout"
  [ "$status" -eq 0 ] || { cat "$work/stderr"; fail "$name: the host exited with status $status"; }
  grep -qxF "msvc host: every entry called through its decorated name, every result as expected" "$work/stdout" ||
    fail "$name: the host did not print its success line"

  # What the analytics library was handed.
  if [ -f "$work/outbox.jsonl" ]; then
    diff -u "$expected_outbox" "$work/outbox.jsonl" || fail "$name: the outbox differs from $(basename "$expected_outbox")"
  elif [ "$expected_outbox" != /dev/null ]; then
    fail "$name: no outbox was written"
  fi

  # The diagnostic log, decoded here rather than by the tool, which the Windows build does not need.
  log="$work/temp/Setup_TEV.log"
  if [ ! -f "$log" ]; then
    fail "$name: no Setup_TEV.log in the host's temporary directory"
  else
    [ $(($(stat -c %s "$log") % 2)) -eq 0 ] || fail "the log has an odd number of bytes"
    [ "$(head -c 2 "$log" | od -An -tx1 | tr -d ' ')" != "fffe" ] || fail "the log begins with a byte-order mark"
    if ! text=$(iconv -f UTF-16LE -t UTF-8 "$log"); then
      fail "the log is not UTF-16LE"
    else
      [ "$(tail -c 4 "$log" | od -An -tx1 | tr -d ' ')" = "0d000a00" ] || fail "the log does not end with CR LF"
      stamp='^([0-9]+)/([0-9]+)/([0-9]+); ([0-9]+):([0-9]+):([0-9]+); (.*)'$'\r''$'
      fields=()
      while IFS= read -r line; do
        if [[ $line =~ $stamp ]]; then
          month=${BASH_REMATCH[1]} day=${BASH_REMATCH[2]} year=${BASH_REMATCH[3]}
          hour=${BASH_REMATCH[4]} minute=${BASH_REMATCH[5]} second=${BASH_REMATCH[6]}
          fields+=("${BASH_REMATCH[7]}")
          # "%d": no leading zeros; and the time is the UTC time of this run.
          for number in "$month" "$day" "$hour" "$minute" "$second"; do
            [[ $number =~ ^(0|[1-9][0-9]*)$ ]] || fail "leading zero in the time of: $line"
          done
          at=$(date -u -d "$year-$month-$day $hour:$minute:$second" +%s 2>/dev/null) || at=0
          [ "$at" -ge "$started" ] && [ "$at" -le "$ended" ] || fail "time outside the run ($started..$ended): $line"
        else
          fail "log line without its time stamp or CR LF: $line"
          fields+=("$line")
        fi
      done <<<"$text"
      # {folder}: the host's folder, as TEV names the library it found there.
      diff -u <(folder=$(windows_path "$work") && sed "s|{folder}|${folder//\\/\\\\}|" "$expected_log") \
        <(printf '%s\n' "${fields[@]}") || fail "$name: the log differs from $(basename "$expected_log")"
    fi
  fi
  waypoints=0
  [ ! -f "$work/outbox.jsonl" ] || waypoints=$(wc -l <"$work/outbox.jsonl")
  echo "$name: outbox: $waypoints waypoints; log: ${#fields[@]} lines"
}

source "$source_dir/scripts/wine-env.sh"
rm -rf "$build_dir/tests/abi/msvc_host"
run_host reporting "$host"

# Copies of the host and TEV.dll in folders of their own: no KV8.dll, then an incomplete one that
# records any call it receives (there must be none).
for name in absent incomplete; do
  folder="$build_dir/tests/abi/msvc_host/$name"
  mkdir -p "$folder"
  cp "$host" "$build_dir/bin/TEV.dll" "$folder/"
done
cp "$incomplete_kv8" "$build_dir/tests/abi/msvc_host/incomplete/"
run_host absent "$build_dir/tests/abi/msvc_host/absent/tev_msvc_host.exe" TEV_ABI_REFUSED=1
record="$build_dir/tests/abi/msvc_host/incomplete/record.txt"
run_host incomplete "$build_dir/tests/abi/msvc_host/incomplete/tev_msvc_host.exe" TEV_ABI_REFUSED=1 \
  KV8_RECORD="$(windows_path "$record")"
[ ! -f "$record" ] || { cat "$record"; fail "incomplete: TEV called into a library it should not have bound"; }

if [ "$failures" -eq 0 ]; then echo "1 passed, 0 failed"; else echo "0 passed, 1 failed"; exit 1; fi
