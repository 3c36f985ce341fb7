#!/usr/bin/env python3
"""Runs end-to-end scenarios with the shipped 32-bit build of the tool under
Wine, i386 programs emulated by qemu-user through binfmt_misc, in the
settings of e2e/settings.txt:

- win7-32: a 32-bit prefix as Windows 7; the tool is a 32-bit program on
  32-bit Windows.
- wow64: a 64-bit prefix as Windows 7; the tool is a 32-bit program under
  WOW64 (IsWow64Process true), the companion, the planted programs and the
  helper are 64-bit programs, run natively.
- winxp, win2000, win98: the 32-bit prefix posing as that Windows (Wine's
  version setting, HKCU\\Software\\Wine "Version").

Two things make qemu 7.2 run Wine as Wine expects, and both are set for every
process here (wine_env):
- The guest is mapped at host address 0 (QEMU_GUEST_BASE=0): the native wine
  server reads and writes an emulated process's memory at the guest address,
  and a program that looks at another (GetModuleFileNameExA) reads nothing
  otherwise.
- A preloaded object (noreplace/noreplace.c) gives Wine the kernel's answer
  to MAP_FIXED_NOREPLACE, which qemu does not know; without it every Wine
  process spends close to a minute reserving its address space.
With both, a Wine process starts in a few seconds, as on a 32-bit machine.

The harness still starts no process it can do without:
- A template prefix of each architecture is booted once and trimmed: the
  start-up services the tool never calls on are set to start on demand, and
  the desktop menu builder is taken out of RunServices. Each scenario runs in
  a copy, with the setting's Windows version written into it.
- Registry keys and values, folders, files and links are planted by writing
  the copied prefix's hive files and drive_c while no wine server runs; only
  access lists, running programs and files held open need a Windows program.
- Each run of the tool starts with its standard input held back; the answer
  goes in once the planted programs are up and the tool has printed its
  banner. The tool reads nothing of the machine before its answer, except
  the Windows version and kind.
- What is left is read from the outside: processes from the host's process
  table, registry keys and values from the hive files that the wine server
  saves when it ends, files from drive_c.

A scenario that cannot finish because the emulation failed (the wine server
died, a process never started) is reported as such, not as a fault of the
tool.
"""

import concurrent.futures
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import scenario as scn  # noqa: E402
import wine_run  # noqa: E402

WINE = "/usr/lib/wine/wine"
WINE64 = "/usr/lib/wine/wine64"
SERVER = "/usr/lib/wine/wineserver"
# Each limit is many times what it takes on two cores (the boot about 20 s,
# a start a few seconds, a run under 10 s): reaching one means a hang.
BOOT_TIMEOUT = 900
START_TIMEOUT = 120     # planted programs up and the tool's banner printed
RUN_TIMEOUT = 180       # one run, from its answer to its end
SHUTDOWN_TIMEOUT = 120
STANDSTILL = 120        # the boot's hives unchanged this long after a crash
# Under qemu about one run in fifteen is spoiled by the emulation (CI on two
# cores: 2 of 61 runs; 4 of 62, one scenario twice in a row; 4 of 63, one
# three times, so not quite at random): were runs spoiled at random, four
# runs would leave one scenario in 40,000 unfinished.
EMULATION_TRIES = 4     # runs of a scenario whose emulation failed
BOOT_TRIES = 3          # boots of a template whose emulation failed

# Services that start with every new wine server (the event log, the mount
# manager, the NDIS and NSI drivers, plug and play): each is one more
# process, and the tool calls on none of them. The templates have them start
# on demand instead.
AUTO_START = 2
DEMAND_START = 3


class Setting:
    """How Wine is set up for one setting of e2e/settings.txt."""

    def __init__(self, name, arch, version, describe):
        self.name = name
        self.arch = arch          # the prefix: "win32" or "win64"
        self.version = version    # Wine's name of the Windows it poses as
        self.describe = describe  # for the report: the simulated Windows it is compared with

    @property
    def loader(self):
        return WINE64 if self.arch == "win64" else WINE

    @property
    def programs_bits(self):
        """The build of the helper and the companion stand-ins: on 64-bit
        Windows they are 64-bit programs, as the companion is there, and need
        no emulation; so may a planted program be ("|64")."""
        return 64 if self.arch == "win64" else 32


SETTINGS = {
    "win7-32": Setting("win7-32", "win32", "win7", "the simulated 32-bit Windows 7"),
    "wow64": Setting("wow64", "win64", "win7", "the simulated 64-bit Windows 7, the tool under WOW64"),
    "winxp": Setting("winxp", "win32", "winxp", "the simulated 32-bit Windows XP"),
    "win2000": Setting("win2000", "win32", "win2k", "the simulated Windows 2000"),
    "win98": Setting("win98", "win32", "win98", "the simulated Windows 98"),
}


class EmulationFailed(Exception):
    """The emulated Wine, not the tool, failed."""


PRELOAD_SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "noreplace", "noreplace.c")
PRELOAD_NAME = "libztxnoreplace.so"
preload_root = None


def build_preload(work):
    """Builds the preloaded object that gives the emulated Wine the kernel's
    answer to MAP_FIXED_NOREPLACE (see noreplace.c), once for i386 and once,
    empty, for the native wine server. LD_PRELOAD names it through $LIB,
    which the dynamic loader of each architecture spells its own way."""
    global preload_root
    root = os.path.join(work, "preload")
    # Debian's i386 loader spells $LIB "lib/i386-linux-gnu"; the amd64
    # machine's own 32-bit C library (libc6-i386, which the loader comes from
    # when it is installed) spells it "lib32".
    for arch, flags in (("i386-linux-gnu", ["-m32"]), ("x86_64-linux-gnu", ["-m64"]), ("../lib32", ["-m32"])):
        out = os.path.join(root, "lib", arch, PRELOAD_NAME)
        os.makedirs(os.path.dirname(out), exist_ok=True)
        subprocess.run(["gcc", *flags, "-shared", "-nostdlib", "-fPIC", "-O2", "-Wall", "-Wextra", "-Werror",
                        PRELOAD_SOURCE, "-o", out], check=True)
    preload_root = root


# The architecture of each prefix this harness made (a copy takes its
# template's); a prefix not named here is a 32-bit one.
ARCH = {}


def env32(prefix):
    env = dict(os.environ)
    if preload_root:
        env["LD_PRELOAD"] = os.path.join(preload_root, "$LIB", PRELOAD_NAME)
    arch = ARCH.get(prefix, "win32")
    env.update(WINEPREFIX=prefix, WINEARCH=arch, WINEDEBUG="-all",
               WINELOADER=WINE64 if arch == "win64" else WINE,
               WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe=",
               # qemu maps guest address A at host address A + guest base.
               # The wine server is a native program: it reads and writes an
               # emulated process's memory (ReadProcessMemory, and through it
               # GetModuleFileNameExA, which reads the other process's loader
               # data) at the guest address itself. With any other base it
               # reads the wrong place, and no Windows program finds another
               # program by path.
               QEMU_GUEST_BASE="0")
    env.pop("DISPLAY", None)
    return env


def missing_setup():
    """What the machine lacks for the 32-bit runs, as sentences."""
    lacks = []
    if not os.path.exists(WINE):
        lacks.append("32-bit Wine (wine32:i386) is not installed")
    try:
        with open("/proc/sys/fs/binfmt_misc/qemu-i386") as f:
            if "enabled" not in f.read():
                lacks.append("the binfmt_misc entry qemu-i386 is disabled")
    except OSError:
        lacks.append("no binfmt_misc entry runs i386 programs through qemu-i386-static")
    if not lacks and not guest_base_zero_works():
        lacks.append("qemu cannot place the guest at host address 0 (raise vm.mmap_min_addr to 65536)")
    return lacks


def guest_base_zero_works():
    """Whether qemu can map the guest at host address 0. It keeps the pages
    below /proc/sys/vm/mmap_min_addr free and fails when the kernel refuses
    the first page above them; a security module may hold a higher bound
    (64 KiB on Debian's kernels) than that file shows."""
    probe = subprocess.run(["/usr/bin/qemu-i386-static", "-B", "0", WINE, "--version"],
                           capture_output=True)
    return probe.returncode == 0


# ---------------------------------------------------------------- processes

def prefix_processes(prefix):
    """Live host processes of this prefix: (pid, command line)."""
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat") as f:
                if f.read().rsplit(")", 1)[1].split()[0] == "Z":
                    continue
            with open(f"/proc/{entry}/environ", "rb") as f:
                if f"WINEPREFIX={prefix}".encode() not in f.read().split(b"\0"):
                    continue
            with open(f"/proc/{entry}/cmdline", "rb") as f:
                found.append((int(entry), f.read().replace(b"\0", b" ").decode(errors="replace")))
        except (OSError, IndexError):
            continue
    return found


def server_pid(prefix):
    for pid, cmdline in prefix_processes(prefix):
        if "wineserver" in cmdline.split(" ")[0]:
            return pid
    return None


def windows_command(cmdline):
    """The Windows command line inside a Wine process's host command line:
    after qemu and the loader (twice) for an emulated process, after the
    loader for a native one; Wine starts its own programs by full path too."""
    m = re.search(r"(?:^| )([A-Za-z]:\\.*)$", cmdline)
    return m.group(1) if m else ""


def program_running(prefix, win_path):
    """Whether a Windows program of that path runs in the prefix."""
    want = win_path.lower()
    for _, cmdline in prefix_processes(prefix):
        rest = windows_command(cmdline).strip().lower()
        if rest == want or rest.startswith(want + " "):
            return True
    return False


def debugger_started(prefix):
    """Whether a process of the prefix has crashed: Wine then starts winedbg,
    which under emulation waits for ever, and so does the crashed process."""
    return any("winedbg" in cmd for _, cmd in prefix_processes(prefix))


def crash_report(err_file):
    """Wine's line about a crash that the tool's run wrote to its errors."""
    try:
        with open(err_file, "rb") as f:
            for line in f.read().decode(errors="replace").splitlines():
                if line.startswith("wine: ") and "starting debugger" in line:
                    return line
    except OSError:
        pass
    return ""


def server_crashed(err_files):
    """Whether the wine server reported its own crash (server/signal.c,
    do_sigsegv) into the errors of a program that started it."""
    for name in err_files:
        try:
            with open(name, "rb") as f:
                if b"wineserver crashed" in f.read():
                    return True
        except OSError:
            pass
    return False


def wait_process(process, prefix, timeout, what):
    """Waits for a process of the prefix to end and gives its exit code, or
    None when the time ran out. A crash anywhere in the prefix (the
    debugger started) ends the wait at once instead of at the time limit."""
    deadline = time.monotonic() + timeout
    while True:
        try:
            return process.wait(timeout=0.5)
        except subprocess.TimeoutExpired:
            pass
        if debugger_started(prefix):
            raise EmulationFailed(f"a process crashed and started the debugger while {what}")
        if time.monotonic() > deadline:
            return None


def stop_prefix(prefix):
    """Ends every process of the prefix and waits for the wine server to save
    the registry and end. Gives None when it ended by itself, otherwise the
    command lines of the programs that were still there when it was killed."""
    env = env32(prefix)
    # With no program of its own left, the server ends the services and then
    # itself, saving the hives. A program that crashed under emulation has
    # started the debugger, which waits for ever: no use waiting then.
    waiter = subprocess.Popen([SERVER, "-w"], env=env)
    deadline = time.monotonic() + SHUTDOWN_TIMEOUT
    while waiter.poll() is None and time.monotonic() < deadline:
        if debugger_started(prefix):
            break
        time.sleep(0.5)
    if waiter.poll() is not None:
        return None
    waiter.kill()
    waiter.wait()
    lingering = [windows_command(cmd) or cmd
                 for _, cmd in prefix_processes(prefix) if "wineserver" not in cmd]
    # SIGTERM makes the server save the registry before it ends.
    subprocess.run([SERVER, "-k15"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        subprocess.run([SERVER, "-w"], env=env, timeout=60)
    except subprocess.TimeoutExpired:
        subprocess.run([SERVER, "-k9"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for pid, _ in prefix_processes(prefix):
        try:
            os.kill(pid, signal.SIGKILL)
        except OSError:
            pass
    return lingering


# ---------------------------------------------------------------- files

def host_path(prefix, win_path, create_parents=False):
    """The host path of a C: path, each part matched without regard to case
    (Wine looks names up that way); missing parts keep the given spelling."""
    assert win_path[1:3] == ":\\", win_path
    path = os.path.join(prefix, "drive_c")
    parts = [p for p in win_path[3:].split("\\") if p]
    for i, part in enumerate(parts):
        match = None
        if os.path.isdir(path):
            match = next((n for n in os.listdir(path) if n.lower() == part.lower()), None)
        path = os.path.join(path, match or part)
        if create_parents and i < len(parts) - 1 and match is None:
            os.makedirs(path, exist_ok=True)
    return path


def plant_file(prefix, win_path, readonly=False):
    target = host_path(prefix, win_path, create_parents=True)
    with open(target, "wb") as f:
        f.write(b"ztx")
    if readonly:
        # Wine reports a file without write bits as read-only and refuses to
        # delete it, as Windows does with the attribute.
        os.chmod(target, 0o444)


def plant_dir(prefix, win_path):
    os.makedirs(host_path(prefix, win_path, create_parents=True), exist_ok=True)


# ---------------------------------------------------------------- registry

def reg_escape(text, quote):
    out = []
    for ch in text:
        code = ord(ch)
        if code > 127:
            out.append(f"\\x{code:04x}")
        elif ch == "\\" or ch in quote:
            out.append("\\" + ch)
        else:
            out.append(ch)
    return "".join(out)


def reg_unescape(text):
    out = []
    i = 0
    while i < len(text):
        ch = text[i]
        if ch == "\\" and i + 1 < len(text):
            nxt = text[i + 1]
            if nxt == "x":
                m = re.match(r"[0-9a-fA-F]{1,4}", text[i + 2:])
                if m:
                    out.append(chr(int(m.group(0), 16)))
                    i += 2 + len(m.group(0))
                    continue
            out.append({"n": "\n", "r": "\r", "t": "\t", "0": "\0"}.get(nxt, nxt))
            i += 2
            continue
        out.append(ch)
        i += 1
    return "".join(out)


def hive_of(reg_path):
    """(hive file, key path inside it) of an HKLM\\ or HKCU\\ path."""
    root, _, rest = reg_path.partition("\\")
    if root == "HKLM":
        return "system.reg", rest
    if root == "HKCU":
        return "user.reg", rest
    raise ValueError(f"cannot plant {reg_path}: only HKLM and HKCU")


def append_registry(prefix, text_by_hive):
    for hive, text in text_by_hive.items():
        with open(os.path.join(prefix, hive), "a", encoding="utf-8") as f:
            f.write(text)


def plant_registry(prefix, plants):
    text = {}
    for kind, fields in plants:
        hive, key = hive_of(fields[0])
        section = f"\n[{reg_escape(key, '[]')}] 0\n"
        if kind == "value":
            data = fields[2] if len(fields) > 2 else ""
            section += f'"{reg_escape(fields[1], chr(34))}"="{reg_escape(data, chr(34))}"\n'
        text[hive] = text.get(hive, "") + section
    append_registry(prefix, text)


def read_hive(path):
    """{key path in lower case: set of value names in lower case}."""
    keys = {}
    current = None
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            if line.startswith("["):
                end = line.rfind("]")
                name = reg_unescape(line[1:end]).lower()
                current = keys.setdefault(name, set())
            elif current is not None and line.startswith('"'):
                m = re.match(r'"((?:[^"\\]|\\.)*)"=', line)
                if m:
                    current.add(reg_unescape(m.group(1)).lower())
            elif current is not None and line.startswith("@="):
                current.add("")
    # A key listed only through its subkeys exists too.
    for name in list(keys):
        parts = name.split("\\")
        for i in range(1, len(parts)):
            keys.setdefault("\\".join(parts[:i]), set())
    return keys


# ---------------------------------------------------------------- template

def template_prefix(work, arch, log):
    """The booted and trimmed prefix of that architecture, made once and kept
    while it is there (boot it again by deleting it). Gives (path, seconds
    the boot took, or None when it was there)."""
    template = os.path.join(work, f"template-{arch}")
    ARCH[template] = arch
    ready = os.path.join(template, "ztx-template-ready")
    if os.path.exists(ready):
        return template, None
    shutil.rmtree(template, ignore_errors=True)
    os.makedirs(template)
    started = time.monotonic()
    env = env32(template)
    boot_log = os.path.join(work, f"wineboot-{arch}.log")
    with open(boot_log, "w") as out:
        # The first process may give up waiting for the boot while the boot
        # goes on in the background: wait for the server.
        try:
            subprocess.run([WINE64 if arch == "win64" else WINE, "wineboot", "-i"], env=env, stdin=subprocess.DEVNULL, stdout=out,
                           stderr=out, timeout=BOOT_TIMEOUT)
        except subprocess.TimeoutExpired:
            pass
    wait_for_boot(template, boot_log, started)
    if not os.path.exists(os.path.join(template, "system.reg")):
        raise EmulationFailed("the prefix boot left no registry (see wineboot.log)")
    trim_template(template)
    open(ready, "w").close()
    seconds = time.monotonic() - started
    log(f"booted the {arch} template prefix in {seconds / 60:.1f} min")
    return template, seconds


def auto_start_services(system_reg):
    """Names of the services that start with the wine server."""
    names = []
    current = None
    prefix = "[system\\\\currentcontrolset\\\\services\\\\"
    with open(system_reg, encoding="utf-8", errors="replace") as f:
        for line in f:
            if line.startswith("["):
                head = line[:line.rfind("]") + 1]
                name = head[len(prefix):-1] if head.lower().startswith(prefix) else ""
                current = name if name and "\\" not in name else None
            elif current and line.lower().startswith('"start"=dword:'):
                if int(line.split(":", 1)[1], 16) == AUTO_START:
                    names.append(current)
    return names


def installed(template):
    """Whether the hives hold the whole installation: the services that the
    last section of wine.inf writes are there."""
    hive = read_hive(os.path.join(template, "system.reg"))
    return all(f"system\\currentcontrolset\\services\\{name}" in hive for name in ("plugplay", "rpcss"))


def wait_for_boot(template, boot_log, started):
    """Waits until the wine server of the boot has ended. A process that
    crashes under emulation (qemu 7.2 now and then) tries to start the
    debugger and spins, and the boot waits for it for ever; once the log tells
    of such a crash and the hives, which the server saves every half minute,
    have stood still for STANDSTILL seconds, the boot's processes are ended, and the
    prefix is kept when the hives hold the whole installation."""
    env = env32(template)
    hives = [os.path.join(template, n) for n in ("system.reg", "user.reg")]
    while server_pid(template) is not None:
        if time.monotonic() - started > BOOT_TIMEOUT:
            stop_prefix(template)
            raise EmulationFailed(f"the prefix boot did not end within {BOOT_TIMEOUT} s")
        with open(boot_log, errors="replace") as f:
            crashed = "starting debugger" in f.read()
        newest = max((os.path.getmtime(h) for h in hives if os.path.exists(h)), default=time.time())
        if crashed and time.time() - newest > STANDSTILL:
            subprocess.run([SERVER, "-k"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            stop_prefix(template)
            if not installed(template):
                raise EmulationFailed("a process of the prefix boot crashed under emulation before the "
                                      "installation was written (see wineboot.log)")
            break
        time.sleep(2)


def drop_value(hive_file, key, name):
    """Removes a value line from a hive file while no server runs."""
    with open(hive_file, encoding="utf-8", errors="surrogateescape") as f:
        lines = f.readlines()
    section = None
    kept = []
    for line in lines:
        if line.startswith("["):
            section = reg_unescape(line[1:line.rfind("]")]).lower()
        elif section == key.lower() and line.lower().startswith(f'"{name.lower()}"='):
            continue
        kept.append(line)
    with open(hive_file, "w", encoding="utf-8", errors="surrogateescape") as f:
        f.writelines(kept)


def trim_template(template):
    system_reg = os.path.join(template, "system.reg")
    # Every new wine server runs RunServices, where the prefix starts the
    # desktop menu builder: one more emulated process that makes menu entries.
    drop_value(system_reg, "Software\\Microsoft\\Windows\\CurrentVersion\\RunServices", "winemenubuilder")
    text = ""
    for name in auto_start_services(system_reg):
        text += f'\n[System\\\\CurrentControlSet\\\\Services\\\\{name}]\n"Start"=dword:{DEMAND_START:08x}\n'
    append_registry(template, {"system.reg": text})


def fresh_prefix(template, work, name, setting):
    """A copy of the template that poses as the setting's Windows. Wine takes
    the version from HKCU\\Software\\Wine "Version" before anything the
    Windows keys say (dlls/ntdll/version.c), for every program of the prefix."""
    prefix = tempfile.mkdtemp(prefix=f"ztx32-{setting.name}-{name}-", dir=work)
    os.rmdir(prefix)
    shutil.copytree(template, prefix, symlinks=True)
    ARCH[prefix] = ARCH[template]
    append_registry(prefix, {"user.reg": f'\n[Software\\\\Wine] 0\n"Version"="{setting.version}"\n'})
    return prefix


# ---------------------------------------------------------------- one scenario

def wait_for_programs(prefix, started, deadline):
    """Waits until every started program has made its file."""
    for process, marker, what in started:
        while not os.path.exists(marker):
            if process.poll() is not None:
                raise EmulationFailed(f"{what} ended before it was up (exit code {process.returncode})")
            if debugger_started(prefix):
                raise EmulationFailed(f"a process crashed and started the debugger while {what} started")
            if time.monotonic() > deadline:
                raise EmulationFailed(f"{what} did not start within {START_TIMEOUT} s")
            time.sleep(0.2)


def run_scenario(s, setting, build, build64, results, work, attempt=1):
    """Runs one scenario in a setting; gives (problems, seconds). Raises
    EmulationFailed. Each attempt keeps the tool's output and errors under
    names of its own, so a spoiled run can be read afterwards."""
    e2e_bin = os.path.join(build64 if setting.programs_bits == 64 else build, "e2e")
    loader = setting.loader
    template, _ = template_prefix(work, setting.arch, print)
    started = time.monotonic()
    prefix = fresh_prefix(template, work, s.name, setting)
    background = []
    tools = []
    try:
        env = env32(prefix)
        reg = [(k, f) for k, f in s.plants if k in ("key", "value")]
        plant_registry(prefix, reg)
        for kind, fields in s.plants:
            if kind == "dir":
                plant_dir(prefix, fields[0])
            elif kind == "readonly-dir":
                # Wine keeps no read-only attribute on a folder
                # (dlls/ntdll/unix/file.c ignores it), so a plain one stands in.
                plant_dir(prefix, fields[0])
            elif kind in ("file", "open"):
                plant_file(prefix, fields[0])
            elif kind == "readonly":
                plant_file(prefix, fields[0], readonly=True)
            elif kind == "link":
                # A Unix symbolic link: Wine reports it as a reparse point,
                # as Windows does a junction or symbolic link.
                os.symlink(host_path(prefix, fields[1]), host_path(prefix, fields[0], create_parents=True))
        cur_dir = host_path(prefix, scn.WINE_FOLDERS["CurrentDir"], create_parents=True)
        # The product's companion is a 64-bit program; the 32-bit tool starts
        # it only on 64-bit Windows, so here it must stay unstarted.
        wine_run.place_tool(s, build, build64,
                            host_path(prefix, scn.WINE_FOLDERS["ToolDir"], create_parents=True), cur_dir)
        if s.companion in ("stub", "stub-fail") and setting.programs_bits == 64:
            # On 64-bit Windows the companion is a 64-bit program: so is its stand-in.
            shutil.copy(os.path.join(e2e_bin, f"companion_{s.companion.replace('-', '_')}.exe"),
                        os.path.join(cur_dir, "ztxins64.exe"))
        helper = host_path(prefix, "C:\\ztxe2e.exe")
        shutil.copy(os.path.join(e2e_bin, "ztxe2e.exe"), helper)
        # An access list is set by a Windows program (after the hives and
        # files above, which must be written while no server runs).
        denials = [wine_run.plan_line(kind, fields) for kind, fields in s.plants if kind == "deny-delete"]
        if denials:
            with open(host_path(prefix, "C:\\ztx-plan.txt"), "w", encoding="cp932") as f:
                f.write("".join(denials))
            with tempfile.TemporaryFile() as err:
                planter = subprocess.Popen([loader, "C:\\ztxe2e.exe", "plant", "C:\\ztx-plan.txt"], env=env,
                                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=err)
                try:
                    code = wait_process(planter, prefix, START_TIMEOUT, "the access lists were planted")
                finally:
                    if planter.poll() is None:
                        planter.kill()
                        planter.wait()
                if code is None:
                    raise EmulationFailed(f"planting the access lists did not end within {START_TIMEOUT} s")
                if code != 0:
                    err.seek(0)
                    raise ValueError(f"{s.name}: ztxe2e.exe could not plant the access lists: "
                                     f"{err.read().decode(errors='replace').strip()}")

        # Everything that has to run before the answer, and the first run of
        # the tool, start together.
        waiting = []
        for number, (kind, fields) in enumerate(s.plants):
            if kind not in ("program", "open"):
                continue
            marker = f"C:\\ztx-started-{number}"
            if kind == "program":
                target = host_path(prefix, fields[0], create_parents=True)
                # The product's programs are 32-bit ones; "|64" names a
                # 64-bit one, on 64-bit Windows.
                bits64 = setting.programs_bits == 64 and fields[2:] == ["64"]
                shutil.copy(os.path.join(build64 if bits64 else build, "e2e", f"idle_{fields[1]}.exe"), target)
                args = [loader, fields[0], marker]
                what = f"the program {fields[0]}"
            else:
                args = [loader, "C:\\ztxe2e.exe", "hold", fields[0], marker]
                what = f"the program that holds {fields[0]} open"
            background.append(subprocess.Popen(args, env=env, stdin=subprocess.DEVNULL,
                                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
            waiting.append((background[-1], host_path(prefix, marker), what))

        codes = []
        outputs = []
        hung = False
        deadline = time.monotonic() + START_TIMEOUT

        def start_tool(number):
            stem = f"{setting.name}-{s.name}.{number}" + (f".try{attempt}" if attempt > 1 else "")
            out_file = os.path.join(work, stem + ".out")
            err_file = os.path.join(work, stem + ".err")
            with open(out_file, "wb") as fout, open(err_file, "wb") as ferr:
                p = subprocess.Popen([loader, scn.WINE_FOLDERS["ToolDir"] + r"\ZTXCleanUp.exe"], env=env,
                                     cwd=cur_dir, stdin=subprocess.PIPE, stdout=fout, stderr=ferr)
            return p, out_file, err_file

        tools.append(start_tool(1))
        wait_for_programs(prefix, waiting, deadline)
        for number, run in enumerate(s.runs, 1):
            process, out_file, err_file = tools[-1]
            # The banner shows that the tool is up; only then is the machine
            # as the scenario wants it for the answer.
            while os.path.getsize(out_file) == 0:
                if process.poll() is not None:
                    break
                if time.monotonic() > deadline:
                    raise EmulationFailed(f"run {number} of the tool printed nothing within "
                                          f"{START_TIMEOUT} s")
                if debugger_started(prefix):
                    raise EmulationFailed(f"a process crashed and started the debugger before run {number} "
                                          "of the tool printed anything")
                time.sleep(0.2)
            if number < len(s.runs):
                # The next run starts while this one works; it is only given
                # its answer once this one has ended.
                tools.append(start_tool(number + 1))
            try:
                process.stdin.write(run.input.encode("cp932"))
                process.stdin.close()
            except BrokenPipeError:
                pass
            try:
                code = wait_process(process, prefix, RUN_TIMEOUT, f"run {number} of the tool worked")
            except EmulationFailed as e:
                # The tool's own crash would look the same, and would do so
                # on every run: its report goes on the line.
                report = crash_report(err_file)
                raise EmulationFailed(str(e) + (f" (the tool's errors: {report})" if report else ""))
            # The server outlives each run by seconds at least (it ends the
            # services, then waits for new programs): gone at once, it
            # crashed, and the run lost its machine under it.
            if code is not None and (server_crashed([err_file]) or server_pid(prefix) is None):
                raise EmulationFailed(f"the wine server crashed during run {number} of the tool")
            if code is not None:
                codes.append(code)
            else:
                if server_pid(prefix) is None:
                    raise EmulationFailed(f"the wine server ended during run {number}; the tool hung")
                hung = True
            with open(out_file, "rb") as f:
                # The C runtime writes each "\n" of a text-mode stream as "\r\n".
                outputs.append(f.read().replace(b"\r\n", b"\n"))
            if hung:
                break
            deadline = time.monotonic() + START_TIMEOUT
        for p, _, _ in tools[len(codes):]:
            p.kill()

        # Processes are read while the machine still runs; registry and files
        # once the server has saved the hives and ended.
        present = []
        process_state = {}
        for fate, kind, fields in s.checks:
            if kind == "process":
                process_state[fields[0]] = program_running(prefix, fields[0])
        planted = {fields[0].lower() for kind, fields in s.plants if kind == "program"}
        for fate, kind, fields in s.checks:
            # Wine's own services now and then crash under qemu (see
            # stop_prefix). One that is gone makes the run the emulation's
            # failure: it runs once more, and a tool that did end it fails
            # there again and is reported, never passed.
            if (kind == "process" and fate == "kept" and fields[0].lower() not in planted
                    and not process_state[fields[0]]):
                raise EmulationFailed(f"Wine's own {fields[0]} ended during the run")
        for p in background:
            p.kill()
        lingering = stop_prefix(prefix)
        if server_crashed([t[2] for t in tools]):
            raise EmulationFailed("the wine server crashed after the runs, before it saved the registry")
        if lingering is not None:
            raise EmulationFailed("the wine server did not end by itself after the runs (still running: "
                                  + ("; ".join(lingering) or "nothing but the server") + ")")
        system = read_hive(os.path.join(prefix, "system.reg"))
        user = read_hive(os.path.join(prefix, "user.reg"))
        for fate, kind, fields in s.checks:
            if kind == "process":
                there = process_state[fields[0]]
            elif kind in ("key", "value"):
                hive_file, key = hive_of(fields[0])
                keys = system if hive_file == "system.reg" else user
                there = key.lower() in keys and (kind == "key" or fields[1].lower() in keys[key.lower()])
            else:
                there = os.path.lexists(host_path(prefix, fields[0]))
            present.append("1" if there else "0")
        seconds = time.monotonic() - started
    finally:
        for p in background + [t[0] for t in tools]:
            if p.poll() is None:
                p.kill()
        if server_pid(prefix) is not None:
            stop_prefix(prefix)
        shutil.rmtree(prefix, ignore_errors=True)

    problems = wine_run.judge(s, codes, b"".join(outputs), present, hung, results)
    if hung:
        problems.insert(0, f"the tool did not end within {RUN_TIMEOUT} s of its answer")
    return problems, seconds


def run_one(setting, name, args, work):
    """Runs one scenario of a setting, again while the emulation fails (up to
    EMULATION_TRIES runs).
    Gives (lines to print, counts, seconds)."""
    import agree

    results = os.path.abspath(os.path.join(args.results_root, f"scenario-results-{setting.name}"))
    os.makedirs(results, exist_ok=True)
    s = scn.parse(os.path.join(args.scenarios_dir, name), setting.name)
    counts = dict(passed=0, failed=0, retried=0, agrees=0, differs=0, missing=0)
    # A Wine process under qemu-user now and then hangs or crashes on its
    # own (seen in services.exe at start-up, before the tool has run): such a
    # scenario runs again in a new copy of the prefix, and the line says
    # so. A fault of the tool is never run again.
    emulation_failures = []
    seconds = 0.0
    while True:
        try:
            problems, seconds = run_scenario(s, setting, os.path.abspath(args.build),
                                             os.path.abspath(args.build64), results, work,
                                             len(emulation_failures) + 1)
            break
        except EmulationFailed as e:
            emulation_failures.append(str(e))
            if len(emulation_failures) == EMULATION_TRIES:
                break
            counts["retried"] += 1
    where = f"{setting.name} {s.name}"
    if len(emulation_failures) == EMULATION_TRIES:
        counts["failed"] += 1
        counts["missing"] += 1
        return [f"EMUL {where}: no run finished, {EMULATION_TRIES} times, each spoiled as the emulation spoils "
                "runs (a tool that crashed each time would show its crash here): "
                + " / ".join(emulation_failures)], counts, seconds
    verdict, details = agree.compare(s, results)
    counts[verdict] += 1
    line = f"{where} ({seconds / 60:.1f} min)"
    if verdict != "agrees":
        problems += [f"with {setting.describe}: {verdict}"] + details
    again = ""
    if emulation_failures:
        times = f" {len(emulation_failures)} times" if len(emulation_failures) > 1 else ""
        again = f"run again after the emulation failed{times}: " + " / ".join(emulation_failures)
    if problems and again:
        problems.append(f"({again})")
    if problems:
        counts["failed"] += 1
        return [f"FAIL {line}"] + [f"     {p}" for p in problems], counts, seconds
    counts["passed"] += 1
    known = [f"{d.kind} {'|'.join(d.fields)}" for d in s.differs]
    note = f"; known Wine differences left out: {'; '.join(known)}" if known else ""
    if again:
        note += "; " + again
    return [f"ok   {line}: as expected, and agrees with {setting.describe}{note}"], counts, seconds


def main():
    import argparse

    here = os.path.dirname(os.path.abspath(__file__))
    ap = argparse.ArgumentParser(description="the shipped 32-bit exe under Wine, i386 programs emulated")
    ap.add_argument("--build", default="build/win32", help="the 32-bit build (tool and helper programs)")
    ap.add_argument("--build64", default="build/win64", help="the 64-bit build (companion, 64-bit helpers)")
    ap.add_argument("--results-root", default="build", help="where scenario-results-SETTING folders go")
    ap.add_argument("--scenarios-dir", default=os.path.join(here, "scenarios"))
    ap.add_argument("--work", default="build/wine32", help="template prefixes and scratch prefixes")
    ap.add_argument("--boot-only", action="store_true", help="boot the template prefixes and stop")
    ap.add_argument("--begun", type=int, help="when the whole command began (seconds since 1970)")
    ap.add_argument("--only", nargs="*", default=[], help="scenario names (without .scn) to run, of each setting")
    ap.add_argument("--jobs", type=int, default=os.cpu_count() or 1, help="scenarios run at once")
    ap.add_argument("settings", nargs="*", help="settings of e2e/settings.txt (default: all)")
    args = ap.parse_args()
    lacks = missing_setup()
    if lacks:
        print("cannot run 32-bit Wine: " + "; ".join(lacks) + " (scripts/test32.sh sets it up as root)")
        return 2
    table = scn.settings()
    known = [name for name, _ in table]
    unknown = [name for name in args.settings if name not in known or name not in SETTINGS]
    if unknown:
        print(f"unknown setting {', '.join(unknown)}; the settings: {', '.join(known)}")
        return 2
    chosen = [(SETTINGS[name], files) for name, files in table if not args.settings or name in args.settings]
    work = os.path.abspath(args.work)
    os.makedirs(work, exist_ok=True)
    build_preload(work)
    begun = time.monotonic()
    boots = 0.0
    boot_retries = 0
    for arch in sorted({setting.arch for setting, _ in chosen}):
        # The boot starts a dozen emulated processes; one of them now and
        # then crashes under qemu. It is booted again, and counted.
        boot_failures = []
        while True:
            try:
                _, boot = template_prefix(work, arch, print)
                break
            except EmulationFailed as e:
                boot_failures.append(str(e))
                if len(boot_failures) == BOOT_TRIES:
                    print(f"EMUL the {arch} template prefix: the emulation failed {BOOT_TRIES} times: "
                          + " / ".join(boot_failures))
                    print("0 passed, every scenario failed")
                    return 1
                print(f"the {arch} template boot failed under emulation ({e}); booting it again")
        boot_retries += len(boot_failures)
        if boot is None:
            print(f"reusing the booted {arch} template prefix (delete {work}/template-{arch} to boot anew)")
        else:
            boots += boot
    if args.boot_only:
        return 0
    tally = dict(passed=0, failed=0, retried=boot_retries, agrees=0, differs=0, missing=0)
    jobs = [(setting, f) for setting, files in chosen for f in files if not args.only or f[:-4] in args.only]
    busy = {setting.name: [0, 0.0] for setting, _ in chosen}   # scenarios, seconds
    # Each scenario has a prefix and a wine server of its own, and an
    # emulated Wine keeps about one core busy: as many run at once as there
    # are cores.
    with concurrent.futures.ThreadPoolExecutor(max_workers=args.jobs) as pool:
        running = [pool.submit(run_one, setting, f, args, work) for setting, f in jobs]
        for (setting, _), done in zip(jobs, running):
            lines, counts, seconds = done.result()
            for key, value in counts.items():
                tally[key] += value
            busy[setting.name][0] += 1
            busy[setting.name][1] += seconds
            print("\n".join(lines))
            sys.stdout.flush()
    total = time.monotonic() - begun
    print("wine32: scenario time per setting: " + "; ".join(
        f"{name} {n} in {sec / 60:.1f} min" for name, (n, sec) in busy.items()))
    print(f"wine32: {total / 60:.1f} min in all" + (f", {boots / 60:.1f} min of it booting templates" if boots else "")
          + f"; {tally['retried']} runs repeated because the emulation failed")
    print(f"agreement with the simulated Windows: {tally['agrees']} agree, "
          f"{tally['differs']} differ, {tally['missing']} not run on both")
    if args.begun:
        took = int(time.time() - args.begun)
        print(f"whole command: {took // 60} min {took % 60} s")
    print(f"{tally['passed']} passed, {tally['failed']} failed")
    return 0 if tally["failed"] == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
