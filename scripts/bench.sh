#!/bin/bash
# Benchmark, not a test: prints figures and judges nothing but whether each
# run did its job.
#  host: one whole run answering "y" on a large simulated machine (1,000
#        processes, a catalog of 300 entries with 30 layered providers, a
#        product key tree of 10,000 keys, the full installation), CPU time;
#  Wine: whole runs of build/win64/ZTXCleanUp.exe on a planted installation,
#        wall time minus the fixed pacing, beside the start of a trivial
#        program in the same prefix.
# ZTX_BUILD=DIR measures DIR/host and DIR/win64 instead of build/ (built with
# ninja, ZTX_JOBS jobs, without scripts/build.sh). Arguments go to
# scripts/bench_wine.py (--repeat N, another scenario file).
set -e
cd "$(dirname "$0")/.."
root=${ZTX_BUILD:-build}
if [ -z "$ZTX_BUILD" ]; then
  scripts/build.sh
else
  for b in host win64; do
    ninja -C "$root/$b" -j "${ZTX_JOBS:-$(nproc)}" >/dev/null
  done
fi
echo "== host: whole run on a large simulated machine"
"$root/host/ztxbench"
echo
echo "== Wine: whole run of the 64-bit build, and a trivial program's start"
/usr/bin/python3 scripts/bench_wine.py --build "$root/win64" "$@"
