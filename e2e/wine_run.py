#!/usr/bin/env python3
"""Runs end-to-end scenarios with the 64-bit build of the tool under Wine.

Each scenario gets a throwaway copy of a booted prefix: the harness plants
what the scenario names, starts its programs, runs the tool with the
scenario's answers on standard input, and checks the output bytes, the exit
code and what is left. Output goes to files, never pipes: Wine's helper
processes inherit the standard handles of the first program and outlive it.

usage: wine_run.py [--build DIR] [--results DIR] [--show] SCENARIO...
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import scenario as scn  # noqa: E402

WINE = "/usr/lib/wine/wine64"
TOOL_TIMEOUT = 120


def wine_env(prefix):
    env = dict(os.environ)
    env.update(WINEPREFIX=prefix, WINEDEBUG="-all", WINELOADER=WINE, WINEDLLOVERRIDES="mscoree,mshtml=")
    env.pop("DISPLAY", None)
    return env


def run_wine(prefix, args, **kw):
    return subprocess.run([WINE] + args, env=wine_env(prefix), stdin=subprocess.DEVNULL, **kw)


def unix_path(prefix, win_path):
    assert win_path[1:3] == ":\\", win_path
    return os.path.join(prefix, "drive_c", *win_path[3:].split("\\"))


def warn_emulated_32bit():
    """With 32-bit Wine installed and i386 programs emulated (scripts/test32.sh
    turns that on while it runs), the boot of a 64-bit prefix also starts
    32-bit programs, each a minute or more under emulation."""
    try:
        with open("/proc/sys/fs/binfmt_misc/qemu-i386") as f:
            enabled = f.readline().strip() == "enabled"
    except OSError:
        enabled = False
    if enabled and os.path.exists("/usr/lib/wine/wine"):
        print("note: i386 programs run emulated (binfmt entry qemu-i386 enabled) and 32-bit Wine is "
              "installed, so this boot starts emulated 32-bit programs and may outlast its time limit; "
              "echo 0 > /proc/sys/fs/binfmt_misc/qemu-i386 turns the entry off", file=sys.stderr)


def template_prefix(work):
    """A booted prefix, made once and copied for each scenario."""
    template = os.path.join(work, "template")
    ready = os.path.join(template, "ztx-template-ready")
    if not os.path.exists(ready):
        warn_emulated_32bit()
        shutil.rmtree(template, ignore_errors=True)
        os.makedirs(template)
        with open(os.path.join(work, "wineboot.log"), "w") as log:
            subprocess.run([WINE, "wineboot", "-i"], env=wine_env(template), stdin=subprocess.DEVNULL,
                           stdout=log, stderr=log, timeout=300, check=True)
            # Windows 7, as the simulated Windows of the host runner.
            subprocess.run([WINE, "winecfg", "-v", "win7"], env=wine_env(template), stdin=subprocess.DEVNULL,
                           stdout=log, stderr=log, timeout=120, check=True)
            subprocess.run(["wineserver", "-w"], env=wine_env(template), timeout=120)
        open(ready, "w").close()
    return template


def fresh_prefix(work, name):
    """A throwaway copy of the booted template prefix."""
    template = template_prefix(work)
    prefix = tempfile.mkdtemp(prefix=f"ztx-{name}-", dir=work)
    os.rmdir(prefix)
    shutil.copytree(template, prefix, symlinks=True)
    return prefix


def kill_prefix(prefix):
    subprocess.run(["wineserver", "-k"], env=wine_env(prefix), stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=60)
    subprocess.run(["wineserver", "-w"], env=wine_env(prefix), timeout=60)


def plan_line(kind, fields):
    return f"{kind} {'|'.join(fields)}\n"


def place_tool(s, build, companion_build, tool_dir, cur_dir):
    """Puts the tool of `build` in its folder and, as the scenario says, the
    companion of `companion_build` or one of the stand-ins of `build`/e2e in
    the current folder, under the name the tool looks for."""
    os.makedirs(tool_dir, exist_ok=True)
    os.makedirs(cur_dir, exist_ok=True)
    shutil.copy(os.path.join(build, "ZTXCleanUp.exe"), tool_dir)
    companion = os.path.join(companion_build, "ztxins64.exe")
    if s.companion == "real" and os.path.exists(companion):
        shutil.copy(companion, cur_dir)
    elif s.companion in ("stub", "stub-fail"):
        shutil.copy(os.path.join(build, "e2e", f"companion_{s.companion.replace('-', '_')}.exe"),
                    os.path.join(cur_dir, "ztxins64.exe"))


def judge(s, codes, got, present, hung, results):
    """Compares one scenario's runs under Wine with what it expects, writes
    NAME.wine.out and NAME.wine.state for agree.py, and gives the problems
    found. codes: exit code of each run that ended; got: the output of every
    run (line ends as the tool wrote them); present: "1" or "0" per check."""
    with open(os.path.join(results, f"{s.name}.wine.out"), "wb") as f:
        f.write(got)
    problems = []
    want_codes = [r.exit_code for r in s.runs]
    if not hung and codes != want_codes:
        problems.append(f"exit codes {codes}, expected {want_codes}")
    skip = s.differing_lines()
    want = scn.without_lines(s.output.encode("cp932"), skip)
    seen = scn.without_lines(got, skip)
    if seen != want:
        at = scn.first_difference(seen, want)
        problems.append(f"output differs at byte {at}: got {seen[at:at + 40]!r}, want {want[at:at + 40]!r}")
    state_lines = ["exit " + " ".join("none" if c is None else str(c) for c in codes)]
    for i, (fate, kind, fields) in enumerate(s.checks):
        is_there = i < len(present) and present[i] == "1"
        state_lines.append(f"{kind} {'|'.join(fields)} {'present' if is_there else 'absent'}")
        if is_there != (fate == "kept") and not s.differs_on(kind, fields):
            problems.append(f"{kind} {'|'.join(fields)} should be {fate}")
    with open(os.path.join(results, f"{s.name}.wine.state"), "w", encoding="utf-8") as f:
        f.write("".join(x + "\n" for x in state_lines))
    return problems


def run_scenario(s, build, results, show):
    e2e_bin = os.path.join(build, "e2e")
    work = os.path.join(build, "wine")
    os.makedirs(work, exist_ok=True)
    prefix = fresh_prefix(work, s.name)
    helper = os.path.join(prefix, "drive_c", "ztxe2e.exe")
    shutil.copy(os.path.join(e2e_bin, "ztxe2e.exe"), helper)
    background = []
    try:
        plan = os.path.join(prefix, "drive_c", "plan.txt")
        with open(plan, "w", encoding="cp932") as f:
            for kind, fields in s.plants:
                if kind in ("key", "value", "dir", "file", "readonly", "readonly-dir", "deny-delete"):
                    f.write(plan_line(kind, fields))
                elif kind == "open":
                    f.write(plan_line("file", fields))
        run_wine(prefix, [helper, "plant", r"C:\plan.txt"], check=True, stdout=subprocess.DEVNULL,
                 stderr=subprocess.DEVNULL, timeout=120)
        for kind, fields in s.plants:
            if kind == "link":
                # A Unix symbolic link inside the prefix: Wine reports it as a
                # reparse point, as Windows does a junction or symbolic link.
                link = unix_path(prefix, fields[0])
                os.makedirs(os.path.dirname(link), exist_ok=True)
                os.symlink(unix_path(prefix, fields[1]), link)
        for kind, fields in s.plants:
            if kind == "program":
                target = unix_path(prefix, fields[0])
                os.makedirs(os.path.dirname(target), exist_ok=True)
                shutil.copy(os.path.join(e2e_bin, f"idle_{fields[1]}.exe"), target)
                background.append(subprocess.Popen([WINE, fields[0]], env=wine_env(prefix),
                                                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                                   stderr=subprocess.DEVNULL))
            elif kind == "open":
                background.append(subprocess.Popen([WINE, helper, "hold", fields[0]], env=wine_env(prefix),
                                                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                                   stderr=subprocess.DEVNULL))
        if background:
            time.sleep(2)
        checks = os.path.join(prefix, "drive_c", "check.txt")
        with open(checks, "w", encoding="cp932") as f:
            for _, kind, fields in s.checks:
                f.write(plan_line(kind, fields))
        before = run_wine(prefix, [helper, "check", r"C:\check.txt"], capture_output=True,
                          timeout=120).stdout.decode().split() if show else []
        cur_dir = unix_path(prefix, scn.WINE_FOLDERS["CurrentDir"])
        place_tool(s, build, build, unix_path(prefix, scn.WINE_FOLDERS["ToolDir"]), cur_dir)
        got = b""
        outputs = []
        codes = []
        hung = False
        started = time.monotonic()
        for number, run in enumerate(s.runs, 1):
            in_file = os.path.join(work, f"{s.name}.{number}.in")
            out_file = os.path.join(work, f"{s.name}.{number}.out")
            err_file = os.path.join(work, f"{s.name}.{number}.err")
            with open(in_file, "wb") as f:
                f.write(run.input.encode("cp932"))
            with open(in_file, "rb") as fin, open(out_file, "wb") as fout, open(err_file, "wb") as ferr:
                try:
                    codes.append(subprocess.run([WINE, scn.WINE_FOLDERS["ToolDir"] + r"\ZTXCleanUp.exe"],
                                                env=wine_env(prefix), cwd=cur_dir, stdin=fin, stdout=fout,
                                                stderr=ferr, timeout=TOOL_TIMEOUT).returncode)
                except subprocess.TimeoutExpired:
                    hung = True
            with open(out_file, "rb") as f:
                # The C runtime writes each "\n" of a text-mode stream as "\r\n".
                outputs.append(f.read().replace(b"\r\n", b"\n"))
                got += outputs[-1]
            if hung:
                break
        seconds = time.monotonic() - started
        result = run_wine(prefix, [helper, "check", r"C:\check.txt"], capture_output=True, timeout=120)
        present = result.stdout.decode().split()
    finally:
        for p in background:
            p.kill()
        kill_prefix(prefix)
        shutil.rmtree(prefix, ignore_errors=True)

    problems = judge(s, codes, got, present, hung, results)
    if hung:
        problems.insert(0, f"the tool did not end within {TOOL_TIMEOUT} s")
    if show:
        for number, output in enumerate(outputs, 1):
            which = f"run {number} of {len(s.runs)}, " if len(s.runs) > 1 else ""
            print(f"--- {s.name}: {which}answer {s.runs[number - 1].input.strip()!r}, "
                  f"exit code {codes[number - 1] if number <= len(codes) else 'none'}, "
                  "console output (code page 932 decoded) ---")
            print(output.decode("cp932", errors="replace"))
        print("--- what was there before the run, and after it ---")
        for i, (fate, kind, fields) in enumerate(s.checks):
            was = "present" if i < len(before) and before[i] == "1" else "absent"
            now = "present" if i < len(present) and present[i] == "1" else "absent"
            print(f"  {was:>7} -> {now:7}  {kind} {'|'.join(fields)}")
            why = s.why_kept.get((kind, tuple(fields)))
            if now == "present" and why:
                print(f"                      stays: {why}")
    return problems, seconds


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default="build/win64")
    ap.add_argument("--results", default="build/scenario-results")
    ap.add_argument("--show", action="store_true", help="print the output and the state before and after")
    ap.add_argument("--no-check", action="store_true", help="show only; do not judge the run")
    ap.add_argument("scenarios", nargs="+")
    args = ap.parse_args()
    os.makedirs(args.results, exist_ok=True)
    passed = failed = 0
    for path in args.scenarios:
        s = scn.parse(path, "win64")
        problems, seconds = run_scenario(s, os.path.abspath(args.build), os.path.abspath(args.results),
                                         args.show)
        if args.no_check:
            continue
        if problems:
            failed += 1
            print(f"FAIL wine {s.name} ({seconds:.1f} s)")
            for p in problems:
                print(f"     {p}")
        else:
            passed += 1
            print(f"ok   wine {s.name} ({seconds:.1f} s)")
    if not args.no_check:
        print(f"wine: {passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
