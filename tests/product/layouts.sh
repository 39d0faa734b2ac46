#!/usr/bin/env bash
# Where the analytics library is found, for each way an installer lays out its files: a host
# (tests/layout_host.cpp) loads TEV from its folder or a subfolder and starts a run with the log
# on; each row gives the files in each place and what InitML answers and the log says. Each row
# is what a static import of the library would decide, without the current folder, PATH or
# LD_LIBRARY_PATH; none may block (each run has a time limit). Then the bytes a script may pass as
# a bool: any byte but 0 is true.
# Usage: tests/product/layouts.sh native|wine WORK HOST TEV STANDIN LACKING FIRST_STATIC
#   LACKING: a library of the analytics library's file name that lacks the static FIRST_STATIC.
set -uo pipefail
mode=$1 work=$2 host=$3 tev=$4 standin=$5 lacking=$6 first_static=$7
if [ "$mode" = wine ]; then
  source "$(dirname "$0")/../../scripts/wine-env.sh"
  kv8=KV8.dll tev_file=TEV.dll host_file=host.exe sep='\'
else
  kv8=libkv8.so tev_file=libtev.so host_file=host sep=/
fi
passed=0 failed=0
rm -rf "$work" && mkdir -p "$work"

# The name a place has in the log: a Windows path under Wine.
shown() { local path; path=$(realpath -m "$1"); [ "$mode" = wine ] && path="Z:${path//\//\\}"; echo "$path"; }

# put ROOT PLACE:KIND: makes the library's file in ROOT/PLACE as the stand-in, the library lacking
# a static, a directory or a named pipe.
put() {
  local folder=$1/${2%%:*} kind=${2#*:}
  mkdir -p "$folder"
  case $kind in
    standin) cp "$standin" "$folder/$kv8" ;;
    lacking) cp "$lacking" "$folder/$kv8" ;;
    dir) mkdir "$folder/$kv8" ;;
    fifo) mkfifo "$folder/$kv8" ;;
  esac
}

# launch ROOT CWD ENV ARGS...: the host in ROOT, from the folder CWD, with ENV (NAME=FOLDER, the
# folder under ROOT, or NAME=VALUE), ROOT/temp its temporary folder; its output in ROOT/out.
launch() {
  local root=$1 cwd=$2 env=$3 name value
  shift 3
  mkdir -p "$root/temp" "$root/$cwd"
  name=${env%%=*} value=${env#*=}
  [[ $value =~ ^[a-z]+$ ]] && [ -d "$root/$value" ] && value=$(shown "$root/$value")
  if [ "$mode" = wine ]; then
    local temp set_env=""
    temp=$(shown "$root/temp")
    [ -z "$env" ] || set_env="set $name=$value;%$name%&& "
    (cd "$root/$cwd" && KV8_OUTBOX=$(shown "$root/outbox") timeout 60 wine cmd /c \
      "set TMP=$temp&& set TEMP=$temp&& $set_env$(shown "$root/$host_file") $*" </dev/null >"$root/out" 2>&1)
  else
    (cd "$root/$cwd" && export TMPDIR=$root/temp KV8_OUTBOX=$root/outbox ${env:+$name=$value} &&
       timeout 60 "$root/$host_file" "$@" </dev/null >"$root/out" 2>&1)
  fi
}

# The log's lines without their times, or "(no log)".
log_fields() {
  [ -f "$1/temp/Setup_TEV.log" ] || { echo "(no log)"; return; }
  iconv -f UTF-16LE -t UTF-8 "$1/temp/Setup_TEV.log" | tr -d '\r' | sed 's/^[^;]*; [^;]*; //'
}

check() {
  local what=$1 expected=$2 got=$3
  if [ "$expected" = "$got" ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    printf 'FAIL: %s\n  expected: %s\n  got:      %s\n' "$what" "$expected" "$got"
  fi
}

# row WHAT TEV_PLACE "PLACE:KIND..." PRELOAD CWD ENV INITML SECOND_LINE
#   TEV_PLACE: where TEV is (. the host's folder); "name" alone: TEV in the current folder, loaded
#   by its name alone. PRELOAD: a place whose library the host loads before TEV, or -. In
#   SECOND_LINE, {sub} and {.} stand for those folders as the log names them.
n=0
row() {
  local what=$1 tev_place=$2 files=$3 preload=$4 cwd=$5 env=$6 initml=$7 line=$8
  local root="$work/$((n += 1))" argument placed
  mkdir -p "$root"
  cp "$host" "$root/$host_file"
  for placed in $files; do put "$root" "$placed"; done
  if [ "$tev_place" = name ]; then
    mkdir -p "$root/$cwd" && cp "$tev" "$root/$cwd/$tev_file" && argument=$tev_file
  else
    mkdir -p "$root/$tev_place" && cp "$tev" "$root/$tev_place/$tev_file"
    argument=$(shown "$root/$tev_place/$tev_file")
  fi
  local args=("$argument")
  [ "$preload" = - ] || args+=("$(shown "$root/$preload/$kv8")")
  [ "$cwd" != - ] || cwd=.
  [ "$env" != - ] || env=""
  local status=0
  launch "$root" "$cwd" "$env" "${args[@]}" || status=$?
  line=${line//\{sub\}/$(shown "$root/sub")$sep}
  line=${line//\{.\}/$(shown "$root")$sep}
  check "$what: the host" "0 InitML $initml" "$status $(tr -d '\r' <"$root/out")"
  check "$what: the log" "$line" "$(log_fields "$root" | sed -n 2p)"
}

reported="SETUP;a.setup;0;"
not_found="KV8 unavailable;$kv8;not found;"
#   what                                           TEV   files                     preload cwd env  InitML log's 2nd line
row "beside TEV, TEV in a subfolder"               sub   "sub:standin"              -      -   -    1 "$reported"
row "beside the host only"                         sub   ".:standin"                -      -   -    1 "$reported"
row "beside both: TEV's own wins"                  sub   "sub:lacking .:standin"    -      -   -    0 "KV8 unavailable;{sub}$kv8;lacks $first_static;"
row "TEV and the library beside the host"          .     ".:standin"                -      -   -    1 "$reported"
row "already loaded, from elsewhere"               sub   "other:standin"            other  -   -    1 "$reported"
row "already loaded wins over TEV's folder"        sub   "other:standin sub:lacking" other -   -    1 "$reported"
row "nowhere"                                      sub   ""                         -      -   -    0 "$not_found"
row "in the current folder only"                   sub   "cur:standin"              -      cur -    0 "$not_found"
row "a directory beside TEV, one beside the host"  sub   "sub:dir .:standin"        -      -   -    1 "$reported"
row "a pipe beside TEV, one beside the host"       sub   "sub:fifo .:standin"       -      -   -    1 "$reported"
row "a pipe beside the host, one beside TEV"       sub   ".:fifo sub:standin"       -      -   -    1 "$reported"
row "a directory beside TEV, a pipe by the host"   sub   "sub:dir .:fifo"           -      -   -    0 "$not_found"
row "a pipe in the current folder, one beside TEV" sub   "cur:fifo sub:standin"     -      cur -    1 "$reported"
if [ "$mode" = wine ]; then
  row "on PATH only"                               sub   "path:standin"             -      -   PATH=path 0 "$not_found"
  row "a pipe on PATH, one beside TEV"             sub   "path:fifo sub:standin"    -      -   PATH=path 1 "$reported"
else
  row "in an LD_LIBRARY_PATH folder only"          sub   "other:standin"            -      -   LD_LIBRARY_PATH=other 0 "$not_found"
  row "a pipe in LD_LIBRARY_PATH, one beside TEV"  sub   "other:fifo sub:standin"   -      -   LD_LIBRARY_PATH=other 1 "$reported"
  row "a pipe in the current folder, LD_LIBRARY_PATH=:" sub "cur:fifo sub:standin"  -      cur LD_LIBRARY_PATH=: 1 "$reported"
  row "TEV found by LD_LIBRARY_PATH=., the library beside it" name "cur:standin"    -      cur LD_LIBRARY_PATH=. 1 "$reported"
fi

# The bytes a script may pass for a bool, through pointers typed with an int: InitML's turns the
# log on, wpSetupPhase's makes the phase's beginning.
for byte in 0 1 2 3 255; do
  root="$work/byte-$byte"
  mkdir -p "$root/sub"
  cp "$host" "$root/$host_file" && cp "$tev" "$standin" "$root/sub/"
  [ "$(basename "$standin")" = "$kv8" ] || mv "$root/sub/$(basename "$standin")" "$root/sub/$kv8"
  status=0
  launch "$root" . "" "$(shown "$root/sub/$tev_file")" -- "$byte" || status=$?
  if [ "$byte" = 0 ]; then log="(no log)" phase=end; else log=InitML\; phase=begin; fi
  check "byte $byte: the host" "0 InitML($byte) 1" "$status $(tr -d '\r' <"$root/out")"
  check "byte $byte: the log" "$log" "$(log_fields "$root" | sed -n 1p)"
  check "byte $byte: the phase" "wp.setup.initialization.$phase" \
    "$(grep -o '"waypoint":"wp\.setup\.[a-z.]*"' "$root/outbox" | cut -d'"' -f4 | tr '\n' ' ' | sed 's/ $//')"
done

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
