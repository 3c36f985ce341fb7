"""Reads an end-to-end scenario file (see e2e/README.md for the format)."""

import codecs
import os
import re

# Folders as a 64-bit program sees them in a new Wine prefix; the host runner
# sets up the simulated Windows with the same values.
WINE_FOLDERS = {
    "ProgramFiles": r"C:\Program Files",
    "ProgramData": r"C:\ProgramData",
    "CommonPrograms": r"C:\ProgramData\Microsoft\Windows\Start Menu\Programs",
    "WinDir": r"C:\windows",
    "SystemDir": r"C:\windows\system32",
    "CurrentDir": r"C:\ztx",
    "ToolDir": r"C:\tool",
}

BANNER_RULE = "#" * 68 + "\n"
MACROS = {
    "@banner": BANNER_RULE + "#        製品情報フォルダ／レジストリ削除ツール「ZTXCleanUp」      #\n"
    + BANNER_RULE + "\n",
    "@question": "製品情報フォルダ／レジストリを削除します。続行しますか？(y/n):",
    "@again": "y/nで入力してください:",
    "@cancel": "処理はキャンセルされました\n",
    "@restart": "\n終了後はOSを再起動してください",
    "@run-again": "\n使用中のファイルが削除できていないため\nOS再起動後もう１度実行してください",
    "@closing": "\n何かキーを押すと終了します",
    "@dots": ".....",
}

PLANT_KINDS = {"key", "value", "dir", "file", "readonly", "open", "deny-delete", "program", "link"}
PROGRAM_KINDS = {"maker", "other", "fallback"}
CHECK_KINDS = {"key", "value", "path", "process"}


class Run:
    """One run of the tool: what is typed, what it must print, how it ends."""

    def __init__(self):
        self.input = ""
        self.output = ""   # UTF-8 text; "\n" as written by the tool
        self.exit_code = 0


class Difference:
    """Where Wine is known to differ from Windows: an output line (1-based,
    counted over the output of every run) or one check, left out of the
    comparison."""

    def __init__(self, kind, fields, reason):
        self.kind = kind       # "line" or a check kind
        self.fields = fields   # [line number] or the check's fields
        self.reason = reason


BUILDS = ("32-bit", "64-bit")


class Scenario:
    def __init__(self, path, bits=64):
        self.path = path
        self.bits = bits   # the build the scenario is read for: 32 or 64
        self.name = os.path.splitext(os.path.basename(path))[0]
        self.title = ""
        self.companion = "none"
        self.plants = []   # (kind, [fields])
        self.runs = [Run()]
        self.checks = []   # (fate, kind, [fields]) fate: gone/kept, judged after the last run
        self.differs = []  # Difference: what Wine is known to do differently

    @property
    def output(self):
        return "".join(r.output for r in self.runs)

    def differing_lines(self):
        return {int(d.fields[0]) for d in self.differs if d.kind == "line"}

    def differs_on(self, kind, fields):
        return any(d.kind == kind and d.fields == fields for d in self.differs)


def first_difference(a, b):
    """The offset of the first byte where a and b differ (the shorter length
    when one is the start of the other)."""
    return next((i for i in range(min(len(a), len(b))) if a[i] != b[i]), min(len(a), len(b)))


def without_lines(data, numbers, newline=b"\n"):
    """The bytes without the given lines (1-based), each line with its end."""
    lines = data.split(newline)
    kept = [line for i, line in enumerate(lines, 1) if i not in numbers]
    return newline.join(kept)


def unescape(text):
    return codecs.decode(text.encode("utf-8").decode("unicode_escape").encode("latin-1"), "utf-8")


def expand(text):
    return re.sub(r"%(\w+)%", lambda m: WINE_FOLDERS[m.group(1)], text)


def parse(path, bits=64):
    """Reads the scenario as the build of that many bits runs it: a line that
    starts with "32-bit" or "64-bit" belongs to that build only."""
    s = Scenario(path, bits)
    with open(path, encoding="utf-8") as f:
        for number, raw in enumerate(f, 1):
            line = raw.rstrip("\n")
            if not line.strip() or line.lstrip().startswith("#"):
                continue
            word, _, rest = line.partition(" ")
            where = f"{path}:{number}"
            if word in BUILDS:
                if rest.partition(" ")[0] not in ("out", "exit", "gone", "kept", "differs"):
                    raise ValueError(f"{where}: {word} goes before out, exit, gone, kept or differs")
                if word != f"{bits}-bit":
                    continue
                word, _, rest = rest.partition(" ")
            if word == "title":
                s.title = rest
            elif word == "input":
                s.runs[-1].input += unescape(rest)
            elif word == "next-run":
                s.runs.append(Run())
            elif word == "companion":
                if rest not in ("none", "stub", "stub-fail", "real"):
                    raise ValueError(f"{where}: companion is none, stub, stub-fail or real")
                s.companion = rest
            elif word == "plant":
                kind, _, fields = rest.partition(" ")
                if kind not in PLANT_KINDS:
                    raise ValueError(f"{where}: unknown plant kind {kind}")
                values = [expand(x) for x in fields.split("|")]
                if kind == "link" and len(values) != 2:
                    raise ValueError(f"{where}: plant link PATH|TARGET")
                if kind == "program" and (len(values) != 2 or values[1] not in PROGRAM_KINDS):
                    raise ValueError(f"{where}: plant program PATH|maker, |other or |fallback")
                s.plants.append((kind, values))
            elif word == "out":
                s.runs[-1].output += MACROS[rest] if rest in MACROS else unescape(rest)
            elif word == "exit":
                s.runs[-1].exit_code = int(rest)
            elif word in ("gone", "kept"):
                kind, _, fields = rest.partition(" ")
                if kind not in CHECK_KINDS:
                    raise ValueError(f"{where}: unknown check kind {kind}")
                s.checks.append((word, kind, [expand(x) for x in fields.split("|")]))
            elif word == "differs":
                what, sep, reason = rest.partition(" -- ")
                kind, _, fields = what.partition(" ")
                if not sep or (kind != "line" and kind not in CHECK_KINDS):
                    raise ValueError(f"{where}: differs line N -- REASON, or differs KIND FIELDS -- REASON")
                values = [fields] if kind == "line" else [expand(x) for x in fields.split("|")]
                if kind == "line" and not fields.isdigit():
                    raise ValueError(f"{where}: differs line takes a line number")
                if kind != "line" and not any(c[1] == kind and c[2] == values for c in s.checks):
                    raise ValueError(f"{where}: differs names no check above it")
                s.differs.append(Difference(kind, values, reason))
            else:
                raise ValueError(f"{where}: unknown directive {word}")
    return s
