#!/usr/bin/env bash
# The tool's log reading at scale, each figure against a floor timed in the same rounds (CPU time,
# the kernel's accounting; the ratio of each round, then their median): a 100 MB log decoded to
# text against a word-at-a-time UTF-16LE to UTF-8 converter that splits records (tev_log_floor;
# goal: within 1.5x) and to JSON against the same converter writing JSON fields (goal: within
# 1.3x); the summary of many runs and of 100,000 open downloads against the plain decode of the
# same log (goal: within 1.3x; the open downloads under 16 MB); a folder of 10,000 logs against
# the floor over the same files (goal: within 2x); the summary and the page of one long run (goals:
# the summary within 1.5x, both under 64 MB, the page under 5 MB); the summary of a folder of 1,000
# and of 10,000 logs (goal: peak memory flat in the number of logs); one record of 100, 200 and
# 400 MB (goal: time linear, memory bounded); a 300 MB log re-saved as UTF-8 (goal: under 64 MB).
# Usage: bench/tool_log.sh BUILD_DIR   (a release build: bench/tool_log.sh build/release)
set -euo pipefail

build=${1:?usage: bench/tool_log.sh BUILD_DIR}
tev="$build/tools/tev/tev"
floor="$build/bench/tev_log_floor"
cpu="$(dirname "$0")/cpu_time.py"
for program in "$tev" "$floor"; do
  if [ ! -x "$program" ]; then
    echo "bench/tool_log.sh: $program is missing; build the release preset first" >&2
    exit 2
  fi
done
for program in iconv /usr/bin/time python3; do
  command -v "$program" >/dev/null || { echo "bench/tool_log.sh: $program is missing" >&2; exit 2; }
done
scratch=$(mktemp -d "${TMPDIR:-/tmp}/tev-tool-bench.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

# One log of the default run, repeated to 100 MB: the records of a long setup.
"$tev" run --log-dir "$scratch" >/dev/null
one="$scratch/Setup_TEV.log"
big="$scratch/big.log"
copies=$(( (100 * 1024 * 1024 + $(stat -c %s "$one") - 1) / $(stat -c %s "$one") ))
seq "$copies" | sed "s|.*|$one|" | xargs cat >"$big"

# Rounds: each command of a pair, in turn, its CPU time and peak memory ("SECONDS KB") written
# to $scratch/times as "NAME SECONDS KB"; the side that goes first alternates from round to round,
# so that a busy spell of the shared machine falls on both.
rounds=7
: >"$scratch/times"
paired() {  # NAME COMMAND... -- FLOOR_NAME FLOOR_COMMAND...
  local name=$1; shift
  local -a figure=() floor_command=()
  while [ "$1" != -- ]; do figure+=("$1"); shift; done
  shift
  local floor_name=$1; shift
  floor_command=("$@")
  if [ $(( $(wc -l <"$scratch/times") / 2 % 2 )) -eq 0 ]; then
    echo "$name $("$cpu" "${figure[@]}")" >>"$scratch/times"
    echo "$floor_name $("$cpu" "${floor_command[@]}")" >>"$scratch/times"
  else
    echo "$floor_name $("$cpu" "${floor_command[@]}")" >>"$scratch/times"
    echo "$name $("$cpu" "${figure[@]}")" >>"$scratch/times"
  fi
}
# The figure's median time, its floor's, the median of the rounds' ratios, and the figure's median
# peak memory, from $scratch/times.
ratio() {  # NAME FLOOR_NAME
  python3 - "$scratch/times" "$1" "$2" <<'PY'
import statistics, sys
rows = [line.split() for line in open(sys.argv[1])]
a = [(float(r[1]), int(r[2])) for r in rows if r[0] == sys.argv[2]]
b = [float(r[1]) for r in rows if r[0] == sys.argv[3]]
print("%.3f %.3f %.2f %d" % (statistics.median(t for t, _ in a), statistics.median(b),
                             statistics.median(x[0] / y for x, y in zip(a, b)),
                             statistics.median(k for _, k in a)))
PY
}
# One line of figures: LABEL TIME FLOOR RATIO GOAL_RATIO [KB GOAL_MB]
report() {
  awk -v l="$1" -v t="$2" -v f="$3" -v r="$4" -v g="$5" -v kb="${6:-}" -v gm="${7:-}" 'BEGIN {
    line = sprintf("  %-38s %6.3f s  floor %6.3f s  %5.2fx  goal <= %sx  %s", l, t, f, r, g, r <= g ? "met" : "MISSED")
    if (gm != "") line = line sprintf(", %5.1f MB  goal <= %s MB  %s", kb / 1024, gm, kb / 1024 <= gm ? "met" : "MISSED")
    print line }'
}

for _ in $(seq $rounds); do
  paired text "$tev" log "$big" -- floor "$floor" "$big"
  paired json "$tev" log --json "$big" -- json_floor "$floor" --json "$big"
  paired iconv iconv -f UTF-16LE -t UTF-8 "$big" -- floor2 "$floor" "$big"
done
echo "== tev log on a $(($(stat -c %s "$big") / 1000 / 1000)) MB log against its floors (CPU time, median of $rounds paired rounds) =="
read -r t f r _ < <(ratio text floor)
report "tev log" "$t" "$f" "$r" 1.5
read -r t f r _ < <(ratio json json_floor)
report "tev log --json (floor: JSON fields)" "$t" "$f" "$r" 1.3
read -r t f r _ < <(ratio iconv floor2)
awk -v t="$t" -v f="$f" -v r="$r" 'BEGIN { printf "  %-38s %6.3f s  floor %6.3f s  %5.2fx  (for comparison)\n", "iconv -f UTF-16LE -t UTF-8", t, f, r }'

# The summary against the plain decode of the same log: many runs (the 100 MB log above) and
# 100,000 downloads begun and never ended (whose summary must stay small).
open="$scratch/open.log"
awk 'BEGIN {
  printf "1/2/2016; 3:0:0; InitML;\r\n"
  for (i = 0; i < 100000; i++)
    printf "1/2/2016; 3:%d:%d; DownloadBegin;https://downloads.example.com/studio/file%06d.cab;\r\n", int(i / 60) % 60, i % 60, i
  }' | iconv -f UTF-8 -t UTF-16LE >"$open"
for _ in $(seq $rounds); do
  paired runs_summary "$tev" log --summary "$big" -- runs_plain "$tev" log "$big"
  paired open_summary "$tev" log --summary "$open" -- open_plain "$tev" log "$open"
done
echo
echo "== tev log --summary against the plain decode of the same log (CPU time, median of $rounds paired rounds) =="
read -r t f r _ < <(ratio runs_summary runs_plain)
report "many runs ($(($(stat -c %s "$big") / 1000 / 1000)) MB)" "$t" "$f" "$r" 1.3
read -r t f r kb < <(ratio open_summary open_plain)
report "100,000 open downloads" "$t" "$f" "$r" 1.3 "$kb" 16

# A folder of 10,000 logs of 2 KB (hard links of the default run's log) against the floor
# reading the same files.
mkdir -p "$scratch/folder"
for i in $(seq 10000); do ln "$one" "$scratch/folder/$i.log"; done
for _ in $(seq $rounds); do
  paired folder "$tev" log "$scratch/folder" -- folder_floor "$floor" "$scratch/folder"
done
rm -rf "$scratch/folder"
echo
echo "== tev log on a folder of 10,000 logs against the floor over the same files (CPU time, median of $rounds paired rounds) =="
read -r t f r _ < <(ratio folder folder_floor)
report "tev log (10,000 logs)" "$t" "$f" "$r" 2

# GNU time's last line; the program's own status (tev log --summary gives 3 for a failed run) is
# no concern here.
seconds() { /usr/bin/time -f %e "$@" 2>&1 >/dev/null | tail -1 || true; }

# The summary and the page at scale. Three logs: one run of at least 500 MB (a setup's events over
# and over: warnings, downloads of 500 files, an installation, now and then a failed download), the
# 100 MB log above (the default run concatenated: some 40,000 runs), and 100,000 downloads begun
# and never ended. Each is decoded plainly, summarized and made a page in interleaved rounds.
awk 'BEGIN {
  for (i = 0; i < 5000; i++) {
    t = sprintf("1/2/2016; %d:%d:%d; ", 3 + int(i / 3600), int(i / 60) % 60, i % 60)
    url = sprintf("https://downloads.example.com/studio/part%03d.cab", i % 500)
    printf "%swpWarning;low disk space on C:;\r\n", t
    printf "%sDownloadBegin;%s;\r\n", t, url
    if (i % 997 == 0) printf "%sDownloadError;%s;the connection was reset;\r\n", t, url
    else printf "%sDownloadEnd;%s;\r\n", t, url
    printf "%sInstallBegin;Studio;\r\n%sInstallEnd;Studio;\r\n", t, t
  } }' | iconv -f UTF-8 -t UTF-16LE >"$scratch/chunk"
long="$scratch/long.log"
chunks=$(( (500 * 1024 * 1024 + $(stat -c %s "$scratch/chunk") - 1) / $(stat -c %s "$scratch/chunk") ))
{
  printf '1/2/2016; 3:0:0; InitML;\r\n' | iconv -f UTF-8 -t UTF-16LE
  seq "$chunks" | sed "s|.*|$scratch/chunk|" | xargs cat
  printf '1/2/2016; 9:0:0; ShutdownML;\r\n' | iconv -f UTF-8 -t UTF-16LE
} >"$long"
rm "$scratch/chunk"

# Wall time (to the millisecond: the open downloads take a few hundredths of a second) and GNU
# time's peak resident memory (KB).
measure() {
  local start kb
  start=$(date +%s%N)
  kb=$(/usr/bin/time -f %M "$@" 2>&1 >"$scratch/output" | tail -1 || true)
  echo "$(( ($(date +%s%N) - start) / 1000000 ))e-3 $kb"
}
: >"$scratch/scale"
for _ in 1 2 3; do
  for name in long runs open; do
    file=$([ $name = long ] && echo "$long" || { [ $name = runs ] && echo "$big" || echo "$open"; })
    echo "$name plain $(measure "$tev" log "$file")" >>"$scratch/scale"
    echo "$name summary $(measure "$tev" log --summary "$file")" >>"$scratch/scale"
    echo "$name page $(measure "$tev" log --html "$file") $(stat -c %s "$scratch/output")" >>"$scratch/scale"
  done
done
rm "$scratch/output"
echo
echo "== tev log --summary and --html against the plain decode of the same log (wall time, median of 3 rounds) =="
for name in long runs open; do
  file=$([ $name = long ] && echo "$long" || { [ $name = runs ] && echo "$big" || echo "$open"; })
  mb=$(($(stat -c %s "$file") / 1000 / 1000))
  awk -v n="$name" -v mb="$mb" '
    function median(list, count,   i, j, t) {
      for (i = 1; i <= count; i++) for (j = i + 1; j <= count; j++) if (list[j] < list[i]) { t = list[i]; list[i] = list[j]; list[j] = t }
      return list[int((count + 1) / 2)] }
    $1 == n && $2 == "plain" { p[++np] = $3 }
    $1 == n && $2 == "summary" { s[++ns] = $3; sm[ns] = $4 }
    $1 == n && $2 == "page" { hm[++nh] = $4; hb[nh] = $5 }
    END {
      label = n == "long" ? "one run" : n == "runs" ? "many runs" : "100,000 open downloads"
      plain = median(p, np); summary = median(s, ns); ratio = summary / (plain > 0 ? plain : 0.01)
      smem = median(sm, ns) / 1024; hmem = median(hm, nh) / 1024; page = median(hb, nh) / 1e6
      if (n == "long")
        printf "  %-24s %4d MB  decode %6.3f s  --summary %6.3f s %5.2fx (goal <= 1.5x: %s), %5.1f MB (< 64: %s)\n",
          label, mb, plain, summary, ratio, ratio <= 1.5 ? "met" : "MISSED", smem, smem < 64 ? "met" : "MISSED"
      else  # its goal is that of the CPU time, above
        printf "  %-24s %4d MB  decode %6.3f s  --summary %6.3f s %5.2fx (wall time), %5.1f MB (< 64: %s)\n",
          label, mb, plain, summary, ratio, smem, smem < 64 ? "met" : "MISSED"
      printf "  %-24s %4s     --html %5.1f MB peak (< 64: %s), a page of %4.2f MB (< 5: %s)\n",
        "", "", hmem, hmem < 64 ? "met" : "MISSED", page, page < 5 ? "met" : "MISSED" }' "$scratch/scale"
done
rm "$long" "$open"

peak() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -1 || true; }

# Logs made to hurt the reader: 160,000 downloads whose URLs were made to share a slot of the
# summary's table under an unkeyed hash (goal: --summary within 3x the plain decode), one run of a
# thousand downloads and installations with long texts that escape to six bytes a character (goal:
# the page under 64 MB), and a chain of folders 2,000 deep (goal: memory flat in the depth).
echo
echo "== tev log on logs made to hurt it (wall time, peak resident memory) =="
crafted="$scratch/crafted.log"
python3 "$(dirname "$0")/colliding_urls.py" 160000 >"$crafted"
# A tenth of a second is a few clock ticks of /usr/bin/time: the median of five rounds of each.
median_of_five() {
  for _ in 1 2 3 4 5; do /usr/bin/time -f "%e %M" "$@" 2>&1 >/dev/null | tail -1 || true; done |
    sort -n | sed -n 3p
}
plain=$(median_of_five "$tev" log "$crafted")
summary=$(median_of_five "$tev" log --summary "$crafted")
awk -v p="$plain" -v s="$summary" 'BEGIN {
  split(p, a, " "); split(s, b, " "); r = b[1] / (a[1] > 0 ? a[1] : 0.01)
  printf "  %-40s %6.2f s  %7d KB\n", "160,000 crafted URLs, decode", a[1], a[2]
  printf "  %-40s %6.2f s  %7d KB  %5.2fx  goal <= 3x  %s\n", "160,000 crafted URLs, --summary", b[1], b[2], r, r <= 3 ? "met" : "MISSED" }'
rm "$crafted"
python3 - "$scratch/wide.log" <<'PY'
import sys
with open(sys.argv[1], "wb") as out:
    line = lambda text: out.write((text + "\r\n").encode("utf-16-le"))
    text = lambda prefix, i: ("%s%05d-" % (prefix, i)).ljust(1024, "\u2066")
    line("1/2/2016; 3:0:0; InitML;")
    for i in range(1000):
        for kind, prefix in (("Download", "https://d.example/"), ("Install", "Product ")):
            line("1/2/2016; 3:%d:%d; %sBegin;%s;" % (i // 60 % 60, i % 60, kind, text(prefix, i)))
            line("1/2/2016; 3:%d:%d; %sEnd;%s;" % (i // 60 % 60, i % 60, kind, text(prefix, i)))
    for i in range(200):
        line("1/2/2016; 4:0:%d; wpWarning;%s;" % (i % 60, text("warning ", i)))
        line("1/2/2016; 4:0:%d; DownloadError;%s;%s;" % (i % 60, text("https://e.example/", i), text("reason ", i)))
    line("1/2/2016; 5:0:0; ShutdownML;")
PY
page=$(/usr/bin/time -f "%e %M" "$tev" log --html "$scratch/wide.log" 2>&1 >/dev/null | tail -1 || true)
awk -v m="$page" 'BEGIN { split(m, v, " ")
  printf "  %-40s %6.2f s  %7d KB  goal < 64 MB  %s\n", "--html of one wide run", v[1], v[2], v[2] < 65536 ? "met" : "MISSED" }'
rm "$scratch/wide.log"
for depth in 500 2000; do
  chain="$scratch/chain$depth"
  (mkdir -p "$chain" && cd "$chain" && for _ in $(seq "$depth"); do mkdir d && cd d; done && cp "$one" deepest.log)
  kb=$(peak "$tev" log --summary "$chain")
  echo "$depth $kb" >>"$scratch/chains"
  printf "  %-40s %10s%7d KB\n" "a chain of $depth folders" "" "$kb"
  rm -rf "$chain"
done
awk 'NR == 1 { a = $2 } NR == 2 { b = $2 } END { r = b / a
  printf "  %-40s %6.2fx  goal <= 1.2x  %s\n", "2,000 deep against 500", r, r <= 1.2 ? "met" : "MISSED" }' "$scratch/chains"

# Folders of logs, hard links of the one log: the summary reads each whole.
echo
echo "== tev log --summary --json on a folder of logs (peak resident memory) =="
for count in 1000 10000; do
  mkdir -p "$scratch/logs$count"
  for i in $(seq $count); do ln "$one" "$scratch/logs$count/$i.log"; done
  kb=$(peak "$tev" log --summary --json "$scratch/logs$count")
  echo "$count $kb" >>"$scratch/peaks"
  printf "  %-40s %6d KB\n" "$count logs" "$kb"
done
awk 'NR == 1 { a = $2 } NR == 2 { b = $2 } END {
  r = b / a
  printf "  %-40s %6.2fx  goal <= 1.1x  %s\n", "10,000 logs against 1,000", r, r <= 1.1 ? "met" : "MISSED" }' "$scratch/peaks"

# One record of every line: an installer's verbose log (UTF-16LE with its mark, CR LF lines none of
# which begins with a date) beside the logs, read as one. Made from a chunk of about 1 MB repeated.
echo
echo "== tev log on one record of 100, 200 and 400 MB (wall time, peak resident memory) =="
chunk="$scratch/chunk"
seq 7500 | awk '{ printf "MSI (s) (A4:B8) [12:34:56:789]: Doing action: InstallFiles, step %d\r\n", $1 }' |
  iconv -f UTF-8 -t UTF-16LE >"$chunk"
: >"$scratch/long.times"
for mb in 100 200 400; do
  # A warning whose text is a pasted verbose log: no line of it begins with a date.
  { printf '\xFF\xFE'; printf '1/2/2016; 3:4:5; wpWarning;' | iconv -f UTF-8 -t UTF-16LE
    for _ in $(seq "$mb"); do cat "$chunk"; done; } >"$scratch/long.log"
  measured=$(/usr/bin/time -f "%e %M" "$tev" log "$scratch/long.log" 2>&1 >/dev/null | tail -1 || true)
  echo "$mb $measured" >>"$scratch/long.times"
  printf "  %-40s %6.2f s  %7d KB\n" "$mb MB" ${measured% *} ${measured#* }
done
rm -f "$scratch/long.log"
awk 'NR == 1 { t1 = $2 } NR == 3 { t4 = $2 } { if ($3 > peak) peak = $3 } END {
  r = (t4 / 4) / (t1 > 0 ? t1 : 0.01)
  printf "  %-40s %6.2fx  goal <= 1.5x  %s\n", "time per MB, 400 MB against 100 MB", r, r <= 1.5 ? "met" : "MISSED"
  printf "  %-40s %6d KB  goal < 64 MB  %s\n", "peak", peak, peak < 65536 ? "met" : "MISSED" }' "$scratch/long.times"

# A log re-saved by an editor as UTF-8: the 100 MB log converted, repeated to 300 MB.
echo
echo "== tev log on a 300 MB log re-saved as UTF-8 (wall time, peak resident memory) =="
iconv -f UTF-16LE -t UTF-8 "$big" >"$scratch/one.utf8"
copies=$(( (300 * 1000 * 1000 + $(stat -c %s "$scratch/one.utf8") - 1) / $(stat -c %s "$scratch/one.utf8") ))
for _ in $(seq "$copies"); do cat "$scratch/one.utf8"; done >"$scratch/utf8.log"
measured=$(/usr/bin/time -f "%e %M" "$tev" log "$scratch/utf8.log" 2>&1 >/dev/null | tail -1 || true)
awk -v m="$measured" -v size="$(( $(stat -c %s "$scratch/utf8.log") / 1000 / 1000 ))" 'BEGIN {
  split(m, v, " ")
  printf "  %-40s %6.2f s  %7d KB  goal < 64 MB  %s\n", size " MB", v[1], v[2], v[2] < 65536 ? "met" : "MISSED" }'
rm -f "$scratch/utf8.log" "$scratch/one.utf8"
