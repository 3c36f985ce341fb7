#!/usr/bin/python3
"""Checks the administrators' text docs/dist/README.txt against the tool: it
quotes every console line the tool can print after the banner (the literals
of console/messages.cpp), and it survives code page 932 unchanged.
usage: check_dist_text.py [SOURCE_ROOT]"""

import os
import re
import sys

# The banner and the start-up failure are not explained line by line.
NOT_EXPLAINED = {"kFatalInit", "kBannerRule", "kBannerTitle", "kBannerEnd"}


def console_lines(messages_cpp):
    """{message name: [its lines, without line ends]} of the C++ literals."""
    found = {}
    for name, text in re.findall(r'const char (k\w+)\[\] = "((?:[^"\\]|\\.)*)";', messages_cpp):
        if name not in NOT_EXPLAINED:
            found[name] = [part for part in text.split("\\n") if part]
    return found


def problems_of(text, messages_cpp):
    problems = []
    lines = console_lines(messages_cpp)
    if len(lines) < 20:
        problems.append(f"only {len(lines)} messages read from console/messages.cpp; the reader is broken")
    for name, parts in sorted(lines.items()):
        for part in parts:
            if part not in text:
                problems.append(f"{name}: {part!r} is not in the text")
    try:
        if text.encode("cp932").decode("cp932") != text:
            problems.append("the text changes on its way through code page 932")
    except UnicodeEncodeError as e:
        problems.append(f"code page 932 lacks {text[e.start:e.end]!r} (offset {e.start})")
    if "\r" in text:
        problems.append("the source has CR characters; build.sh adds them")
    return problems


def read_sources(dist_name):
    """The text of docs/dist/DIST_NAME and of console/messages.cpp, under the
    source root named by the first argument (default: this checkout)."""
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    with open(os.path.join(root, "docs", "dist", dist_name), encoding="utf-8", newline="") as f:
        text = f.read()
    with open(os.path.join(root, "console", "messages.cpp"), encoding="utf-8") as f:
        return text, f.read()


def report(dist_name, problems, summary):
    for p in problems:
        print(f"FAIL docs/dist/{dist_name}: {p}")
    print(f"{summary}; {len(problems)} problems")
    return 1 if problems else 0


def main():
    text, messages = read_sources("README.txt")
    return report("README.txt", problems_of(text, messages),
                  f"dist text: {len(console_lines(messages))} console messages quoted")


if __name__ == "__main__":
    sys.exit(main())
