#!/usr/bin/env python3
"""Runs our 64-bit companion, ztxins64.exe, by itself under Wine.

With "-f" it must read Wine's catalog (base providers only), trace that the
product's provider is not there, skip the 32-bit catalog whose functions Wine
lacks, and exit 0. With any other arguments it must print its usage line,
change nothing and exit 2.

usage: companion_wine.py [--build DIR]
"""

import argparse
import os
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wine_run  # noqa: E402

NO_MATCH = "CVLLspSetup::RemoveAllLayered no match guid target:"
SKIPPED = "CVLLspSetup::Companion 32-bit catalog functions missing: catalog skipped"
USAGE = "usage: ztxins64 -f"

CASES = [
    (["-f"], 0, [NO_MATCH, SKIPPED]),
    ([], 2, [USAGE]),
    (["-F"], 2, [USAGE]),
    (["-f", "-f"], 2, [USAGE]),
    (["/f"], 2, [USAGE]),
]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default="build/win64")
    args = ap.parse_args()
    build = os.path.abspath(args.build)
    work = os.path.join(build, "wine")
    os.makedirs(work, exist_ok=True)
    prefix = wine_run.fresh_prefix(work, "companion")
    failed = 0
    try:
        cur_dir = wine_run.unix_path(prefix, r"C:\ztx")
        os.makedirs(cur_dir, exist_ok=True)
        shutil.copy(os.path.join(build, "ztxins64.exe"), cur_dir)
        env = wine_run.wine_env(prefix)
        env["WINEDEBUG"] = "-all,+debugstr"
        for number, (arguments, want_code, want_texts) in enumerate(CASES, 1):
            out_file = os.path.join(work, f"companion.{number}.out")
            with open(out_file, "wb") as out:
                code = subprocess.run([wine_run.WINE, r"C:\ztx\ztxins64.exe"] + arguments, env=env, cwd=cur_dir,
                                      stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT,
                                      timeout=wine_run.TOOL_TIMEOUT).returncode
            with open(out_file, "rb") as f:
                text = f.read().decode("latin-1")
            problems = []
            if code != want_code:
                problems.append(f"exit code {code}, expected {want_code}")
            problems += [f"no '{t}' in its output" for t in want_texts if t not in text]
            if want_code == 2 and NO_MATCH in text:
                problems.append("it looked at the catalog although its arguments were refused")
            label = "ztxins64.exe " + " ".join(arguments)
            if problems:
                failed += 1
                print(f"FAIL wine {label}")
                for p in problems:
                    print(f"     {p}")
            else:
                print(f"ok   wine {label.strip()} (exit {code})")
    finally:
        wine_run.kill_prefix(prefix)
        shutil.rmtree(prefix, ignore_errors=True)
    print(f"companion: {len(CASES) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
