#!/usr/bin/python3
"""Checks the start-up script docs/dist/ztxrun.cmd against the tool's console
texts (console/messages.cpp), as build.sh ships it (code page 932, CRLF).

findstr reads every line of the script as a search string (/G:), so the
script holds no empty line and no long line, and its lines after the last
"exit /b" are exactly the lines of a run without failures. The script tells
those lines apart by ASCII pieces ("#", "(y/n):", ".....", "OS"), which no
code page 932 character holds (every trail byte is 0x40 or above); this
checks that each piece marks what the script takes it for.
usage: check_ztxrun.py [SOURCE_ROOT]"""

import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_dist_text  # noqa: E402

LONGEST = 127  # bytes of one line, line end not counted
DOTS = "....."


def messages(messages_cpp):
    """{name: text} of the C++ literals, C escapes \\n resolved."""
    return {name: text.replace("\\n", "\n")
            for name, text in re.findall(r'const char (k\w+)\[\] = "((?:[^"\\]|\\.)*)";', messages_cpp)}


def accepted_lines(m):
    """The lines of a run that found things and removed them all, or found
    nothing: the first result line follows the question on its line."""
    question = m["kQuestion"]
    removed = [m[name].rstrip("\n") for name in sorted(m) if name.endswith("Removed")]
    lines = [m["kBannerRule"].rstrip("\n"), m["kBannerTitle"].rstrip("\n"), question]
    lines += [question + DOTS + r for r in removed] + [DOTS + r for r in removed]
    lines += [m["kSummaryRestart"].strip("\n"), m["kClosing"].strip("\n")]
    return lines, removed


def problems_of(script_text, m):
    problems = []
    if len(m) < 20:
        return [f"only {len(m)} messages read from console/messages.cpp; the reader is broken"]
    lines = script_text.split("\n")
    if lines[-1] == "":
        lines.pop()
    for number, line in enumerate(lines, 1):
        size = len(line.encode("cp932"))
        if size == 0:
            problems.append(f"line {number} is empty: findstr would take it as an empty search string")
        if size > LONGEST:
            problems.append(f"line {number} has {size} bytes; findstr limits the length of a search string")
    ends = [i for i, line in enumerate(lines) if line.startswith("exit /b")]
    if not ends:
        return problems + ["no line starts with exit /b"]
    code, data = lines[:ends[-1] + 1], lines[ends[-1] + 2:]
    for number, line in enumerate(code, 1):
        if not line.isascii():
            problems.append(f"line {number} is a command line with a byte above 0x7F: cmd decodes it "
                            "with the console code page")
    accepted, removed = accepted_lines(m)
    if sorted(data) != sorted(accepted):
        problems.append(f"the lines after exit /b (after its comment line) are not the lines of a run "
                        f"without failures: extra {sorted(set(data) - set(accepted))}, "
                        f"missing {sorted(set(accepted) - set(data))}")
    # Every other line the tool can print must stay unknown to findstr,
    # which compares with /I (ASCII letters folded here; Windows may fold more).
    def folded(line):
        return line.encode("cp932").lower()
    script_lines = {folded(line) for line in lines}
    accepted_folded = {folded(line) for line in accepted}
    printed = set()
    for name, text in m.items():
        printed.update(part for part in text.split("\n") if part)
    for line in sorted(printed):
        for variant in (line, DOTS + line, m["kQuestion"] + line, m["kQuestion"] + DOTS + line):
            if folded(variant) in script_lines and folded(variant) not in accepted_folded:
                problems.append(f"the script accepts {variant!r}")
    # What each ASCII piece marks among the accepted lines.
    closing, restart = m["kClosing"].strip("\n"), m["kSummaryRestart"].strip("\n")
    marks = {"#": "banner", "(y/n):": "question", DOTS: "removed", "OS": "restart"}
    for line in accepted:
        kinds = {kind for piece, kind in marks.items() if piece in line}
        if line == closing:
            want = set()
        elif line == restart:
            want = {"restart"}
        elif line.startswith("#"):
            want = {"banner"}
        elif line.startswith(m["kQuestion"]):
            want = {"question", "removed"} if DOTS in line else {"question"}
        else:
            want = {"removed"}
        if kinds != want:
            problems.append(f"{line!r} holds the pieces of {sorted(kinds)}, the script takes it for {sorted(want)}")
    # A cancelled run has no summary; the script knows a summary by "OS".
    for name in ("kSummaryRestart", "kSummaryRunAgain"):
        if "OS" not in m[name]:
            problems.append(f"{name} holds no OS")
    for name in ("kBannerRule", "kBannerTitle", "kQuestion", "kAskAgain", "kCancelled", "kClosing"):
        if "OS" in m[name]:
            problems.append(f"{name} holds OS: a cancelled run would pass for one with a summary")
    if len(removed) != 8:
        problems.append(f"{len(removed)} success lines of removal steps, 8 expected")
    return problems


def main():
    script, messages_cpp = check_dist_text.read_sources("ztxrun.cmd")
    problems = ["the source has CR characters; build.sh adds them"] if "\r" in script else []
    problems += problems_of(script, messages(messages_cpp))
    return check_dist_text.report("ztxrun.cmd", problems, f"ztxrun.cmd: {len(script.splitlines())} lines checked")


if __name__ == "__main__":
    sys.exit(main())
