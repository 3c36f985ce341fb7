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

PLANT_KINDS = {"key", "value", "dir", "file", "open", "program"}
CHECK_KINDS = {"key", "value", "path", "process"}


class Scenario:
    def __init__(self, path):
        self.path = path
        self.name = os.path.splitext(os.path.basename(path))[0]
        self.title = ""
        self.input = ""
        self.companion = "none"
        self.plants = []   # (kind, [fields])
        self.output = ""   # UTF-8 text; "\n" as written by the tool
        self.exit_code = 0
        self.checks = []   # (fate, kind, [fields]) fate: gone/kept
        self.differs = []  # what Wine is known to do differently


def unescape(text):
    return codecs.decode(text.encode("utf-8").decode("unicode_escape").encode("latin-1"), "utf-8")


def expand(text):
    return re.sub(r"%(\w+)%", lambda m: WINE_FOLDERS[m.group(1)], text)


def parse(path):
    s = Scenario(path)
    with open(path, encoding="utf-8") as f:
        for number, raw in enumerate(f, 1):
            line = raw.rstrip("\n")
            if not line.strip() or line.lstrip().startswith("#"):
                continue
            word, _, rest = line.partition(" ")
            where = f"{path}:{number}"
            if word == "title":
                s.title = rest
            elif word == "input":
                s.input += unescape(rest)
            elif word == "companion":
                if rest not in ("none", "stub", "stub-fail", "real"):
                    raise ValueError(f"{where}: companion is none, stub, stub-fail or real")
                s.companion = rest
            elif word == "plant":
                kind, _, fields = rest.partition(" ")
                if kind not in PLANT_KINDS:
                    raise ValueError(f"{where}: unknown plant kind {kind}")
                s.plants.append((kind, [expand(x) for x in fields.split("|")]))
            elif word == "out":
                s.output += MACROS[rest] if rest in MACROS else unescape(rest)
            elif word == "exit":
                s.exit_code = int(rest)
            elif word in ("gone", "kept"):
                kind, _, fields = rest.partition(" ")
                if kind not in CHECK_KINDS:
                    raise ValueError(f"{where}: unknown check kind {kind}")
                s.checks.append((word, kind, [expand(x) for x in fields.split("|")]))
            elif word == "differs":
                s.differs.append(rest)
            else:
                raise ValueError(f"{where}: unknown directive {word}")
    return s
