#!/bin/bash
# The check of the shipped program: runs build/win32/ZTXCleanUp.exe (the exe
# of dist/) end to end under 32-bit Wine on an emulated i386 (qemu-user), in
# the scenarios of e2e/wine32-scenarios.txt, and compares each with the same
# scenario on the simulated 32-bit Windows 7. Not part of scripts/test.sh or
# CI: it needs root once to set the emulation up.
#
# Sets the machine up when run as root (otherwise prints what to run):
# qemu-user-static and 32-bit Wine at the version of the installed wine64.
# The template prefix is booted once (under a minute) and kept in
# build/wine32/template; delete that folder to boot it anew.
set -e
cd "$(dirname "$0")/.."
begun=$(date +%s)

todo=()
need_root() { todo+=("$1"); }
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

# What qemu publishes for i386 ELF programs (qemu-binfmt-conf.sh); F opens
# the interpreter now, P keeps argv[0].
I386_MAGIC='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
I386_MASK='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
BINFMT=":qemu-i386:M::$I386_MAGIC:$I386_MASK:/usr/bin/qemu-i386-static:FP"

setup() {
  local root=$1 wine_version
  if ! installed qemu-user-static; then
    need_root "apt-get install -y qemu-user-static"
    [ "$root" = 1 ] && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq qemu-user-static >/dev/null
  fi
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    need_root "dpkg --add-architecture i386 && apt-get update"
    [ "$root" = 1 ] && dpkg --add-architecture i386 && apt-get update -qq
  fi
  wine_version=$(dpkg-query -W -f='${Version}' wine64 2>/dev/null || true)
  if [ -z "$wine_version" ]; then
    need_root "scripts/deps.sh (wine64 is missing)"
    return
  fi
  if [ "$(dpkg-query -W -f='${Version}' wine32:i386 2>/dev/null)" != "$wine_version" ] || ! installed wine32:i386; then
    # 32-bit Wine must be the same release as the wine64 the other tests use.
    need_root "apt-get install -y --no-install-recommends wine32:i386=$wine_version libwine:i386=$wine_version"
    [ "$root" = 1 ] && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
      "wine32:i386=$wine_version" "libwine:i386=$wine_version" >/dev/null
  fi
}

# The wine server reads an emulated process's memory at the guest address, so
# qemu must map the guest at host address 0 (QEMU_GUEST_BASE=0, set by
# e2e/wine32.py). qemu keeps the pages below vm.mmap_min_addr free and asks
# for the first page above them; when a security module holds a higher bound
# than that file shows (64 KiB on Debian's kernels), the request is refused
# and qemu gives up. Raising the file to 64 KiB changes no mapping that the
# kernel allows; the old value is put back when this command ends.
guest_base_zero() { /usr/bin/qemu-i386-static -B 0 /usr/lib/wine/wine --version >/dev/null 2>&1; }
min_addr_before=""
restore_min_addr() {
  if [ -n "$min_addr_before" ]; then echo "$min_addr_before" >/proc/sys/vm/mmap_min_addr; fi
}
trap restore_min_addr EXIT
guest_base() {
  local root=$1
  [ -x /usr/bin/qemu-i386-static ] && [ -x /usr/lib/wine/wine ] || return 0
  guest_base_zero && return 0
  if [ "$(cat /proc/sys/vm/mmap_min_addr)" -lt 65536 ]; then
    if [ "$root" = 1 ]; then
      min_addr_before=$(cat /proc/sys/vm/mmap_min_addr)
      echo 65536 >/proc/sys/vm/mmap_min_addr
      guest_base_zero && return 0
    else
      need_root "echo 65536 >/proc/sys/vm/mmap_min_addr   (for as long as this command runs)"
      return 0
    fi
  fi
  echo "qemu cannot map the guest at host address 0 here, so no 32-bit Windows program could find another one by path" >&2
  exit 2
}

if [ "$(id -u)" = 0 ]; then
  setup 1
  guest_base 1
else
  setup 0
  guest_base 0
  if [ ${#todo[@]} -gt 0 ]; then
    echo "32-bit Wine on an emulated i386 is not set up; run as root:" >&2
    printf '  %s\n' "${todo[@]}" >&2
    exit 2
  fi
fi

# qemu runs the i386 programs through a binfmt_misc entry of a private
# instance, mounted in a user and mount namespace of this command alone
# (Linux 6.7 and later). With 32-bit Wine installed, an entry seen
# machine-wide would make every boot of a 64-bit prefix (scripts/test.sh, CI)
# start emulated 32-bit programs and outlast its time limit.
in_namespace() {
  unshare --user --map-root-user --mount sh -c \
    'mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc && printf "%s\n" "$0" >/proc/sys/fs/binfmt_misc/register && exec "$@"' \
    "$BINFMT" "$@"
}
if ! in_namespace true; then
  echo "cannot mount a private binfmt_misc instance in a user namespace (needs Linux 6.7 or later)" >&2
  exit 2
fi

scripts/build.sh
mapfile -t scenarios < <(grep -v '^#' e2e/wine32-scenarios.txt | grep . | sed 's|^|e2e/scenarios/|')

echo "== the scenarios on the simulated 32-bit Windows 7 (32-bit tool, not under WOW64)"
rm -rf build/scenario-results-32
build/host/tests/ztx_tests --gtest_filter='All/Scenarios32.*' --gtest_brief=1 >build/scenario-host-32.log 2>&1 || {
  cat build/scenario-host-32.log
  echo "the simulated runs failed; the emulated runs go on, and agree.py will say where they part"
}

echo "== the shipped 32-bit exe under 32-bit Wine on an emulated i386, one scenario at a time"
status=0
in_namespace /usr/bin/python3 e2e/wine32.py --build build/win32 --build64 build/win64 --results build/scenario-results-32 \
  --work build/wine32 --begun "$begun" "${scenarios[@]}" || status=1
exit $status
