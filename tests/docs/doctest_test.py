#!/usr/bin/env python3
"""The documents' runner on documents made here: what it finds, runs, compares and refuses.
Each case is a document, the placeholders given, and what the run must end with."""
import os
import subprocess
import sys
import tempfile

RUNNER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "doctest.py")
F = "```"

CASES = [
    # (name, document, defines, passes, what the output must hold)
    ("a command that succeeds", f"{F}sh\ntrue\n{F}\n", [], True, "1 commands run as printed"),
    ("a command that fails is named by its line", f"text\n\n{F}sh\ntrue\nfalse\n{F}\n", [], False,
     "doc.md:5: `false` exited with status 1"),
    ("a continued line is one command", f"{F}sh\necho a \\\n  b\n{F}\n", [], True, "1 commands run"),
    ("output compared exactly", f"{F}console\n$ echo hello\nhello\n{F}\n", [], True, "1 passed"),
    ("output that differs fails", f"{F}console\n$ echo hello\nhullo\n{F}\n", [], False, "differs"),
    ("an elision stands for any lines", f"{F}console\n$ printf 'a\\nb\\nc\\nd\\n'\na\n...\nd\n{F}\n", [], True,
     "1 passed"),
    ("an elision does not excuse a wrong last line", f"{F}console\n$ printf 'a\\nb\\nc\\n'\na\n...\nd\n{F}\n", [],
     False, "differs"),
    ("a placeholder stands for text within a line", f"{F}console\n$ echo run 42 ended\nrun <number> ended\n{F}\n",
     [], True, "1 passed"),
    ("a placeholder does not cross lines", f"{F}console\n$ printf 'run\\n42\\n'\nrun <number>\n{F}\n", [], False,
     "differs"),
    ("an expected exit status", f"{F}console\n$ sh -c 'echo no; exit 3'\nno\n(exit status 3: a failure)\n{F}\n", [],
     True, "1 passed"),
    ("an unexpected exit status", f"{F}console\n$ sh -c 'exit 3'\n{F}\n", [], False, "not 0"),
    ("a placeholder filled in", f"{F}sh\ntest -d <this folder>\n{F}\n", ["<this folder>=/"], True, "1 passed"),
    ("a placeholder nobody fills in", f"{F}sh\ntest -d <that folder>\n{F}\n", [], False,
     "<that folder> in `test -d <that folder>` is not a placeholder"),
    ("a block marked not run", f"<!-- not run: needs a dialog -->\n{F}sh\nfalse\n{F}\n{F}sh\ntrue\n{F}\n", [], True,
     "not run: doc.md:3: `false`: needs a dialog"),
    ("one command marked not run", f"<!-- not run `false`: never -->\n{F}sh\nfalse\ntrue\n{F}\n", [], True,
     "1 commands run as printed, 1 not run"),
    ("snippets are counted, not run", f"{F}cpp\nint main() {{ return 1; }}\n{F}\n{F}sh\ntrue\n{F}\n", [], True,
     "1 snippets"),
    ("a document with no command fails", f"{F}cpp\nint x;\n{F}\n", [], False, "no command run"),
    ("a block shown as a file must be the file", f"<!-- same as: file.txt -->\n{F}text\nother\n{F}\n{F}sh\ntrue\n{F}\n",
     [], False, "is not file.txt as it is"),
    ("sizes within their tolerance", f"<!-- sizes within 1% -->\n| file | bytes |\n|---|---|\n| `file.txt` | 5 |\n"
     f"{F}sh\ntrue\n{F}\n", [], True, "1 sizes checked"),
    ("a stale size", f"<!-- sizes within 1% -->\n| file | bytes |\n|---|---|\n| `file.txt` | 7 |\n", [], False,
     "gives file.txt 7 bytes; it has 5"),
    ("a block in a list item", f"- run it:\n\n  {F}sh\n  false\n  {F}\n", [], False, "`false` exited"),
    ("output past the lines shown fails", f"{F}console\n$ printf 'a\\nb\\n'\na\n{F}\n", [], False, "differs"),
    ("a placeholder stands for some text, never none", f"{F}console\n$ echo 'run  ended'\nrun <number> ended\n{F}\n",
     [], False, "differs"),
    ("a document that only gives sizes", f"<!-- sizes within 1% -->\n| file | bytes |\n|---|---|\n| `file.txt` | 5 |\n",
     [], True, "1 sizes checked"),
]


def main():
    failed = 0
    for name, document, defines, passes, expected in CASES:
        with tempfile.TemporaryDirectory() as folder:
            with open(os.path.join(folder, "doc.md"), "w") as f:
                f.write(document)
            with open(os.path.join(folder, "file.txt"), "w") as f:
                f.write("text\n")
            argv = [sys.executable, RUNNER, os.path.join(folder, "doc.md"), "--folder", folder]
            for define in defines:
                argv += ["--define", define]
            done = subprocess.run(argv, capture_output=True, text=True)
        output = done.stdout + done.stderr
        if (done.returncode == 0) != passes or expected not in output:
            failed += 1
            print(f"FAIL: {name}: exit status {done.returncode}, output:\n{output}")
    print(f"{len(CASES) - failed} passed, {failed} failed")
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
