#!/bin/bash
# The check of the shipped program: runs build/win32/ZTXCleanUp.exe (the exe
# of dist/) end to end under Wine, with i386 programs emulated by qemu-user,
# in every setting of e2e/settings.txt (32-bit Windows 7; the tool as a WOW64
# process on 64-bit Windows 7; 32-bit Wine posing as XP, 2000 and 98), and
# compares each scenario with the same scenario on the simulated Windows set
# up like that setting. CI runs it after scripts/test.sh.
#
# Usage: scripts/test32.sh [SETTING...]   (default: every setting)
#
# Set-up, when run as root (otherwise it prints what to run): qemu-user-static
# from apt, and 32-bit Wine of the installed wine64's release unpacked into a
# private root kept in /var/cache/ztxcleanup (scripts/wine32_root.sh): the
# machine's package state is not changed, and a mirror whose i386 index lags
# cannot stop it. The root's /usr is laid over the machine's, and qemu is
# registered for i386 programs, in a user and mount namespace of this command
# alone (Linux 6.7 and later), so nothing else on the machine sees either.
# Each setting's template prefix is booted once and kept in build/wine32;
# delete that folder to boot them anew.
set -e
cd "$(dirname "$0")/.."
begun=$(date +%s)

# One line that says why, and exit 2, when the machine cannot be set up.
cannot() {
  echo "test32: cannot set up the 32-bit runs: $*" >&2
  exit 2
}
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

scripts/deps.sh || cannot "scripts/deps.sh failed (see above)"
if ! installed qemu-user-static; then
  [ "$(id -u)" = 0 ] || cannot "qemu-user-static is missing; run as root: apt-get install -y qemu-user-static"
  for try in 1 2 3; do
    apt-get update -qq >/dev/null 2>&1 || true
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq qemu-user-static >/dev/null 2>&1 && break
    [ $try = 3 ] && cannot "apt-get install qemu-user-static failed three times"
    sleep 20
  done
fi
root=""
for try in 1 2 3; do
  if root=$(scripts/wine32_root.sh 2>build-wine32-root.err); then break; fi
  [ $try = 3 ] && cannot "$(tail -1 build-wine32-root.err)"
  sleep 20
done
rm -f build-wine32-root.err

# What qemu publishes for i386 ELF programs (qemu-binfmt-conf.sh); F opens
# the interpreter now, P keeps argv[0].
I386_MAGIC='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
I386_MASK='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
export ZTX_BINFMT=":qemu-i386:M::$I386_MAGIC:$I386_MASK:/usr/bin/qemu-i386-static:FP"
export ZTX_ROOT="$root"

# The command runs with the root's layer laid over the machine's /usr (it
# holds only i386 files, and the i386 loader in place of the lib32 one of
# the amd64 C library) and qemu registered for i386
# programs in a private binfmt_misc instance: with either seen machine-wide,
# every boot of a 64-bit prefix elsewhere (scripts/test.sh) would start
# emulated 32-bit programs too.
in_namespace() {
  unshare --user --map-root-user --mount sh -c '
    mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc &&
    printf "%s\n" "$ZTX_BINFMT" >/proc/sys/fs/binfmt_misc/register &&
    mount -t overlay overlay -o "ro,lowerdir=$ZTX_ROOT/layer/usr:/usr" /usr &&
    exec "$@"' sh "$@"
}
in_namespace true 2>/dev/null ||
  cannot "no user and mount namespace with a private binfmt_misc instance and an overlay of /usr here (needs Linux 6.7 or later)"

# The wine server reads an emulated process's memory at the guest address, so
# qemu must map the guest at host address 0 (QEMU_GUEST_BASE=0, set by
# e2e/wine32.py). qemu keeps the pages below vm.mmap_min_addr free and asks
# for the first page above them; when a security module holds a higher bound
# than that file shows (64 KiB on Debian's kernels), the request is refused
# and qemu gives up. Raising the file to 64 KiB changes no mapping that the
# kernel allows; the old value is put back when this command ends.
guest_base_zero() { in_namespace /usr/bin/qemu-i386-static -B 0 /usr/lib/wine/wine --version >/dev/null 2>&1; }
min_addr_before=""
restore_min_addr() {
  if [ -n "$min_addr_before" ]; then echo "$min_addr_before" >/proc/sys/vm/mmap_min_addr; fi
}
trap restore_min_addr EXIT
if ! guest_base_zero; then
  if [ "$(cat /proc/sys/vm/mmap_min_addr)" -lt 65536 ] && [ "$(id -u)" = 0 ]; then
    min_addr_before=$(cat /proc/sys/vm/mmap_min_addr)
    echo 65536 >/proc/sys/vm/mmap_min_addr
  fi
  guest_base_zero || cannot "qemu cannot map the guest at host address 0 (as root, raise /proc/sys/vm/mmap_min_addr to 65536 while this runs)"
fi

scripts/build.sh

echo "== the scenarios on the simulated Windows, set up like each setting"
rm -rf build/scenario-results-win7-32 build/scenario-results-wow64 build/scenario-results-winxp \
  build/scenario-results-win2000 build/scenario-results-win98
build/host/tests/ztx_tests --gtest_filter='Settings/*' --gtest_brief=1 >build/scenario-host-settings.log 2>&1 || {
  cat build/scenario-host-settings.log
  echo "the simulated runs failed; the emulated runs go on, and agree.py will say where they part"
}

echo "== the shipped 32-bit exe under Wine, i386 programs emulated, one scenario at a time"
status=0
in_namespace /usr/bin/python3 e2e/wine32.py --build build/win32 --build64 build/win64 \
  --work build/wine32 --begun "$begun" "$@" || status=1
exit $status
