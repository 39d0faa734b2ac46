#!/usr/bin/env python3
"""bench/figures.py on a run's output as the suites print it: every figure with a goal becomes a
row (a name's run settings left out, a missed goal shown), the tool's timings are kept as printed,
and only what is between the document's markers changes."""
import os
import subprocess
import sys
import tempfile

FIGURES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "bench", "figures.py")
RUN = """== Timed suites (CPU time per operation: medians over rounds, then over repetitions) ==
LogLine_mean  1 ns 1 ns 11 floor_ns=1k met=0 ns=9k ratio=9 goal: ratio <= 1.25x
LogLine_median  3457 ns  3443 ns  11 floor_ns=1.62k met=1 ns=1.71k ratio=1.08 goal: ratio <= 1.25x
Registry_Lookup/1000_median  9 ns  9 ns  11 allocs=0 floor_ns=325.366 met=0 ns=246.986 ratio=0.77 goal: ns <= 200, allocs = 0
WholeRun/100000/min_time:0.200/repeats:5_median 5 ns 4 ns 5 bytes=5.24278k bytes_growth=1.00141 met=1 ns=24.5975k time_growth=0.54 goal: growth
WholeRun/1000/min_time:0.200/repeats:5_median 4 ns 4 ns 5 bytes=5.2k ns=31.2k ratio=1.9
Goals: 2 met, 1 missed

== Instructions per log line (callgrind) ==
LogLine_Instructions  ours=737 libc=332 met=1 goal: ours <= 1500 per line

== tev log on a 104 MB log (median of 7 interleaved rounds, wall time) ==
  tev log                                    0.53 s   2.12x  goal <= 2x  MISSED

== Windows log line (MinGW-w64 i686 build, under Wine) ==
LogLine_Win32_median  ns=11605 floor_ns=11153 ratio=1.039 met=1 goal: ratio <= 1.3x
"""
EXPECTED = """before
<!-- bench figures -->
| benchmark | figure | goal | |
|---|---|---|---|
| `LogLine` | 1,710 ns, floor 1,620 ns, 1.08x | ratio <= 1.25x | met |
| `Registry_Lookup/1000` | 247 ns, floor 325 ns, 0.77x, 0 allocations | ns <= 200, allocs = 0 | MISSED |
| `WholeRun/100000` | 24,598 ns, 5,243 bytes, time growth 0.54x, memory growth 1.00x | growth | met |
| `LogLine_Instructions` | 737 instructions | ours <= 1500 per line | met |
| `LogLine_Win32` | 11,605 ns, floor 11,153 ns, 1.04x | ratio <= 1.3x | met |

```
tev log on a 104 MB log (median of 7 interleaved rounds, wall time)
  tev log                                    0.53 s   2.12x  goal <= 2x  MISSED
```
<!-- /bench figures -->
after
"""

with tempfile.TemporaryDirectory() as folder:
    run, document = os.path.join(folder, "run.txt"), os.path.join(folder, "doc.md")
    with open(run, "w") as f:
        f.write(RUN)
    with open(document, "w") as f:
        f.write("before\n<!-- bench figures -->\nstale\n<!-- /bench figures -->\nafter\n")
    done = subprocess.run([sys.executable, FIGURES, run, document], capture_output=True, text=True)
    with open(document) as f:
        written = f.read()
if done.returncode != 0 or written != EXPECTED:
    print(done.stdout + done.stderr)
    print("FAIL: the figures written are not as expected:\n" + written)
    print("0 passed, 1 failed")
    sys.exit(1)
print("1 passed, 0 failed")
