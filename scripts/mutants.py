#!/usr/bin/env python3
"""Plants faults one at a time and tells which the suites catch.

Reads a catalogue (tests/mutants/catalogue.txt by default): sections of planted faults, each
section a folder of src/ or tools/ with the ctest arguments that choose the suites covering it
(several selections apart by ";", each run in turn, since -L and -R narrow one another):

    [src/log] -L tev_tests|tev_tool_tests ; -R ^layers$
    @ log.cpp: a torn line's end miscounted
    - written < length ? sizeof logformat::kLineEnd + written % 2
    + written < length ? sizeof logformat::kLineEnd + written % 3

A fault replaces the text of its "- " lines (found exactly once in the file, which is relative to
the section's folder) by the text of its "+ " lines. For each: the file changed, the native build rebuilt, the
suites run, the file put back. A fault the build rejects is named and left out of the score.

A folder whose suites fail with no fault planted is named and its faults left unjudged: a failing
suite would take every fault for caught. Prints each fault's outcome, then the score per folder
and the survivors. Exit status 0 when every
folder catches at least --goal (90%), 1 otherwise, 2 for a catalogue that cannot be used.

Usage: scripts/mutants.py [--build build/native] [--catalogue FILE] [--folder FOLDER]... [--list]
"""
import argparse
import os
import re
import signal
import subprocess
import sys
import time
from dataclasses import dataclass, field

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


@dataclass
class Fault:
    folder: str
    file: str
    why: str
    before: str
    after: str
    line: int


@dataclass
class Section:
    folder: str
    ctest: list
    faults: list = field(default_factory=list)


def read_catalogue(path):
    sections, problems = [], []
    current, pending = None, None

    def finish():
        if pending is None:
            return
        if pending.before is None or pending.after is None:
            problems.append(f"{os.path.relpath(path, ROOT)}:{pending.line}: a fault needs '- ' and '+ ' lines")
        else:
            current.faults.append(pending)

    with open(path, encoding="utf-8") as lines:
        for number, raw in enumerate(lines, 1):
            line = raw.rstrip("\n")
            where = f"{os.path.relpath(path, ROOT)}:{number}"
            if not line.strip() or line.startswith("#"):
                continue
            header = re.match(r"^\[([^\]]+)\]\s*(.*)$", line)
            if header:
                finish()
                pending = None
                selections = [part.split() for part in header.group(2).split(";") if part.strip()]
                current = Section(header.group(1).rstrip("/"), selections)
                sections.append(current)
            elif current is None:
                problems.append(f"{where}: a line before any [folder]")
            elif line.startswith("@ "):
                finish()
                file, _, why = line[2:].partition(": ")
                pending = Fault(current.folder, file.strip(), why.strip(), None, None, number)
            elif line.startswith("- ") and pending and pending.after is None:
                pending.before = line[2:] if pending.before is None else pending.before + "\n" + line[2:]
            elif line.startswith("+ ") and pending and pending.before is not None:
                pending.after = line[2:] if pending.after is None else pending.after + "\n" + line[2:]
            else:
                problems.append(f"{where}: expected '@ FILE: why', '- before' or '+ after'")
    finish()
    return sections, problems


def run(command, log):
    with open(log, "ab") as out:
        return subprocess.run(command, cwd=ROOT, stdout=out, stderr=subprocess.STDOUT).returncode


def suites_fail(build, selection, log):
    """The suites' failure with no fault planted, or None: a fault is judged by them only when
    they pass as the tree is."""
    done = subprocess.run(["ctest", "--test-dir", build, "-j", str(os.cpu_count() or 2),
                           "--timeout", "300"] + selection, cwd=ROOT, capture_output=True, text=True)
    with open(log, "a") as out:
        out.write(done.stdout + done.stderr)
    if done.returncode == 0:
        return None
    listed = done.stdout.split("The following tests FAILED:")[-1].splitlines()
    failed = [line.split(" - ", 1)[1].strip() for line in listed if " - " in line]
    return ", ".join(failed) or f"ctest {' '.join(selection)} exits {done.returncode}"


def plant(fault, build, ctest, log):
    """'caught', 'survived', 'no build' or why the fault cannot be planted."""
    path = os.path.join(ROOT, fault.folder, fault.file)
    try:
        with open(path, encoding="utf-8") as f:
            original = f.read()
    except OSError as error:
        return f"unusable: {error.strerror}"
    count = original.count(fault.before)
    if count != 1:
        return f"unusable: the text is found {count} times in {fault.folder}/{fault.file}"
    try:
        with open(path, "w", encoding="utf-8") as f:
            f.write(original.replace(fault.before, fault.after))
        if run(["cmake", "--build", build, "-j", str(os.cpu_count() or 2)], log) != 0:
            return "no build"
        # Each ctest selection in turn (ctest's -L and -R narrow one another: a union is several
        # runs); caught by the first that fails.
        for selection in ctest:
            done = subprocess.run(["ctest", "--test-dir", build, "-j", str(os.cpu_count() or 2),
                                   "--timeout", "300", "--stop-on-failure"] + selection,
                                  cwd=ROOT, capture_output=True, text=True)
            with open(log, "a") as out:
                out.write(done.stdout + done.stderr)
            if "No tests were found" in done.stdout + done.stderr:
                return f"unusable: ctest {' '.join(selection)} chooses no test"
            if done.returncode != 0:
                return "caught"
        return "survived"
    finally:
        with open(path, "w", encoding="utf-8") as f:
            f.write(original)
        os.utime(path, None)  # newer than the mutant's objects, so the next build rebuilds it


def main():
    # Stopped from outside, the planted file is put back as on any other way out (SystemExit runs
    # plant's finally).
    signal.signal(signal.SIGTERM, lambda number, frame: sys.exit(128 + number))
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default="build/native")
    parser.add_argument("--catalogue", default=os.path.join(ROOT, "tests/mutants/catalogue.txt"))
    parser.add_argument("--folder", action="append", default=[],
                        help="only this folder's faults (again for more)")
    parser.add_argument("--goal", type=float, default=0.9)
    parser.add_argument("--list", action="store_true", help="list the faults, plant none")
    options = parser.parse_args()

    sections, problems = read_catalogue(options.catalogue)
    for problem in problems:
        print(problem, file=sys.stderr)
    if problems:
        return 2
    if options.folder:
        wanted = {folder.rstrip("/") for folder in options.folder}
        sections = [s for s in sections if s.folder in wanted]
    if options.list:
        for section in sections:
            for fault in section.faults:
                print(f"{section.folder}/{fault.file}:{fault.line}: {fault.why}")
        return 0

    build = os.path.join(ROOT, options.build)
    log = os.path.join(build, "mutants.log")
    if not os.path.isdir(build) or run(["cmake", "--build", build], log) != 0:
        print(f"mutants: {options.build} does not build as it is (cmake --preset native first)",
              file=sys.stderr)
        return 2
    open(log, "w").close()
    scores, survivors, unusable = [], [], []
    for section in sections:
        caught = planted = 0
        # A suite failing already would take every fault for caught. The tree as it is built
        # first: the previous section's last fault is still in the build's objects.
        if run(["cmake", "--build", build, "-j", str(os.cpu_count() or 2)], log) != 0:
            print(f"mutants: {options.build} does not build as it is", file=sys.stderr)
            return 2
        failing = next(filter(None, (suites_fail(build, selection, log)
                                     for selection in section.ctest)), None)
        if failing:
            print(f"mutants: {section.folder}: its suites fail with no fault planted ({failing}); "
                  "its faults are not judged", file=sys.stderr, flush=True)
            unusable += [f"{section.folder}/{fault.file}: {fault.why} (its suites fail as the tree "
                         "is)" for fault in section.faults]
            scores.append((section.folder, 0, 0))
            continue
        for fault in section.faults:
            started = time.monotonic()
            outcome = plant(fault, build, section.ctest, log)
            name = f"{section.folder}/{fault.file}: {fault.why}"
            print(f"{outcome:9} {time.monotonic() - started:5.0f} s  {name}", flush=True)
            if outcome in ("caught", "survived"):
                planted += 1
                caught += outcome == "caught"
                if outcome == "survived":
                    survivors.append(name)
            else:
                unusable.append(f"{name} ({outcome})")
        scores.append((section.folder, caught, planted))
    run(["cmake", "--build", build], log)  # the tree as it is again

    print("\nfolder                      caught")
    below = False
    for folder, caught, planted in scores:
        share = caught / planted if planted else 0.0
        below |= share < options.goal
        print(f"{folder:27} {caught:3} of {planted:3}  {share:4.0%}")
    for title, names in (("survivors", survivors), ("not planted", unusable)):
        if names:
            print(f"\n{title}:")
            for name in names:
                print(f"  {name}")
    print(f"\n(the build's and the suites' output: {os.path.relpath(log, ROOT)})")
    return 1 if below else 0


if __name__ == "__main__":
    sys.exit(main())
