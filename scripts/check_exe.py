#!/usr/bin/python3
"""Checks the 32-bit ZTXCleanUp.exe: machine, subsystem, imports, manifest and
version resource. Every import must be listed in every export list given (one
per Windows the tool supports, e.g. Windows 98 and Windows 2000), and none may
be an entry point that the tool looks up by name at run time, and only DLLs
that Windows takes from the system folder alone may be imported.

usage: check_exe.py EXE EXPORT_LIST [EXPORT_LIST...]"""

import os
import re
import sys

import pefile  # Debian package python3-pefile

SOURCE_ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# Every folder of the product's code is scanned: all top-level folders but
# the test equipment and the build outputs, so a new or moved folder cannot
# slip past the scan.
NOT_PRODUCT = {"build", "dist", "docs", "e2e", "scripts", "simwin", "tests", "tools", "res", "cmake"}


def source_dirs(root):
    return sorted(d for d in os.listdir(root)
                  if os.path.isdir(os.path.join(root, d)) and not d.startswith(".") and d not in NOT_PRODUCT)

# Looked up by name at run time: older Windows lacks them, so importing one
# would stop the tool from loading there. The sources are scanned for more
# (BOUND_BY_NAME); this list stays as a floor should the scan ever miss one.
BY_NAME = {
    "IsWow64Process", "GetNativeSystemInfo", "Wow64DisableWow64FsRedirection",
    "Wow64RevertWow64FsRedirection", "CreateToolhelp32Snapshot", "Process32First", "Process32Next",
    "EnumProcesses", "EnumProcessModules", "GetModuleFileNameExA", "VDMEnumTaskWOWEx",
    "AddAccessAllowedAceEx", "GetAclInformation", "GetFileSecurityA", "GetSecurityDescriptorDacl",
    "InitializeAcl", "InitializeSecurityDescriptor", "LookupAccountNameA", "SetSecurityDescriptorDacl",
    "SetFileSecurityA", "WSCEnumProtocols32", "WSCGetProviderPath32", "WSCDeinstallProvider32",
}
# The DLLs the exe may import. The loader finds an imported DLL that is no
# KnownDLL in the exe's own folder first, before the first line runs, so only
# DLLs that Windows 2000, XP and 7 take from the system folder alone (their
# KnownDLLs), and msvcrt, the C runtime the build cannot do without, may be
# imported; every other DLL is loaded by its full path.
IMPORTABLE_DLLS = {"advapi32.dll", "kernel32.dll", "msvcrt.dll", "shell32.dll", "user32.dll", "version.dll"}
# BindProc<Type>(module, "Name") and GetProcAddress(module, "Name"), also when
# the call is split over lines or the module argument is itself a call.
BINDING_CALL = re.compile(r"\b(?:BindProc\s*<[^<>]*>|GetProcAddress)\s*\(")
NAME_ARGUMENT = re.compile(r',\s*"(\w+)"\s*$')


def names_bound_in_text(text):
    """The literal names of every binding call in a source text."""
    names = []
    for m in BINDING_CALL.finditer(text):
        depth, at = 1, m.end()
        while at < len(text) and depth:
            depth += {"(": 1, ")": -1}.get(text[at], 0)
            at += 1
        arg = NAME_ARGUMENT.search(text[m.end():at - 1])
        if arg:  # a name passed in a variable is bound elsewhere with its literal
            names.append(arg.group(1))
    return names


def names_bound_in_sources(root=SOURCE_ROOT):
    """Entry-point names the sources look up by name, with the first file that does."""
    found = {}
    for folder in source_dirs(root):
        for dirpath, _, files in os.walk(os.path.join(root, folder)):
            for f in sorted(files):
                if f.endswith((".cpp", ".h")):
                    path = os.path.join(dirpath, f)
                    with open(path, encoding="utf-8") as src:
                        for name in names_bound_in_text(src.read()):
                            found.setdefault(name, os.path.relpath(path, root))
    return found


def read_export_list(path):
    """{dll in lower case: set of names} of one list."""
    allowed = {}
    with open(path) as f:
        for line in f:
            if line.strip() and not line.startswith("#"):
                dll, *names = line.split()
                allowed.setdefault(dll.lower(), set()).update(names)
    return allowed


def windows_of(list_path):
    """The Windows a list names: "win2000-exports.txt" -> "Windows 2000"."""
    m = re.match(r"win(\w+?)-exports", os.path.basename(list_path))
    return f"Windows {m.group(1)}" if m else os.path.basename(list_path)


def check_imports(imports, lists, by_name):
    """imports: [(dll, name)]; lists: [(label, allowed)]. Gives the problems
    and, per list, how many imports it holds."""
    problems = [f"imports {dll}, which Windows would look for beside the exe first"
                for dll in sorted({d for d, _ in imports}) if dll.lower() not in IMPORTABLE_DLLS]
    held = [0] * len(lists)
    for dll, name in imports:
        if name in by_name:
            problems.append(f"imports {dll}!{name}, which must be looked up by name")
        for i, (label, allowed) in enumerate(lists):
            if name in allowed.get(dll.lower(), set()):
                held[i] += 1
            else:
                problems.append(f"imports {dll}!{name}, not known to exist on {label}")
    return problems, held


def self_check():
    """Known answers for the scanner and the import rule, so that a broken
    check fails instead of passing everything."""
    sample = (
        'auto a = BindProc<AFn>(GetModuleHandleA("kernel32"), "IsWow64Process");\n'
        '  b(BindProc<BFn>(m,\n      "InitializeSecurityDescriptor")),\n'
        'FARPROC p = GetProcAddress(module, name);\n'
        'FARPROC q = GetProcAddress(ws2.Get(), "WSCEnumProtocols32");\n')
    problems = []
    got = names_bound_in_text(sample)
    if got != ["IsWow64Process", "InitializeSecurityDescriptor", "WSCEnumProtocols32"]:
        problems.append(f"self-check: source scan gives {got}")
    lists = [("A", {"k.dll": {"F", "G"}, "version.dll": {"V"}}), ("B", {"k.dll": {"F"}, "version.dll": {"V"}})]
    found, held = check_imports([("K.dll", "F"), ("K.dll", "G"), ("K.dll", "H"), ("VERSION.dll", "V")], lists, {"H"})
    want = ["imports K.dll, which Windows would look for beside the exe first","imports K.dll!G, not known to exist on B", "imports K.dll!H, which must be looked up by name",
            "imports K.dll!H, not known to exist on A", "imports K.dll!H, not known to exist on B"]
    if sorted(found) != sorted(want) or held != [3, 2]:
        problems.append(f"self-check: import rule gives {found}, {held}")
    return problems


VERSION_FIELDS = {
    "CompanyName": "Varlume", "FileDescription": "ZTXCleanUp", "FileVersion": "2, 3, 0, 6",
    "InternalName": "ZTXCleanUp", "OriginalFilename": "ZTXCleanUp.exe", "ProductName": "ZTXCleanUp",
    "ProductVersion": "2, 3, 0, 6",
}
MANIFEST_PARTS = [
    'name="ZTXCleanUp"', 'version="2.1.0.1"', 'processorArchitecture="X86"', 'type="win32"',
    'level="requireAdministrator"', 'uiAccess="false"',
]


def main():
    if len(sys.argv) < 3:
        print(__doc__.strip().splitlines()[-1], file=sys.stderr)
        return 2
    exe, list_paths = sys.argv[1], sys.argv[2:]
    lists = [(windows_of(p), read_export_list(p)) for p in list_paths]
    bound = names_bound_in_sources()
    by_name = BY_NAME | set(bound)
    pe = pefile.PE(exe)
    problems = self_check()
    if not bound:
        problems.append("no entry point looked up by name found in the sources; the scan is broken")
    if pe.FILE_HEADER.Machine != 0x14C:
        problems.append(f"machine {pe.FILE_HEADER.Machine:#x}, not i386")
    oh = pe.OPTIONAL_HEADER
    if oh.Subsystem != 3:
        problems.append(f"subsystem {oh.Subsystem}, not the console")
    if (oh.MajorSubsystemVersion, oh.MinorSubsystemVersion) != (4, 0):
        problems.append(f"subsystem version {oh.MajorSubsystemVersion}.{oh.MinorSubsystemVersion}, not 4.0")
    imports = []
    for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []):
        dll = entry.dll.decode()
        for imp in entry.imports:
            imports.append((dll, imp.name.decode() if imp.name else f"#{imp.ordinal}"))
    import_problems, held = check_imports(imports, lists, by_name)
    problems += import_problems
    count = len(imports)
    manifest = None
    strings = {}
    for rtype in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if rtype.id == 24:
            data = rtype.directory.entries[0].directory.entries[0].data.struct
            manifest = pe.get_data(data.OffsetToData, data.Size).decode("utf-8")
    for info in getattr(pe, "FileInfo", []):
        for fi in info:
            for table in getattr(fi, "StringTable", []):
                if table.LangID.decode().lower() == "041104b0":
                    strings = {k.decode(): v.decode() for k, v in table.entries.items()}
    if manifest is None:
        problems.append("no manifest")
    else:
        problems += [f"manifest lacks {p}" for p in MANIFEST_PARTS if p not in manifest]
    for key, value in VERSION_FIELDS.items():
        if strings.get(key) != value:
            problems.append(f"version block 041104b0: {key} is {strings.get(key)!r}, want {value!r}")
    name = os.path.basename(exe)
    for p in problems:
        print(f"FAIL {name}: {p}")
    for (label, _), n in zip(lists, held):
        print(f"{name}: {n} of {count} imports exported by {label}")
    imported_by_name = sorted({n for _, n in imports} & by_name)
    print(f"{name}: {len(by_name)} entry points looked up by name ({len(bound)} found in the sources), "
          f"{len(imported_by_name)} of them imported")
    print(f"{name}: {count} imports checked; {len(problems)} problems")
    print(f"exe-check: {0 if problems else 1} passed, {1 if problems else 0} failed")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
