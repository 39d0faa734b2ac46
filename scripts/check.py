#!/usr/bin/env python3
"""The quick check while working: builds a preset's suites and runs them, quietly. Prints one line
per suite (its passed and failed tests), then each failure with its output; the build's and
configure's own output only when they fail. Tests labelled `full` (they need what only `make test`
installs, such as Node's DuckDB) are left to `make test`.

Usage: scripts/check.py PRESET [JOBS]
"""
import json
import os
import subprocess
import sys
import xml.etree.ElementTree as ElementTree

source = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def quietly(step, argv, log):
    with open(log, "w") as output:
        done = subprocess.run(argv, cwd=source, stdout=output, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
    if done.returncode != 0:
        with open(log) as output:
            lines = output.read().splitlines()
        errors = [line for line in lines if "error" in line.lower()]
        print("\n".join((errors or lines)[-60:]))
        print(f"check: {step} failed (status {done.returncode}); all of its output is in {log}")
        sys.exit(done.returncode)


def main():
    preset = sys.argv[1]
    jobs = sys.argv[2] if len(sys.argv) > 2 else str(os.cpu_count() or 2)
    build = os.path.join(source, "build", preset)
    os.makedirs(build, exist_ok=True)
    quietly("configuring", ["cmake", "--preset", preset], os.path.join(build, "check-configure.log"))
    quietly("building", ["cmake", "--build", "--preset", preset, "-j", jobs], os.path.join(build, "check-build.log"))

    listing = subprocess.run(["ctest", "--preset", preset, "-LE", "full", "--show-only=json-v1"], cwd=source,
                             capture_output=True, text=True, check=True)
    suite_of = {}
    for test in json.loads(listing.stdout)["tests"]:
        labels = [p["value"] for p in test.get("properties", []) if p["name"] == "LABELS"]
        suite_of[test["name"]] = labels[0][0] if labels and labels[0] else test["name"].split(".")[0]

    junit = os.path.join(build, "check-results.xml")
    log = os.path.join(build, "check-ctest.log")
    with open(log, "w") as output:
        subprocess.run(["ctest", "--preset", preset, "-LE", "full", "-j", jobs, "--output-junit", junit],
                       cwd=source, stdout=output, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
    if not os.path.exists(junit):
        print(open(log).read()[-4000:])
        print("check: ctest gave no results")
        sys.exit(1)

    counts = {}
    failures = []
    for case in ElementTree.parse(junit).getroot().iter("testcase"):
        name = case.get("name")
        suite = suite_of.get(name, name.split(".")[0])
        passed, failed, skipped = counts.setdefault(suite, [0, 0, 0])
        if case.find("failure") is not None or case.find("error") is not None or case.get("status") == "fail":
            counts[suite][1] += 1
            output = case.findtext("system-out") or ""
            failures.append((name, output))
        elif case.find("skipped") is not None or case.get("status") in ("notrun", "disabled"):
            counts[suite][2] += 1
        else:
            counts[suite][0] += 1
    width = max(len(suite) for suite in counts) if counts else 0
    for suite in sorted(counts):
        passed, failed, skipped = counts[suite]
        note = f", {skipped} skipped" if skipped else ""
        print(f"{suite:<{width}}  {passed} passed, {failed} failed{note}")
    for name, output in failures:
        print(f"\nFAIL {name}\n{output.rstrip()[-6000:]}")
    total = [sum(c[i] for c in counts.values()) for i in range(3)]
    print(f"{total[0]} passed, {total[1]} failed" + (f", {total[2]} skipped" if total[2] else ""))
    sys.exit(1 if total[1] or not counts else 0)


if __name__ == "__main__":
    main()
