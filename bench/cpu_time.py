#!/usr/bin/env python3
"""Runs a command, its output to /dev/null (or to FILE with -o FILE), and prints the CPU time it
used (user and system, in seconds, from the kernel's accounting to the microsecond) and its peak
resident memory in KB: "SECONDS KB". The command's own exit status is no concern here.

Usage: bench/cpu_time.py [-o FILE] COMMAND [ARG...]
"""
import os
import sys

args = sys.argv[1:]
output = os.devnull
if args[:1] == ["-o"]:
    output, args = args[1], args[2:]
pid = os.fork()
if pid == 0:
    fd = os.open(output, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
    os.dup2(fd, 1)
    null = os.open(os.devnull, os.O_WRONLY)
    os.dup2(null, 2)
    try:
        os.execvp(args[0], args)
    finally:
        os._exit(127)
_, _, usage = os.wait4(pid, 0)
print(f"{usage.ru_utime + usage.ru_stime:.6f} {usage.ru_maxrss}")
