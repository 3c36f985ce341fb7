#!/bin/bash
# Builds the three builds: build/host (logic on the simulated Windows, tests,
# sanitizers), build/win32 (the product) and build/win64 (the 64-bit tool for
# Wine, the companion and the end-to-end programs). Then fills dist/: the
# 32-bit tool, the 64-bit companion, the administrators' text and the
# start-up script.
set -e
cd "$(dirname "$0")/.."
scripts/deps.sh
jobs=$(nproc)
# Each build is configured once; after that ninja configures it again by
# itself whenever a CMake file changes. (Configuring an existing build again
# with its toolchain file makes CMake warn that the file went unused.)
configure() {
  local dir=$1
  shift
  if [ ! -f "$dir/build.ninja" ]; then cmake -S . -B "$dir" -G Ninja "$@" >/dev/null; fi
}
configure build/host
configure build/win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release
configure build/win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DCMAKE_BUILD_TYPE=Release
for b in win32 win64 host; do
  ninja -C build/$b -j "$jobs" | grep -v '^\[' || true
  test "${PIPESTATUS[0]}" = 0
done
mkdir -p dist
cp build/win32/ZTXCleanUp.exe dist/
if [ -f build/win64/ztxins64.exe ]; then cp build/win64/ztxins64.exe dist/; fi
# The administrators' text and the start-up script ztxrun.cmd are kept in
# UTF-8; dist/ gets them in code page 932 with CRLF line ends, which the
# Notepad and the cmd of every supported Windows read (the script holds the
# tool's lines as the bytes the tool prints). iconv refuses a character that
# code page 932 lacks, and the way back must give the source again, so
# nothing is lost on the way.
to_dist() {
  local name=$1
  iconv -f UTF-8 -t CP932 "docs/dist/$name" >"dist/$name.cp932"
  LC_ALL=C sed 's/$/\r/' "dist/$name.cp932" >"dist/$name"
  rm "dist/$name.cp932"
  if ! iconv -f CP932 -t UTF-8 "dist/$name" | tr -d '\r' | cmp -s - "docs/dist/$name"; then
    echo "dist/$name does not convert back to docs/dist/$name" >&2
    exit 1
  fi
}
for name in README.txt ztxrun.cmd; do
  if [ -f "docs/dist/$name" ]; then to_dist "$name"; fi
done
