#!/usr/bin/env python3
"""The Wine half of the benchmark: the wall time of a whole run of the 64-bit
build on a planted installation (the end-to-end harness plants it and runs
the tool), minus the fixed pacing of 2.5 s before each result line that
follows progress dots, beside the wall time of starting a trivial program in
the same prefix. Only the scenario's first run of the tool is timed.

usage: bench_wine.py [--build DIR] [--repeat N] [SCENARIO]
"""

import argparse
import os
import shutil
import statistics
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # nothing left behind in e2e/
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "e2e"))
import scenario as scn  # noqa: E402
import wine_run  # noqa: E402

DOTS = b"....."
PACING_PER_LINE = 2.5  # ShowProgress(5, 500) before each such line
TRIVIAL = "companion_stub.exe"  # leaves a marker file and ends


def paced_lines(output):
    """Lines printed after progress dots: each costs 2.5 s of sleeping."""
    return output.count(DOTS)


def run_once(s, build, results, trivial_starts):
    """One planted prefix: the tool's runs timed by the harness, then (before
    the prefix goes) starts of the trivial program in that same prefix."""
    stub = os.path.join(build, "e2e", TRIVIAL)
    kill_prefix = wine_run.kill_prefix

    def time_trivial_then_kill(prefix):
        target = os.path.join(prefix, "drive_c", TRIVIAL)
        try:
            shutil.copy(stub, target)
            for _ in range(3):
                started = time.monotonic()
                # In the prefix's C: folder, where the stub leaves its marker file.
                done = wine_run.run_wine(prefix, [target], cwd=os.path.dirname(target),
                                         stdout=wine_run.subprocess.DEVNULL, stderr=wine_run.subprocess.DEVNULL,
                                         timeout=120)
                if done.returncode == 0:
                    trivial_starts.append(time.monotonic() - started)
        finally:
            kill_prefix(prefix)

    wine_run.kill_prefix = time_trivial_then_kill
    try:
        problems, seconds = wine_run.run_scenario(s, build, results, False)
    finally:
        wine_run.kill_prefix = kill_prefix
    with open(os.path.join(results, f"{s.name}.wine.out"), "rb") as f:
        output = f.read()
    return problems, seconds, output


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default="build/win64")
    ap.add_argument("--repeat", type=int, default=3, help="planted prefixes, one measurement each")
    ap.add_argument("scenario", nargs="?", default=os.path.join(os.path.dirname(HERE), "e2e", "scenarios", "full-install.scn"))
    args = ap.parse_args()
    build = os.path.abspath(args.build)
    for need in ("ZTXCleanUp.exe", os.path.join("e2e", TRIVIAL), os.path.join("e2e", "ztxe2e.exe")):
        if not os.path.exists(os.path.join(build, need)):
            print(f"bench_wine: {os.path.join(build, need)} is missing; build first", file=sys.stderr)
            return 2
    s = scn.parse(args.scenario)
    if len(getattr(s, "runs", [])) > 1:
        s.runs = s.runs[:1]  # a later run would find the installation gone
    results = tempfile.mkdtemp(prefix="ztx-bench-")
    net, trivial = [], []
    lines = 0
    failed = False
    scenario_name = os.path.relpath(args.scenario)
    print(f"bench_wine: {build}/ZTXCleanUp.exe, {args.repeat} planted prefixes, "
          f"the first run of {scenario_name}:\n  {s.title}")
    for i in range(args.repeat):
        problems, seconds, output = run_once(s, build, results, trivial)
        lines = paced_lines(output)
        pacing = lines * PACING_PER_LINE
        net.append(seconds - pacing)
        print(f"  prefix {i + 1}: the run {seconds:.2f} s wall, {lines} lines after dots "
              f"= {pacing:.1f} s pacing, {seconds - pacing:.2f} s without it"
              + ("" if not problems else f"; the run did not do its job: {'; '.join(problems)}"))
        failed |= bool(problems)
    shutil.rmtree(results, ignore_errors=True)
    print(f"whole run under Wine, wall time minus pacing: median {statistics.median(net):.2f} s "
          f"(min {min(net):.2f}, max {max(net):.2f}; {lines} x {PACING_PER_LINE} s of pacing taken off)")
    if trivial:
        print(f"start of a trivial program ({TRIVIAL}) in the same prefix, after the run: median "
              f"{statistics.median(trivial):.2f} s (min {min(trivial):.2f}, max {max(trivial):.2f}; "
              f"{len(trivial)} starts)")
    else:
        print(f"the trivial program ({TRIVIAL}) never started and ended cleanly")
        failed = True
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
