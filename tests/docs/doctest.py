#!/usr/bin/env python3
"""Runs the commands a document tells its reader to type, exactly as printed, and compares the
output it shows. What a block is, by its fence:

  ```sh       each line a shell command (a line ending in \\ goes on), run by bash in the
              document's folder; it must exit 0
  ```bat      each line a Windows command, run by `wine cmd /c` in the document's folder
  ```console  `$ COMMAND` (bash) or `> COMMAND` (cmd under Wine), each followed by the output it
              must give: a line `...` alone stands for any lines, `<words>` in angle brackets
              (lower-case words) for any text within a line, and a last line
              `(exit status N...)` for a status other than 0
  other       a snippet, not a command: counted, and compared with a file under `same as`

A comment on the line just above a fence says more of it:

  <!-- not run: REASON -->              the block cannot run here (counted as not run)
  <!-- not run `COMMAND`: REASON -->    that command only (a line beginning with COMMAND)
  <!-- same as: PATH -->                the block is the file PATH, as it is
  <!-- windows -->                      runs with the Windows build only (--windows)
  <!-- sizes within N% -->              (above a table) each row `PATH` | BYTES | is within N%
                                        of the size of PATH

Placeholders such as <this folder> in a command are the only substitution: each one is given
by --define, and a command holding one that is not given fails. A failing block is named by
the document and its line.

Usage: doctest.py DOCUMENT --folder DIR [--define '<name>=VALUE']... [--windows]
                  [--env NAME=VALUE]... [--path DIR]... [--fresh DIR]... [--title NAME]
  --folder   where the commands run (the document's own folder, as its reader is told)
  --env      a variable the reader has (~ is expanded); --path a folder put first on PATH
  --fresh    a folder emptied before the commands run (a reader's home, say)
  --windows  run the blocks marked <!-- windows --> (and only those)
"""
import argparse
import os
import re
import shutil
import subprocess
import sys

PLACEHOLDER = re.compile(r"<[a-z][a-z' ]*[a-z]>")
DIRECTIVE = re.compile(r"^<!--\s*(.*?)\s*-->$")
NOT_RUN = re.compile(r"^not run(?: `([^`]+)`)?:\s*(.+)$")
EXIT_LINE = re.compile(r"^\(exit status (\d+)\b.*\)$")
COMMANDS = {"sh", "bat", "console"}
SIZES = re.compile(r"^sizes within ([0-9.]+)%$")
SIZE_ROW = re.compile(r"^\| `([^`]+)`[^|]*\| ([0-9,]+) \|$")


class Block:
    def __init__(self, language, line, body, directives):
        self.language = language
        self.line = line  # of the first line inside the fence
        self.body = body
        self.directives = directives


def directives_above(lines, index):
    directives = []
    above = index - 1
    while above >= 0 and DIRECTIVE.match(lines[above].strip()):
        directives.insert(0, DIRECTIVE.match(lines[above].strip()).group(1))
        above -= 1
    return directives


def read_blocks(path):
    """The fenced blocks of a Markdown file, with the directives on the lines just above."""
    with open(path, encoding="utf-8") as f:
        lines = f.read().split("\n")
    blocks = []
    index = 0
    while index < len(lines):
        fence = re.match(r"^( *)```(\S*)\s*$", lines[index])
        table = lines[index].startswith("|") and (index == 0 or not lines[index - 1].startswith("|"))
        if table:
            end = index
            while end < len(lines) and lines[end].startswith("|"):
                end += 1
            blocks.append(Block("table", index + 1, lines[index:end], directives_above(lines, index)))
            index = end
            continue
        if not fence:
            index += 1
            continue
        indent = fence.group(1)
        directives = directives_above(lines, index)
        start = index + 1
        end = start
        while end < len(lines) and lines[end].rstrip() != indent + "```":
            end += 1
        # A block inside a list item is indented with it.
        body = [text[len(indent):] if text.startswith(indent) else text for text in lines[start:end]]
        blocks.append(Block(fence.group(2), start + 1, body, directives))
        index = end + 1
    return blocks


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Runner:
    def __init__(self, options):
        self.options = options
        self.document = os.path.relpath(options.document, options.folder) \
            if not options.title else options.title
        self.defines = {}
        for define in options.define:
            name, _, value = define.partition("=")
            self.defines[name] = value
        for folder in options.fresh:
            shutil.rmtree(folder, ignore_errors=True)
            os.makedirs(folder)
        # As a reader types it: not inside the make or ctest that runs this test.
        self.env = {name: value for name, value in os.environ.items()
                    if name not in ("MAKEFLAGS", "MAKELEVEL", "MFLAGS", "MAKEOVERRIDES", "CTEST_INTERACTIVE_DEBUG_MODE")}
        for setting in options.env:
            name, _, value = setting.partition("=")
            self.env[name] = os.path.expanduser(value)
        if options.path:
            self.env["PATH"] = os.pathsep.join(options.path + [self.env.get("PATH", "")])
        self.failures = []
        self.ran = 0
        self.not_run = []
        self.snippets = 0
        self.elsewhere = 0
        self.sizes = 0

    def fail(self, line, message, output=""):
        self.failures.append(f"{self.document}:{line}: {message}" + (f"\n{output.rstrip()}" if output else ""))

    def substitute(self, command, line, windows):
        def value(match):
            name = match.group(0)
            if name not in self.defines:
                raise KeyError(name)
            return windows_path(self.defines[name]) if windows and self.defines[name].startswith("/") \
                else self.defines[name]
        try:
            return PLACEHOLDER.sub(value, command)
        except KeyError as missing:
            self.fail(line, f"{missing.args[0]} in `{command}` is not a placeholder this test fills in")
            return None

    def execute(self, command, windows):
        if windows:
            argv = ["wine", "cmd", "/c", command]
        else:
            argv = ["bash", "-c", command]
        done = subprocess.run(argv, cwd=self.options.folder, env=self.env, stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=1800)
        output = done.stdout.decode("utf-8", "replace").replace("\r\n", "\n").replace("\r", "\n")
        return done.returncode, output

    def skipped(self, block, command):
        for directive in block.directives:
            match = NOT_RUN.match(directive)
            if match and (match.group(1) is None or command.startswith(match.group(1))):
                return match.group(2)
        return None

    def run_block(self, block):
        windows_only = "windows" in block.directives
        if windows_only != bool(self.options.windows):
            if block.language in COMMANDS:
                self.elsewhere += 1
            return
        if block.language == "table":
            sizes = [SIZES.match(d) for d in block.directives if SIZES.match(d)]
            if sizes:
                self.compare_sizes(block, float(sizes[0].group(1)))
            return
        same_as = [d[len("same as:"):].strip() for d in block.directives if d.startswith("same as:")]
        if same_as:
            self.compare_file(block, same_as[0])
        if block.language not in COMMANDS:
            self.snippets += 1
            return
        if block.language == "console":
            self.run_console(block)
        else:
            self.run_commands(block)

    def compare_sizes(self, block, tolerance):
        """A table of files and their sizes in bytes: each within TOLERANCE per cent of the file's."""
        for offset, row in enumerate(block.body):
            match = SIZE_ROW.match(row)
            if not match:
                continue
            path, shown = match.group(1), int(match.group(2).replace(",", ""))
            try:
                size = os.path.getsize(os.path.join(self.options.folder, path))
            except OSError as error:
                self.fail(block.line + offset, f"gives the size of {path}, which cannot be read: {error}")
                continue
            self.sizes += 1
            print(f"{self.document}:{block.line + offset}: {path}: {shown:,} bytes shown, {size:,} built")
            if abs(size - shown) > shown * tolerance / 100:
                self.fail(block.line + offset, f"gives {path} {shown:,} bytes; it has {size:,}, "
                          f"more than {tolerance:g}% away: run the command that makes it and write its size")

    def compare_file(self, block, path):
        try:
            with open(os.path.join(self.options.folder, path), encoding="utf-8") as f:
                text = f.read()
        except OSError as error:
            self.fail(block.line, f"shows {path}, which cannot be read: {error}")
            return
        if text.rstrip("\n").split("\n") != block.body:
            self.fail(block.line, f"the block is not {path} as it is")

    def commands_of(self, block):
        """(line, command) for each command of an sh or bat block, continuations joined."""
        commands = []
        pending, first = "", None
        for offset, text in enumerate(block.body):
            if not text.strip() and not pending:
                continue
            first = first if pending else block.line + offset
            if text.endswith("\\") and block.language == "sh":
                pending += text[:-1]
                continue
            commands.append((first, pending + text))
            pending = ""
        return commands

    def attempt(self, block, line, printed, windows):
        """Runs one printed command unless it is marked not run or holds an unknown placeholder:
        (status, output), or None."""
        reason = self.skipped(block, printed.strip())
        if reason:
            self.not_run.append(f"{self.document}:{line}: `{printed.strip()}`: {reason}")
            return None
        command = self.substitute(printed, line, windows)
        if command is None:
            return None
        self.ran += 1
        status, output = self.execute(command, windows)
        print(f"{self.document}:{line}: {printed.strip()}  (exit status {status})")
        return status, output

    def run_commands(self, block):
        windows = block.language == "bat"
        for line, printed in self.commands_of(block):
            result = self.attempt(block, line, printed, windows)
            if result and result[0] != 0:
                self.fail(line, f"`{printed.strip()}` exited with status {result[0]}", result[1][-4000:])

    def run_console(self, block):
        steps = []  # (line, prompt, command, expected lines)
        for offset, text in enumerate(block.body):
            if text.startswith("$ ") or text.startswith("> "):
                steps.append((block.line + offset, text[0], text[2:], []))
            elif steps:
                steps[-1][3].append(text)
            elif text.strip():
                self.fail(block.line + offset, "output shown before any command")
        for line, prompt, printed, expected in steps:
            while expected and not expected[-1].strip():
                expected.pop()
            status_expected = 0
            if expected and EXIT_LINE.match(expected[-1]):
                status_expected = int(EXIT_LINE.match(expected[-1]).group(1))
                expected.pop()
            result = self.attempt(block, line, printed, prompt == ">")
            if result is None:
                continue
            status, output = result
            if status != status_expected:
                self.fail(line, f"`{printed.strip()}` exited with status {status}, not {status_expected}",
                          output[-4000:])
                continue
            actual = output.rstrip("\n").split("\n") if output.strip() else []
            mismatch = compare_output(expected, actual)
            if mismatch is not None:
                self.fail(line + 1 + mismatch, f"the output of `{printed.strip()}` differs from what is shown "
                          f"here (line {line + 1 + mismatch} of the document); it was:", output[-4000:])

    def report(self):
        for reason in self.not_run:
            print(f"not run: {reason}")
        elsewhere = f", {self.elsewhere} blocks left to the {'native' if self.options.windows else 'Windows'} " \
            "suite" if self.elsewhere else ""
        print(f"{self.document}: {self.ran} commands run as printed, {len(self.not_run)} not run, "
              f"{self.snippets} snippets, {self.sizes} sizes checked{elsewhere}")
        for failure in self.failures:
            print(f"FAIL: {failure}")
        if self.failures:
            print("0 passed, 1 failed")
            return 1
        if self.ran == 0 and self.sizes == 0:
            print(f"FAIL: {self.document}: no command run")
            print("0 passed, 1 failed")
            return 1
        print("1 passed, 0 failed")
        return 0


def line_pattern(expected):
    parts = PLACEHOLDER.split(expected)
    return re.compile("^" + ".+?".join(re.escape(part) for part in parts) + "$")


def compare_output(expected, actual):
    """None when ACTUAL is shown by EXPECTED; else the index of the first expected line that fails."""
    patterns = [None if text.strip() == "..." else line_pattern(text.rstrip()) for text in expected]
    actual = [text.rstrip() for text in actual]
    # Earliest index into expected reached without a match, for the message.
    worst = [0]

    def match(e, a, memo={}):
        key = (e, a)
        if key in memo:
            return memo[key]
        worst[0] = max(worst[0], e)
        if e == len(patterns):
            result = a == len(actual)
        elif patterns[e] is None:
            result = any(match(e + 1, skip) for skip in range(a, len(actual) + 1))
        else:
            result = a < len(actual) and bool(patterns[e].match(actual[a])) and match(e + 1, a + 1)
        memo[key] = result
        return result

    if match(0, 0):
        return None
    return min(worst[0], max(len(expected) - 1, 0))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("document")
    parser.add_argument("--folder", required=True)
    parser.add_argument("--define", action="append", default=[])
    parser.add_argument("--env", action="append", default=[])
    parser.add_argument("--path", action="append", default=[])
    parser.add_argument("--fresh", action="append", default=[], help="a folder made empty first")
    parser.add_argument("--title")
    parser.add_argument("--windows", action="store_true")
    options = parser.parse_args()
    runner = Runner(options)
    for block in read_blocks(options.document):
        runner.run_block(block)
    sys.exit(runner.report())


if __name__ == "__main__":
    main()
