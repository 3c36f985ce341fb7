#!/usr/bin/env python3
"""Runs the command lines that the administrators' text shows, exactly as
written there, under Wine with the 64-bit build and our companion in
C:\\Program Files\\ZTXCleanUp, each in a throwaway prefix holding a small installation.

Each command must appear verbatim in docs/dist/README.txt. Each run must end
by itself (no key wait without a console), print the summary the text
promises, leave the product removed (or kept, where a file is held open) and
end with the exit code the text promises.

usage: admin_commands_wine.py [--build DIR] [--text FILE]
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

FOLDER = r"C:\Program Files\ZTXCleanUp"

# The lines a person types at a command prompt, for one machine.
TYPED = [
    r'cd /d "C:\Program Files\ZTXCleanUp"',
    r'echo y| ZTXCleanUp.exe > "C:\Program Files\ZTXCleanUp\result.txt"',
]
# The script beside the two files, for a start-up script or a distribution
# system.
SCRIPT_NAME = "ztxrun.cmd"
SCRIPT = [
    "@echo off",
    'pushd "%~dp0"',
    r'echo y| ZTXCleanUp.exe > "%SystemRoot%\Temp\ZTXCleanUp.txt"',
    "popd",
]
# What a remote shell (PsExec, winrs) runs on the other machine.
REMOTE = r'cmd /c "cd /d C:\Program Files\ZTXCleanUp && echo y| ZTXCleanUp.exe"'
# Windows 98 and Me have no "cd /d"; the line names the tool's path instead.
NINE_X = r'echo y| "C:\Program Files\ZTXCleanUp\ZTXCleanUp.exe"'
# The mistake the text warns of: a blank before the bar is part of the answer.
SPACED = r"echo y | ZTXCleanUp.exe"

M = scn.MACROS
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


class Case:
    def __init__(self, label, args, cwd, out_file, want_out, want_code, want_present, text_lines,
                 script=None, hold=None):
        self.label = label
        self.args = args              # what Wine starts (it quotes an argument holding blanks)
        self.cwd = cwd                # its current folder (Windows path)
        self.out_file = out_file      # where the command puts the tool's output; None: standard output
        self.want_out = want_out
        self.want_code = want_code    # None: not judged (a script ends with its last command's code)
        self.want_present = want_present
        self.text_lines = text_lines  # must appear verbatim in the text
        self.script = script          # (Windows path, lines) written before the run
        self.hold = hold              # a file held open during the run


CASES = [
    Case("typed at a command prompt (one machine)", ["cmd", "/c", r"C:\typed.cmd"], r"C:\windows",
         FOLDER + r"\result.txt", REMOVED, 0, GONE, TYPED, script=(r"C:\typed.cmd", TYPED)),
    Case("start-up script, started from another folder", ["cmd", "/c", FOLDER + "\\" + SCRIPT_NAME],
         r"C:\windows\system32", r"C:\windows\Temp\ZTXCleanUp.txt", REMOVED, 0, GONE, SCRIPT,
         script=(FOLDER + "\\" + SCRIPT_NAME, SCRIPT)),
    Case("distribution system, started in the package folder", ["cmd", "/c", SCRIPT_NAME], FOLDER,
         r"C:\windows\Temp\ZTXCleanUp.txt", REMOVED, 0, GONE, SCRIPT + ["cmd /c " + SCRIPT_NAME],
         script=(FOLDER + "\\" + SCRIPT_NAME, SCRIPT)),
    Case("remote shell, a DLL held open: run again, exit code 0", ["cmd", "/c", REMOTE[len('cmd /c "'):-1]],
         r"C:\windows\system32", None, DLL_HELD, 0, [False, False, False, True], [REMOTE],
         hold=r"C:\windows\ztxlsp64.dll"),
    # In a batch file: Wine would pass the line's own quotes escaped.
    Case("Windows 98/Me line, here without the companion in the current folder", ["cmd", "/c", r"C:\ninex.cmd"],
         r"C:\windows", None, NO_COMPANION, 0, [False, False, False, True], [NINE_X],
         script=(r"C:\ninex.cmd", ["@" + NINE_X])),
    Case("a blank before the bar: a wrong answer, then a cancel", ["cmd", "/c", SPACED], FOLDER, None,
         CANCELLED, 0, NOTHING_GONE, [SPACED]),
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


def run_case(case, build, work):
    prefix = wine_run.fresh_prefix(work, "admin")
    helper = os.path.join(prefix, "drive_c", "ztxe2e.exe")
    shutil.copy(os.path.join(build, "e2e", "ztxe2e.exe"), helper)
    background = []
    try:
        with open(os.path.join(prefix, "drive_c", "plan.txt"), "w", encoding="cp932") as f:
            f.writelines(wine_run.plan_line(kind, fields) for kind, fields in PLANTS)
        with open(os.path.join(prefix, "drive_c", "check.txt"), "w", encoding="cp932") as f:
            f.writelines(wine_run.plan_line(kind, fields) for kind, fields in CHECKS)
        wine_run.run_wine(prefix, [helper, "plant", r"C:\plan.txt"], check=True, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL, timeout=120)
        folder = wine_run.unix_path(prefix, FOLDER)
        os.makedirs(folder, exist_ok=True)
        shutil.copy(os.path.join(build, "ZTXCleanUp.exe"), folder)
        shutil.copy(os.path.join(build, "ztxins64.exe"), folder)
        if case.script:
            write_cmd(wine_run.unix_path(prefix, case.script[0]), case.script[1])
        if case.hold:
            background.append(subprocess.Popen([wine_run.WINE, helper, "hold", case.hold],
                                               env=wine_run.wine_env(prefix), stdin=subprocess.DEVNULL,
                                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
            time.sleep(2)
        stdout_file = os.path.join(work, "admin.out")
        hung = False
        code = None
        with open(stdout_file, "wb") as out:
            try:
                code = subprocess.run([wine_run.WINE] + case.args, env=wine_run.wine_env(prefix),
                                      cwd=wine_run.unix_path(prefix, case.cwd), stdin=subprocess.DEVNULL,
                                      stdout=out, stderr=subprocess.DEVNULL,
                                      timeout=wine_run.TOOL_TIMEOUT).returncode
            except subprocess.TimeoutExpired:
                hung = True
        got_file = find_unix_path(prefix, case.out_file) if case.out_file else stdout_file
        got = open(got_file, "rb").read() if got_file else b""
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
    want = case.want_out.encode("cp932")
    got = got.replace(b"\r\n", b"\n")
    if got != want:
        at = scn.first_difference(got, want)
        problems.append(f"output differs at byte {at}: got {got[at:at + 40]!r}, want {want[at:at + 40]!r}")
    if case.want_code is not None and code != case.want_code:
        problems.append(f"exit code {code}, expected {case.want_code}")
    if present != case.want_present:
        problems.append(f"present afterwards {present}, expected {case.want_present} for {CHECKS}")
    return problems


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default="build/win64")
    ap.add_argument("--text", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "docs",
                                                   "dist", "README.txt"))
    args = ap.parse_args()
    build = os.path.abspath(args.build)
    work = os.path.join(build, "wine")
    os.makedirs(work, exist_ok=True)
    text = open(args.text, encoding="utf-8").read()
    failed = 0
    for case in CASES:
        problems = [f"the text does not show: {line}" for line in case.text_lines if line not in text]
        started = time.monotonic()
        if not problems:
            problems = run_case(case, build, work)
        seconds = time.monotonic() - started
        if problems:
            failed += 1
            print(f"FAIL wine {case.label} ({seconds:.1f} s)")
            for p in problems:
                print(f"     {p}")
        else:
            print(f"ok   wine {case.label} ({seconds:.1f} s)")
    print(f"administrators' commands: {len(CASES) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
