#!/usr/bin/env python3
"""Runs a command, its output to /dev/null (or to FILE with -o FILE), and prints the CPU time it
used (user and system, in seconds, from the kernel's accounting to the microsecond) and its peak
resident memory in KB: "SECONDS KB". The memory is GNU time's (the command runs under
/usr/bin/time, whose own few hundred microseconds are in the CPU time: the same for every command
measured); a Python process's own memory would count for a child it forks. The command's exit
status is no concern here.

Usage: bench/cpu_time.py [-o FILE] COMMAND [ARG...]
"""
import os
import sys
import tempfile

args = sys.argv[1:]
output = os.devnull
if args[:1] == ["-o"]:
    output, args = args[1], args[2:]
with tempfile.NamedTemporaryFile("r") as peak:
    pid = os.fork()
    if pid == 0:
        fd = os.open(output, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
        os.dup2(fd, 1)
        null = os.open(os.devnull, os.O_WRONLY)
        os.dup2(null, 2)
        try:
            os.execv("/usr/bin/time", ["/usr/bin/time", "-f", "%M", "-o", peak.name, *args])
        finally:
            os._exit(127)
    _, _, usage = os.wait4(pid, 0)
    kb = peak.read().strip().splitlines()
print(f"{usage.ru_utime + usage.ru_stime:.6f} {kb[-1] if kb else 0}")
