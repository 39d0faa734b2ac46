#!/usr/bin/env python3
"""Writes the figures of a bench run into a document, between the lines
<!-- bench figures --> and <!-- /bench figures -->: a table of every figure with its goal (from
the medians the suites print, `Name_median ... key=value ... goal: ...`, and the instruction count),
then the tool's log timings as printed. What is between the markers is replaced whole; the rest of
the document is kept as it is. A run with a figure missing its goal still writes (it shows
"missed"); a figure the run did not measure keeps its last row, marked as not measured.

With --tool-log, the run is that of the tool's log reading alone (bench/run.sh BUILD --tool-log):
only the tool's lines are replaced, the table's rows kept as the last whole run wrote them.

Usage: bench/figures.py [--tool-log] RUN_OUTPUT DOCUMENT
"""
import re
import sys

BEGIN, END = "<!-- bench figures -->", "<!-- /bench figures -->"
NOT_RUN = " (not measured in the last run: from an earlier one)"
FIGURE = re.compile(r"^(\S+?)(?:_median)?\s+(.*?)\bgoal: (.*)$")
# How Google Benchmark names a run's settings after the benchmark's own name.
SETTINGS = re.compile(r"/(?:min_time|repeats|iterations):[^/]*")
COUNTER = re.compile(r"\b([a-z_]+)=([-0-9.e+kMG]+)")
# How each counter is shown, in this order; the others are left out.
SHOWN = [("ns", "{} ns"), ("ours", "{} instructions"), ("floor_ns", "floor {} ns"), ("ratio", "{}x"),
         ("allocs", "{} allocations"), ("bytes", "{} bytes"), ("time_growth", "time growth {}x"),
         ("bytes_growth", "memory growth {}x")]


def number(text):
    """Google Benchmark's 1.71k as 1710; a plain number as it is."""
    scale = {"k": 1e3, "M": 1e6, "G": 1e9}.get(text[-1], 1)
    return float(text.rstrip("kMG")) * scale


def shown(key, value):
    if key in ("ratio", "time_growth", "bytes_growth"):
        return f"{value:.2f}"
    return f"{value:,.0f}"


def figures(lines):
    rows, tool_lines, in_tool = [], [], False
    for line in lines:
        line = line.rstrip()
        if line.startswith("== "):
            in_tool = line.startswith("== tev log")
            if in_tool:
                tool_lines.append(line.strip("= "))
            continue
        if in_tool and line.strip():
            tool_lines.append(line)
            continue
        match = FIGURE.match(line)
        if not match or "_mean" in line or "_stddev" in line or "_cv" in line:
            continue
        counters = {key: number(value) for key, value in COUNTER.findall(match.group(2))}
        if "met" not in counters:
            continue
        parts = [form.format(shown(key, counters[key])) for key, form in SHOWN if key in counters]
        rows.append(f"| `{SETTINGS.sub('', match.group(1))}` | {', '.join(parts)} | {match.group(3).strip()} | "
                    f"{'met' if counters['met'] >= 1 else 'MISSED'} |")
    return rows, tool_lines


def kept_rows(block):
    """The table's rows of what is between the markers now."""
    return [line for line in block.splitlines() if line.startswith("| `")]


def main():
    tool_only = sys.argv[1] == "--tool-log"
    run_output, document = sys.argv[1 + tool_only], sys.argv[2 + tool_only]
    with open(run_output, encoding="utf-8", errors="replace") as f:
        rows, tool_lines = figures(f.read().splitlines())
    with open(document, encoding="utf-8") as f:
        text = f.read()
    if BEGIN not in text or END not in text:
        sys.exit(f"bench/figures.py: {document} has no {BEGIN} ... {END}")
    if tool_only:
        if not tool_lines:
            sys.exit(f"bench/figures.py: no line of the tool's in {run_output}")
        rows = kept_rows(text.split(BEGIN, 1)[1].split(END, 1)[0])
    else:
        # A figure this run could not measure (the Windows log line where Wine cannot run) keeps
        # its last row, marked so.
        measured = {row.split("|")[1] for row in rows}
        for row in kept_rows(text.split(BEGIN, 1)[1].split(END, 1)[0]):
            if row.split("|")[1] not in measured:
                cells = row.split("|")
                if NOT_RUN not in cells[2]:
                    cells[2] = cells[2].rstrip() + NOT_RUN + " "
                rows.append("|".join(cells))
    if not rows:
        sys.exit(f"bench/figures.py: no figure in {run_output}")
    block = ["| benchmark | figure | goal | |", "|---|---|---|---|", *rows]
    if tool_lines:
        block += ["", "```", *tool_lines, "```"]
    head, rest = text.split(BEGIN, 1)
    tail = rest.split(END, 1)[1]
    with open(document, "w", encoding="utf-8") as f:
        f.write(head + BEGIN + "\n" + "\n".join(block) + "\n" + END + tail)
    met = sum(row.endswith("| met |") for row in rows)
    print(f"bench/figures.py: {len(rows)} figures ({met} met) written into {document}")


if __name__ == "__main__":
    main()
