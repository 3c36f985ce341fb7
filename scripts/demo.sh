#!/bin/bash
# The tool's main job: plants a product installation in a throwaway Wine
# prefix, runs the 64-bit build answering "y", and shows its console output
# (decoded from code page 932) and what was there before and after, with
# the reason for each item that stays. The shipped 32-bit tool, run as it is
# on 64-bit Windows (WOW64), is shown by scripts/test32.sh.
set -e
cd "$(dirname "$0")/.."
scripts/build.sh
/usr/bin/python3 e2e/wine_run.py --build build/win64 --show --no-check e2e/scenarios/full-install.scn
echo
echo "The package for administrators is in dist/: ZTXCleanUp.exe (the 32-bit tool), ztxins64.exe"
echo "(the 64-bit companion) and README.txt (Japanese and English, code page 932): $(pwd)/dist"
