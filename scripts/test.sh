#!/bin/bash
# Runs every test: the host tests (GoogleTest under AddressSanitizer and
# UBSan), the checks of the 32-bit exe, the end-to-end scenarios under Wine and
# the command lines of the administrators' text and the start-up script
# ztxrun.cmd under Wine.
set -e
cd "$(dirname "$0")/.."
scripts/build.sh
status=0
echo "== host tests (simulated Windows, ASan/UBSan)"
(cd build/host && ctest --output-on-failure -j "$(nproc)") || status=1
echo "== 32-bit exe: machine, subsystem, imports, resources"
/usr/bin/python3 scripts/check_exe.py build/win32/ZTXCleanUp.exe scripts/win98-exports.txt scripts/win2000-exports.txt || status=1
echo "== end-to-end scenarios under Wine (64-bit build)"
/usr/bin/python3 e2e/wine_run.py --build build/win64 e2e/scenarios/*.scn || status=1
echo "== our 64-bit companion by itself under Wine"
/usr/bin/python3 e2e/companion_wine.py --build build/win64 || status=1
echo "== the administrators' text: every command line it shows, and ztxrun.cmd for each exit code, under Wine"
/usr/bin/python3 e2e/admin_commands_wine.py --build build/win64 || status=1
echo "== each scenario: Wine against the simulated Windows"
/usr/bin/python3 e2e/agree.py --results build/scenario-results e2e/scenarios/*.scn || status=1
if [ $status = 0 ]; then echo "all tests passed"; else echo "SOME TESTS FAILED"; fi
exit $status
