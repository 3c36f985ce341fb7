#!/usr/bin/env python3
"""Compares what each scenario did under Wine with what it did on the
simulated Windows, from the files both runners leave in the results folder
(NAME.wine.out/.state and NAME.host.out/.state).

One line per scenario: "agrees", or where the two first part: the first
differing byte of the console output, or the first exit code, key, value,
path or process whose fate differs. What the scenario names with `differs`
(Wine known to behave otherwise than Windows) is left out, and said so.

usage: agree.py [--setting NAME] [--results DIR] SCENARIO...

The scenarios are read for the setting (win64 unless named: the 64-bit build
on 64-bit Wine, whose results lie in build/scenario-results; any other
setting's in build/scenario-results-NAME).
"""

import argparse
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import scenario as scn  # noqa: E402


def read(path, mode="rb"):
    try:
        with open(path, mode) as f:
            return f.read()
    except FileNotFoundError:
        return None


def compare(s, results):
    """Gives (verdict, details): verdict "agrees", "differs" or "missing"."""
    base = os.path.join(results, s.name)
    wine_out, host_out = read(base + ".wine.out"), read(base + ".host.out")
    wine_state, host_state = read(base + ".wine.state", "r"), read(base + ".host.state", "r")
    missing = [side for side, data in (("wine", wine_out), ("host", host_out)) if data is None]
    missing += [side for side, data in (("wine", wine_state), ("host", host_state))
                if data is None and side not in missing]
    if missing:
        return "missing", [f"no results from {' and '.join(missing)}"]

    skip = s.differing_lines()
    wine_cmp = scn.without_lines(wine_out.replace(b"\r\n", b"\n"), skip)
    host_cmp = scn.without_lines(host_out, skip)
    details = []
    if wine_cmp != host_cmp:
        at = scn.first_difference(wine_cmp, host_cmp)
        details.append(f"output differs at byte {at} (lines {sorted(skip)} left out): "
                       f"wine {wine_cmp[at:at + 30]!r}, host {host_cmp[at:at + 30]!r}")

    wine_lines, host_lines = wine_state.splitlines(), host_state.splitlines()
    if len(wine_lines) != len(host_lines):
        details.append(f"the state lists differ in length: wine {len(wine_lines)}, host {len(host_lines)}")
    for i, (w, h) in enumerate(zip(wine_lines, host_lines)):
        if w == h:
            continue
        # Line 0 holds the exit codes; the others follow the checks in order.
        if i > 0 and i - 1 < len(s.checks):
            _, kind, fields = s.checks[i - 1]
            if s.differs_on(kind, fields):
                continue
        details.append(f"first differing fate: wine '{w}', host '{h}'")
        break
    return ("differs", details) if details else ("agrees", [])


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--setting", choices=scn.SETTINGS, default="win64",
                    help="read the scenarios as the tool runs them in that setting")
    ap.add_argument("--results", help="the results folder (by default the setting's)")
    ap.add_argument("scenarios", nargs="+")
    args = ap.parse_args()
    if args.results is None:
        args.results = "build/scenario-results" + ("" if args.setting == "win64" else "-" + args.setting)
    counts = {"agrees": 0, "differs": 0, "missing": 0}
    for path in args.scenarios:
        s = scn.parse(path, args.setting)
        verdict, details = compare(s, args.results)
        counts[verdict] += 1
        known = [f"{d.kind} {'|'.join(d.fields)}" for d in s.differs]
        note = f"  (known Wine differences left out: {'; '.join(known)})" if known and verdict == "agrees" else ""
        print(f"{verdict:8} {s.name}{note}")
        for d in details:
            print(f"         {d}")
    print(f"agreement: {counts['agrees']} agree, {counts['differs']} differ, {counts['missing']} not run on both")
    return 0 if counts["differs"] == 0 and counts["missing"] == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
