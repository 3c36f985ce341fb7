#!/bin/bash
# Builds the three builds: build/host (logic on the simulated Windows, tests,
# sanitizers), build/win32 (the product) and build/win64 (the 64-bit tool for
# Wine, the companion and the end-to-end programs). Then fills dist/.
set -e
cd "$(dirname "$0")/.."
scripts/deps.sh
jobs=$(nproc)
cmake -S . -B build/host -G Ninja >/dev/null
cmake -S . -B build/win32 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake -S . -B build/win64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
for b in win32 win64 host; do
  ninja -C build/$b -j "$jobs" | grep -v '^\[' || true
  test "${PIPESTATUS[0]}" = 0
done
mkdir -p dist
cp build/win32/ZTXCleanUp.exe dist/
if [ -f build/win64/ztxins64.exe ]; then cp build/win64/ztxins64.exe dist/; fi
if [ -d docs/dist ]; then cp docs/dist/* dist/; fi
