#!/usr/bin/python3
"""Checks the 32-bit ZTXCleanUp.exe: machine, subsystem, imports, manifest and
version resource. usage: check_exe.py EXE EXPORT_LIST"""

import os
import sys

import pefile  # Debian package python3-pefile

# Looked up by name at run time: older Windows lacks them, so importing one
# would stop the tool from loading there.
BY_NAME = {
    "IsWow64Process", "GetNativeSystemInfo", "Wow64DisableWow64FsRedirection",
    "Wow64RevertWow64FsRedirection", "CreateToolhelp32Snapshot", "Process32First", "Process32Next",
    "EnumProcesses", "EnumProcessModules", "GetModuleFileNameExA", "VDMEnumTaskWOWEx",
    "AddAccessAllowedAceEx", "GetAclInformation", "GetFileSecurityA", "GetSecurityDescriptorDacl",
    "InitializeAcl", "InitializeSecurityDescriptor", "LookupAccountNameA", "SetSecurityDescriptorDacl",
    "SetFileSecurityA", "WSCEnumProtocols32", "WSCGetProviderPath32", "WSCDeinstallProvider32",
}
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
    exe, export_list = sys.argv[1], sys.argv[2]
    allowed = {}
    with open(export_list) as f:
        for line in f:
            if line.strip() and not line.startswith("#"):
                dll, *names = line.split()
                allowed.setdefault(dll.lower(), set()).update(names)
    pe = pefile.PE(exe)
    problems = []
    if pe.FILE_HEADER.Machine != 0x14C:
        problems.append(f"machine {pe.FILE_HEADER.Machine:#x}, not i386")
    oh = pe.OPTIONAL_HEADER
    if oh.Subsystem != 3:
        problems.append(f"subsystem {oh.Subsystem}, not the console")
    if (oh.MajorSubsystemVersion, oh.MinorSubsystemVersion) != (4, 0):
        problems.append(f"subsystem version {oh.MajorSubsystemVersion}.{oh.MinorSubsystemVersion}, not 4.0")
    count = 0
    for entry in pe.DIRECTORY_ENTRY_IMPORT:
        dll = entry.dll.decode()
        for imp in entry.imports:
            name = imp.name.decode() if imp.name else f"#{imp.ordinal}"
            count += 1
            if name in BY_NAME:
                problems.append(f"imports {dll}!{name}, which must be looked up by name")
            elif name not in allowed.get(dll.lower(), set()):
                problems.append(f"imports {dll}!{name}, not known to exist on Windows 98")
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
    print(f"{name}: {count} imports checked; {len(problems)} problems")
    print(f"exe-check: {0 if problems else 1} passed, {1 if problems else 0} failed")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
