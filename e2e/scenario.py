"""Reads an end-to-end scenario file (see e2e/README.md for the format)."""

import codecs
import os
import re

# The settings a scenario runs in: the 64-bit build on 64-bit Wine (win64),
# and the shipped 32-bit tool on 64-bit Windows 7 as a WOW64 process (wow64),
# on 32-bit Windows 7 (win7-32) and on 32-bit Wine posing as XP, 2000 or 98.
SETTINGS = ("win64", "wow64", "win7-32", "winxp", "win2000", "win98")
# Qualifiers that name several settings: the Windows is 32-bit or 64-bit.
GROUPS = {"32-bit": ("win7-32", "winxp", "win2000", "win98"), "64-bit": ("win64", "wow64")}
# Directives that qualifiers may stand before.
QUALIFIED = ("plant", "out", "exit", "gone", "kept", "differs")

SETTINGS_FILE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "settings.txt")
SCENARIO_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "scenarios")

# Folders as a 64-bit program sees them in a new Wine prefix; the host runner
# sets up the simulated Windows with the same values. Wine keeps them whatever
# Windows its version setting names. "Software" is HKLM's SOFTWARE key.
WINE_FOLDERS = {
    "ProgramFiles": r"C:\Program Files",
    "Software": r"HKLM\SOFTWARE",
    "ProgramData": r"C:\ProgramData",
    "CommonPrograms": r"C:\ProgramData\Microsoft\Windows\Start Menu\Programs",
    "AppData": r"C:\users\root\AppData\Roaming",
    "Programs": r"C:\users\root\AppData\Roaming\Microsoft\Windows\Start Menu\Programs",
    "WinDir": r"C:\windows",
    "SystemDir": r"C:\windows\system32",
    "CurrentDir": r"C:\ztx",
    "ToolDir": r"C:\tool",
}


def folders(setting):
    """The folders of the setting: the Program Files folder and the SOFTWARE
    key are those the tool sees by default, for a WOW64 program the 32-bit
    ones; everything else lies where WINE_FOLDERS says."""
    if setting not in SETTINGS:
        raise ValueError(f"unknown setting {setting}")
    f = dict(WINE_FOLDERS)
    if setting == "wow64":
        f["ProgramFiles"] = r"C:\Program Files (x86)"
        f["Software"] = r"HKLM\SOFTWARE\Wow6432Node"
    return f


def settings(path=SETTINGS_FILE, scenario_dir=SCENARIO_DIR):
    """The settings of e2e/settings.txt in their order, as (name, [scenario
    file names]); "all" stands for every scenario file, in name order."""
    every = sorted(n for n in os.listdir(scenario_dir) if n.endswith(".scn"))
    result = []
    with open(path, encoding="utf-8") as f:
        for number, raw in enumerate(f, 1):
            words = raw.partition("#")[0].split()
            if not words:
                continue
            name, names = words[0], words[1:]
            if name not in SETTINGS or name == "win64":
                raise ValueError(f"{path}:{number}: {name} is no setting of the 32-bit tool")
            files = []
            for n in names:
                if n == "all":
                    files += every
                elif n + ".scn" in every:
                    files.append(n + ".scn")
                else:
                    raise ValueError(f"{path}:{number}: no scenario {n}")
            result.append((name, files))
    return result


def qualifier_holds(word, setting):
    """Whether the comma-separated qualifiers name the setting; an unknown
    one is an error."""
    holds = False
    for q in word.split(","):
        if q not in SETTINGS and q not in GROUPS:
            raise ValueError(f"unknown qualifier {q}")
        holds = holds or q == setting or setting in GROUPS.get(q, ())
    return holds

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

PLANT_KINDS = {"key", "value", "dir", "file", "readonly", "readonly-dir", "open", "deny-delete", "program", "link"}
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


DIRECTIVES = ("title", "input", "next-run", "companion") + QUALIFIED


class Scenario:
    def __init__(self, path, setting="win64"):
        self.path = path
        self.setting = setting   # the setting the scenario is read for
        self.name = os.path.splitext(os.path.basename(path))[0]
        self.title = ""
        self.companion = "none"
        self.plants = []   # (kind, [fields])
        self.runs = [Run()]
        self.checks = []   # (fate, kind, [fields]) fate: gone/kept, judged after the last run
        self.why_kept = {}  # (kind, fields) of a check: why it stays, for the demo
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


def expand(text, setting="win64"):
    places = folders(setting)

    def place(m):
        if m.group(1) not in places:
            raise ValueError(f"unknown folder %{m.group(1)}%")
        return places[m.group(1)]
    return re.sub(r"%(\w+)%", place, text)


def parse(path, setting="win64"):
    """Reads the scenario for one setting: a line that starts with qualifiers
    ("win98,win2000 out ...", "32-bit gone ...") holds only in the settings
    they name, and paths are expanded as that setting lays the machine out."""
    if setting not in SETTINGS:
        raise ValueError(f"unknown setting {setting!r}; the settings are {', '.join(SETTINGS)}")
    s = Scenario(path, setting)
    with open(path, encoding="utf-8") as f:
        for number, raw in enumerate(f, 1):
            line = raw.rstrip("\n")
            if not line.strip() or line.lstrip().startswith("#"):
                continue
            word, _, rest = line.partition(" ")
            where = f"{path}:{number}"
            if word not in DIRECTIVES:
                try:
                    holds = qualifier_holds(word, setting)
                except ValueError as e:
                    raise ValueError(f"{where}: unknown directive {word}, or {e}") from None
                if rest.partition(" ")[0] not in QUALIFIED:
                    raise ValueError(f"{where}: qualifiers go before {', '.join(QUALIFIED)}")
                if not holds:
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
                values = [expand(x, setting) for x in fields.split("|")]
                if kind == "link" and len(values) != 2:
                    raise ValueError(f"{where}: plant link PATH|TARGET")
                if kind == "program" and (len(values) not in (2, 3) or values[1] not in PROGRAM_KINDS
                                          or values[2:] not in ([], ["64"])):
                    raise ValueError(f"{where}: plant program PATH|maker, |other or |fallback, then |64 "
                                     "for a 64-bit program on 64-bit Windows")
                s.plants.append((kind, values))
            elif word == "out":
                s.runs[-1].output += MACROS[rest] if rest in MACROS else unescape(rest)
            elif word == "exit":
                s.runs[-1].exit_code = int(rest)
            elif word in ("gone", "kept"):
                rest, _, why = rest.partition(" -- ")
                kind, _, fields = rest.partition(" ")
                if kind not in CHECK_KINDS:
                    raise ValueError(f"{where}: unknown check kind {kind}")
                values = [expand(x, setting) for x in fields.split("|")]
                s.checks.append((word, kind, values))
                if why:
                    s.why_kept[(kind, tuple(values))] = why
            elif word == "differs":
                what, sep, reason = rest.partition(" -- ")
                kind, _, fields = what.partition(" ")
                if not sep or (kind != "line" and kind not in CHECK_KINDS):
                    raise ValueError(f"{where}: differs line N -- REASON, or differs KIND FIELDS -- REASON")
                values = [fields] if kind == "line" else [expand(x, setting) for x in fields.split("|")]
                if kind == "line" and not fields.isdigit():
                    raise ValueError(f"{where}: differs line takes a line number")
                if kind != "line" and not any(c[1] == kind and c[2] == values for c in s.checks):
                    raise ValueError(f"{where}: differs names no check above it")
                s.differs.append(Difference(kind, values, reason))
            else:
                raise ValueError(f"{where}: unknown directive {word}")
    return s


def dump(s):
    """The scenario as read, one item a line, in the form the host runner's
    reader gives it too (tests/scenario_test.cpp compares the two)."""
    lines = [f"scenario {s.name} {s.setting}", f"title {s.title}", f"companion {s.companion}"]
    lines += [f"plant {kind} {'|'.join(fields)}" for kind, fields in s.plants]
    for r in s.runs:
        lines += [f"run {r.input.encode('utf-8').hex()} {r.output.encode('utf-8').hex()} {r.exit_code}"]
    lines += [f"{fate} {kind} {'|'.join(fields)}" for fate, kind, fields in s.checks]
    lines += [f"differs {d.kind} {'|'.join(d.fields)}" for d in s.differs]
    return "\n".join(lines) + "\n"


if __name__ == "__main__":
    import sys
    # Every scenario as win64 reads it, then every setting's as that setting reads it.
    every = sorted(n for n in os.listdir(SCENARIO_DIR) if n.endswith(".scn"))
    for setting, files in [("win64", every)] + settings():
        for name in files:
            sys.stdout.write(dump(parse(os.path.join(SCENARIO_DIR, name), setting)))
