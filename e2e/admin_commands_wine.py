#!/usr/bin/env python3
"""Runs the command lines that the administrators' text shows, exactly as
written there, under Wine with the 64-bit build and our companion in
C:\\Program Files\\ZTXCleanUp, each in a throwaway prefix holding a small installation; and the shipped start-up
script ztxrun.cmd (dist/, code page 932) once for each exit code it gives.

Each command must appear verbatim in docs/dist/README.txt. Each run must end
by itself (no key wait without a console), print the output the text
promises (to the file it names), leave the product removed (or kept, where a
file is held open) and end with the exit code the text promises. The
commands run from a batch file, which then writes their exit code to a file:
Wine hands a Unix parent only its low 8 bits (3010 arrives as 194).

Wine 8.0's findstr is a stub (it prints nothing and exits with 0), so these
prefixes get e2e/programs/findstr_model.cpp in its place.

usage: admin_commands_wine.py [--build DIR] [--text FILE] [--script FILE] [--case TEXT]
"""

import argparse
import os
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import scenario as scn  # noqa: E402
import wine_run  # noqa: E402

# The package folder: one users cannot write.
FOLDER = r"C:\Program Files\ZTXCleanUp"

# The lines a person types at a command prompt, for one machine.
TYPED = [
    r'cd /d "C:\Program Files\ZTXCleanUp"',
    r'echo y| ZTXCleanUp.exe > "C:\Program Files\ZTXCleanUp\result.txt"',
]
# What a software-distribution system runs in the package folder.
DISTRIBUTION = "cmd /c ztxrun.cmd"
# What a remote shell (PsExec, winrs) runs on the other machine.
REMOTE = r'cmd /c "C:\Program Files\ZTXCleanUp\ztxrun.cmd"'
# Windows 98 and Me have no "cd /d"; the line names the tool's path instead.
NINE_X = r'echo y| "C:\Program Files\ZTXCleanUp\ZTXCleanUp.exe"'
# The mistake the text warns of: a blank before the bar is part of the answer.
SPACED = r"echo y | ZTXCleanUp.exe"
# The start-up script's output file unless an argument names another.
SCRIPT_OUT = r"C:\windows\ZTXCleanUp.txt"
SCRATCH = (".all", ".lines", ".known")

M = scn.MACROS
NOTHING = M["@banner"] + M["@question"] + M["@restart"] + M["@closing"]
REMOVED = (M["@banner"] + M["@question"] + M["@dots"] + "製品レジストリを削除しました\n" + M["@dots"]
           + "LSPを削除しました\n" + M["@dots"] + "アンインストール情報レジストリを削除しました\n"
           + M["@restart"] + M["@closing"])
DLL_HELD = (M["@banner"] + M["@question"] + M["@dots"] + "製品レジストリを削除しました\n" + M["@dots"]
            + "LSPの削除に失敗しました\n" + M["@dots"] + "アンインストール情報レジストリを削除しました\n"
            + M["@run-again"] + M["@closing"])
NO_COMPANION = (M["@banner"] + M["@question"] + M["@dots"] + "製品レジストリを削除しました\n" + M["@dots"]
                + "LSPの削除に失敗しました。ztxins64.exeがみつかりません\n" + M["@dots"]
                + "アンインストール情報レジストリを削除しました\n" + M["@run-again"] + M["@closing"])
CANCELLED = M["@banner"] + M["@question"] + M["@again"] + M["@cancel"] + M["@closing"]
NO_TOOL = "ztxrun.cmd: ZTXCleanUp.exe is not in the folder of ztxrun.cmd\n"

PLANTS = [
    ("key", [r"HKLM\SOFTWARE\Varlume\ZTX\Settings"]),
    ("value", [r"HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\{6E2C41D8-93AF-4B07-A1C5-2F8D07E4B913}",
               "DisplayName", "ZTX Web Filter"]),
    ("file", [scn.WINE_FOLDERS["CommonPrograms"] + r"\ZTX Web Filter\Settings.lnk"]),
    ("file", [r"C:\windows\ztxlsp.dll"]),
    ("file", [r"C:\windows\ztxlsp64.dll"]),
]
CHECKS = [
    ("key", [r"HKLM\SOFTWARE\Varlume\ZTX"]),
    ("key", [r"HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\{6E2C41D8-93AF-4B07-A1C5-2F8D07E4B913}"]),
    ("path", [scn.WINE_FOLDERS["CommonPrograms"] + r"\ZTX Web Filter"]),
    ("path", [r"C:\windows\ztxlsp64.dll"]),
]
GONE = [False, False, False, False]
NOTHING_GONE = [True, True, True, True]
DLL_KEPT = [False, False, False, True]
ALL_FILES = ("ZTXCleanUp.exe", "ztxins64.exe", "ztxrun.cmd")


class Case:
    def __init__(self, label, lines, cwd, out_file, want_out, want_code, want_present, text_lines,
                 folder=FOLDER, files=ALL_FILES, plant=True, hold=None, locale=None, want_stdout=None,
                 findstr_fails=None):
        self.label = label
        self.lines = lines            # the batch file that runs the command(s)
        self.cwd = cwd                # its current folder (Windows path)
        self.out_file = out_file      # where the command puts the tool's output; None: standard output
        self.want_out = want_out
        self.want_code = want_code    # the exit code of the last line
        self.want_present = want_present
        self.text_lines = text_lines  # must appear verbatim in the text
        self.folder = folder          # where the tool, the companion and the script lie
        self.files = files            # which of them are there
        self.plant = plant            # a small installation, or a clean machine
        self.hold = hold              # a file held open during the run
        self.locale = locale          # LC_ALL for Wine: its code pages (ja_JP: 932 for OEM and ANSI)
        self.want_stdout = want_stdout  # also judged on standard output (ztxrun.cmd types the output)
        self.findstr_fails = findstr_fails  # the options of the findstr calls that fail (the model's knob)


CASES = [
    Case("typed at a command prompt (one machine)", TYPED, r"C:\windows", FOLDER + r"\result.txt",
         REMOVED, 0, GONE, TYPED, files=ALL_FILES[:2]),
    Case("Windows 98/Me line, here without the companion in the current folder", [NINE_X], r"C:\windows",
         None, NO_COMPANION, 0, DLL_KEPT, [NINE_X], files=ALL_FILES[:2]),
    Case("a blank before the bar: a wrong answer, then a cancel", [SPACED], FOLDER, None, CANCELLED, 0,
         NOTHING_GONE, [SPACED], files=ALL_FILES[:2]),
    # ztxrun.cmd, once for each exit code.
    Case("ztxrun.cmd, distribution system, nothing found: 0", [DISTRIBUTION], FOLDER, SCRIPT_OUT, NOTHING, 0,
         [False] * 4, [DISTRIBUTION], plant=False),
    Case("ztxrun.cmd, started from another folder, console code page 932, removed: 3010", [REMOTE],
         r"C:\windows\system32", SCRIPT_OUT, REMOVED, 3010, GONE, [REMOTE], locale="ja_JP.UTF-8",
         want_stdout=REMOVED + "\n"),
    Case("ztxrun.cmd, remote shell, a DLL in use: 1", [REMOTE], r"C:\windows\system32", SCRIPT_OUT, DLL_HELD, 1,
         DLL_KEPT, [REMOTE], hold=r"C:\windows\ztxlsp64.dll", want_stdout=DLL_HELD + "\n"),
    Case("ztxrun.cmd, output file named, the companion missing: 1", [r'cmd /c ztxrun.cmd "C:\ZTX logs\PC 01.txt"'],
         FOLDER, r"C:\ZTX logs\PC 01.txt", NO_COMPANION, 1, DLL_KEPT, [],
         files=("ZTXCleanUp.exe", "ztxrun.cmd")),
    # The look for lines it does not know fails: no verdict is 2, never 3010.
    Case("ztxrun.cmd, removed, but findstr cannot judge the lines: 2", [DISTRIBUTION], FOLDER, SCRIPT_OUT,
         REMOVED, 2, GONE, [DISTRIBUTION], findstr_fails="/V /X"),
    Case("ztxrun.cmd, the tool missing: 2", [DISTRIBUTION], FOLDER, SCRIPT_OUT, NO_TOOL, 2, NOTHING_GONE,
         [DISTRIBUTION], files=("ztxins64.exe", "ztxrun.cmd")),
]


def find_unix_path(prefix, win_path):
    """The file's path in the prefix, its names matched without regard to
    case as Windows matches them; None when it is not there."""
    path = os.path.join(prefix, "drive_c")
    for name in win_path[3:].split("\\"):
        if not os.path.isdir(path):
            return None
        match = [n for n in os.listdir(path) if n.lower() == name.lower()]
        if not match:
            return None
        path = os.path.join(path, match[0])
    return path


def write_cmd(path, lines):
    with open(path, "wb") as f:
        f.write("".join(line + "\r\n" for line in lines).encode("ascii"))


def case_env(prefix, case):
    env = wine_run.wine_env(prefix)
    env["WINEDLLOVERRIDES"] += ";findstr.exe=n"
    if case.locale:
        env["LC_ALL"] = case.locale
    if case.findstr_fails:
        env["FINDSTR_MODEL_FAIL"] = case.findstr_fails
    return env


def run_case(case, build, script, work):
    prefix = wine_run.fresh_prefix(work, "admin")
    helper = os.path.join(prefix, "drive_c", "ztxe2e.exe")
    shutil.copy(os.path.join(build, "e2e", "ztxe2e.exe"), helper)
    shutil.copy(os.path.join(build, "e2e", "findstr.exe"), wine_run.unix_path(prefix, r"C:\windows\system32"))
    env = case_env(prefix, case)
    background = []
    try:
        with open(os.path.join(prefix, "drive_c", "plan.txt"), "w", encoding="cp932") as f:
            f.writelines(wine_run.plan_line(kind, fields) for kind, fields in PLANTS if case.plant)
            f.write(wine_run.plan_line("dir", [r"C:\ZTX logs"]))
        with open(os.path.join(prefix, "drive_c", "check.txt"), "w", encoding="cp932") as f:
            f.writelines(wine_run.plan_line(kind, fields) for kind, fields in CHECKS)
        wine_run.run_wine(prefix, [helper, "plant", r"C:\plan.txt"], check=True, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL, timeout=120)
        folder = wine_run.unix_path(prefix, case.folder)
        os.makedirs(folder, exist_ok=True)
        sources = {"ZTXCleanUp.exe": os.path.join(build, "ZTXCleanUp.exe"),
                   "ztxins64.exe": os.path.join(build, "ztxins64.exe"), "ztxrun.cmd": script}
        for name in case.files:
            shutil.copy(sources[name], folder)
        write_cmd(wine_run.unix_path(prefix, r"C:\run.cmd"),
                  ["@echo off"] + case.lines + [r"> C:\exitcode.txt echo %errorlevel%"])
        if case.hold:
            background.append(subprocess.Popen([wine_run.WINE, helper, "hold", case.hold], env=env,
                                               stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                               stderr=subprocess.DEVNULL))
            time.sleep(2)
        stdout_file = os.path.join(work, "admin.out")
        hung = False
        with open(stdout_file, "wb") as out:
            try:
                subprocess.run([wine_run.WINE, "cmd", "/c", r"C:\run.cmd"], env=env,
                               cwd=wine_run.unix_path(prefix, case.cwd), stdin=subprocess.DEVNULL,
                               stdout=out, stderr=subprocess.DEVNULL, timeout=wine_run.TOOL_TIMEOUT)
            except subprocess.TimeoutExpired:
                hung = True
        with open(wine_run.unix_path(prefix, r"C:\exitcode.txt"), "rb") as f:
            code = int(f.read().strip() or b"-1") if not hung else None
        stdout = open(stdout_file, "rb").read()
        got_file = find_unix_path(prefix, case.out_file) if case.out_file else stdout_file
        got = open(got_file, "rb").read() if got_file else b""
        left = [case.out_file + s for s in SCRATCH if case.out_file and find_unix_path(prefix, case.out_file + s)]
        result = wine_run.run_wine(prefix, [helper, "check", r"C:\check.txt"], capture_output=True, timeout=120)
        present = [x == "1" for x in result.stdout.decode().split()]
    finally:
        for p in background:
            p.kill()
        wine_run.kill_prefix(prefix)
        shutil.rmtree(prefix, ignore_errors=True)

    problems = []
    if hung:
        problems.append(f"did not end within {wine_run.TOOL_TIMEOUT} s")
    for what, seen, expected in (("output", got, case.want_out), ("standard output", stdout, case.want_stdout)):
        if expected is None:
            continue
        want = expected.encode("cp932")
        seen = seen.replace(b"\r\n", b"\n")
        if seen != want:
            at = scn.first_difference(seen, want)
            problems.append(f"{what} differs at byte {at}: got {seen[at:at + 40]!r}, want {want[at:at + 40]!r}")
    if code != case.want_code:
        problems.append(f"exit code {code}, expected {case.want_code}")
    if present != case.want_present:
        problems.append(f"present afterwards {present}, expected {case.want_present} for {CHECKS}")
    if left:
        problems.append(f"left behind: {left}")
    return problems


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default="build/win64")
    ap.add_argument("--text", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "docs",
                                                   "dist", "README.txt"))
    ap.add_argument("--script", default="dist/ztxrun.cmd", help="the shipped start-up script (scripts/build.sh)")
    ap.add_argument("--case", default="", help="only the cases whose label holds this text")
    args = ap.parse_args()
    script = os.path.abspath(args.script)
    build = os.path.abspath(args.build)
    work = os.path.join(build, "wine")
    os.makedirs(work, exist_ok=True)
    text = open(args.text, encoding="utf-8").read()
    failed = 0
    cases = [c for c in CASES if args.case in c.label]
    for case in cases:
        problems = [f"the text does not show: {line}" for line in case.text_lines if line not in text]
        started = time.monotonic()
        if not problems:
            problems = run_case(case, build, script, work)
        seconds = time.monotonic() - started
        if problems:
            failed += 1
            print(f"FAIL wine {case.label} ({seconds:.1f} s)")
            for p in problems:
                print(f"     {p}")
        else:
            print(f"ok   wine {case.label} ({seconds:.1f} s)")
    print(f"administrators' commands: {len(cases) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
