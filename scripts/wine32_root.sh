#!/bin/bash
# Makes a private root holding 32-bit Wine (wine32 and libwine for i386, the
# release of the installed wine64) and every i386 library it needs, unpacked
# from Debian's archive without dpkg: nothing of the machine's package state
# changes, no foreign architecture is added, and the i386 packages need not be
# the versions of the amd64 ones (Multi-Arch lockstep), so a mirror whose i386
# security index lags the amd64 one cannot stop it. scripts/test32.sh lays the
# root's /usr over the machine's in a mount namespace of its own.
#
# Prints the root's path. The root is kept outside any clone
# (/var/cache/ztxcleanup, or $ZTX_CACHE) and made again only when wine64
# changes. Needs network and write access to the cache; not root. What
# scripts/test32.sh lays over /usr is the root's layer/usr.
set -e
cache=${ZTX_CACHE:-/var/cache/ztxcleanup}
version=$(dpkg-query -W -f='${Version}' wine64 2>/dev/null || true)
if [ -z "$version" ]; then
  echo "wine64 is not installed (scripts/deps.sh installs it)" >&2
  exit 1
fi
root="$cache/wine32-$(printf '%s' "$version" | tr -c 'A-Za-z0-9.+-' '_')"
# Bumped whenever what goes into the root changes.
format=3
if [ "$(cat "$root/.complete" 2>/dev/null)" = "$format" ]; then
  echo "$root"
  exit 0
fi

codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
apt="$cache/apt-i386"
part="$root.partial"
rm -rf "$apt" "$part"
mkdir -p "$apt/state/lists/partial" "$apt/cache/archives/partial" "$apt/etc/apt.conf.d" \
  "$apt/etc/preferences.d" "$apt/etc/sources.list.d" "$part"
: >"$apt/status"
keyring=/usr/share/keyrings/debian-archive-keyring.gpg
opts=(-o "Dir::State=$apt/state" -o "Dir::State::status=$apt/status" -o "Dir::Cache=$apt/cache"
  -o "Dir::Etc=$apt/etc" -o "Dir::Etc::SourceList=$apt/etc/sources.list"
  -o "Dir::Etc::SourceParts=$apt/etc/sources.list.d" -o "APT::Architecture=i386"
  -o "APT::Architectures::=i386" -o "Debug::NoLocking=1" -o "APT::Get::List-Cleanup=0"
  -o "Acquire::Retries=3" -o "APT::Sandbox::User=root")

# The release itself lives in the main suite; the updates and security suites
# only bring newer libraries, so a suite whose index cannot be had is left out.
fetch_indexes() {
  local suites=("$@") suite
  : >"$apt/etc/sources.list"
  for suite in "${suites[@]}"; do
    local base=http://deb.debian.org/debian
    [ "$suite" = "$codename-security" ] && base=http://deb.debian.org/debian-security
    echo "deb [arch=i386 signed-by=$keyring] $base $suite main" >>"$apt/etc/sources.list"
  done
  apt-get "${opts[@]}" -qq update >"$apt/update.log" 2>&1 && ! grep -q '^[WE]:' "$apt/update.log"
}
tries=("$codename $codename-updates $codename-security" "$codename $codename-updates" "$codename")
got=""
for suites in "${tries[@]}"; do
  # shellcheck disable=SC2086
  if fetch_indexes $suites; then got=$suites; break; fi
done
if [ -z "$got" ]; then
  echo "cannot read Debian's i386 package index: $(grep -m1 '^[WE]:' "$apt/update.log" || tail -1 "$apt/update.log")" >&2
  exit 1
fi
if ! apt-get "${opts[@]}" -qq -y --no-install-recommends --download-only install \
    "wine32=$version" "libwine=$version" >"$apt/download.log" 2>&1; then
  echo "cannot fetch 32-bit Wine $version for i386 (from $got): $(grep -m1 '^E:' "$apt/download.log")" >&2
  exit 1
fi
for deb in "$apt/cache/archives/"*.deb; do
  dpkg-deb -x "$deb" "$part"
done
# Debian's /lib is a link into /usr: what the packages put there goes under
# usr/lib.
if [ -d "$part/lib" ] && [ ! -L "$part/lib" ]; then
  mkdir -p "$part/usr/lib"
  cp -a "$part/lib/." "$part/usr/lib/"
  rm -rf "${part:?}/lib"
fi
# What libwine's maintainer script does, which no unpacking runs: Wine's
# user32 and others import zlib1.dll, taken from libz-mingw-w64 and marked as
# a builtin DLL of Wine's.
zlib_in="$part/usr/i686-w64-mingw32/lib/zlib1.dll"
zlib_out="$part/usr/lib/i386-linux-gnu/wine/i386-windows/zlib1.dll"
[ -f "$zlib_in" ] || { echo "libz-mingw-w64 brought no i686 zlib1.dll" >&2; exit 1; }
{
  head -c 64 "$zlib_in"
  printf "%b" "Wine builtin DLL"
  printf "%b" "\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0"
  tail -c +97 "$zlib_in"
} >"$zlib_out"
# The layer laid over the machine's /usr holds only what is i386's own: the
# libraries, the i386 loader (in place of the amd64 machine's lib32 one, whose
# search path has no i386-linux-gnu) and Wine's 32-bit loader and server.
layer="$part/layer/usr/lib"
mkdir -p "$layer/wine"
mv "$part/usr/lib/i386-linux-gnu" "$layer/"
mv "$part/usr/lib/ld-linux.so.2" "$layer/"
mv "$part/usr/lib/wine/wine" "$part/usr/lib/wine/wineserver32" "$layer/wine/"
ls "$apt/cache/archives/"*.deb | sed 's|.*/||' >"$part/.packages"
echo "$got" >"$part/.suites"
rm -rf "$root"
mv "$part" "$root"
echo "$format" >"$root/.complete"
rm -rf "$apt/cache/archives"
echo "$root"
