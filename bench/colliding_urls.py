#!/usr/bin/env python3
"""A log of one run whose downloads' URLs all land in one place of a table found by an unkeyed hash.

The summary once found open downloads by a fixed 64-bit hash that could be undone step by step:
these URLs are made by undoing it, so that every one of them has the same low 24 bits. They show
that the summary's time no longer depends on what the URLs are (bench/tool_log.sh).

Usage: bench/colliding_urls.py COUNT > crafted.log   (UTF-16LE lines ended by CR LF, as TEV writes)
"""
import random
import sys

MASK = (1 << 64) - 1
MIX = 0xFF51AFD7ED558CCD
FINAL = 0xC4CEB9FE1A85EC53
MIX_INVERSE = pow(MIX, -1, 1 << 64)
FINAL_INVERSE = pow(FINAL, -1, 1 << 64)


def mix(state, word):
    state = ((state ^ word) * MIX) & MASK
    return state ^ (state >> 32)


def words(units):
    for at in range(0, len(units), 4):
        yield sum(unit << (16 * i) for i, unit in enumerate(units[at:at + 4]))


def undo_final(value):
    value ^= value >> 33
    value = (value * FINAL_INVERSE) & MASK
    return value ^ (value >> 33)


def usable(unit):
    """A code unit that stands for a character of its own in a field of a log's line."""
    return 0xA0 <= unit < 0xD800 or 0xE000 <= unit < 0xFFF0


def url(index, low_bits, rng):
    """A URL of a multiple of four code units whose hash ends in `low_bits`: its last four code
    units are solved for."""
    prefix = "https://downloads.example.com/f/%07d/" % index
    prefix += "x" * (-len(prefix) % 4)
    units = [ord(c) for c in prefix]
    while True:
        state = 0x9E3779B97F4A7C15 ^ (len(units) + 4)
        for word in words(units):
            state = mix(state, word)
        target = (rng.getrandbits(40) << 24) | low_bits
        before = undo_final(target)
        before ^= before >> 32  # undoes the mixing step's shift
        word = ((before * MIX_INVERSE) & MASK) ^ state
        last = [(word >> (16 * i)) & 0xFFFF for i in range(4)]
        if all(usable(unit) for unit in last):
            return prefix + "".join(chr(unit) for unit in last)


def main():
    count = int(sys.argv[1]) if len(sys.argv) > 1 else 160000
    rng = random.Random(1)
    out = sys.stdout.buffer
    line = lambda text: out.write((text + "\r\n").encode("utf-16-le"))
    line("1/2/2016; 3:0:0; InitML;")
    for i in range(count):
        line("1/2/2016; 3:%d:%d; DownloadBegin;%s;" % (i // 60 % 60, i % 60, url(i, 0xABCDEF, rng)))
    line("1/2/2016; 4:0:0; ShutdownML;")


if __name__ == "__main__":
    main()
