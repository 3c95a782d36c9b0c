#!/usr/bin/env bash
# sweep.sh -- the whole fault sweep: the updater built with the counting shim fails, is ended on the spot and has
# its file held at every file operation of a run where that proves something (SWEEP=all; SWEEP=call: the sample of
# make test), in every configuration; the run after each crash likewise at the calls that no first run makes
# (SWEEP_NESTED=all, call, or none); and every state that a power cut may leave after each operation that changed
# the folder (SWEEP_CUT_STEP, default 1: every such operation). Under wine64 on an Xvfb display of its own; the
# log goes to build/sweep.log.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
tree=$root/build/win64
session=$root/scripts/wine-session.sh
log=$root/build/sweep.log
for file in "$tree/tests/update_run_tests.exe" "$tree/tests/updater_sweep.exe" "$root/build/package/win64/Ostrevan_Patch102.exe"; do
    [ -f "$file" ] || { echo "sweep: $file is missing (make package)" >&2; exit 1; }
done
trap 'bash "$session" stop "$tree" >/dev/null 2>&1' EXIT INT TERM
bash "$session" start "$tree" || exit 1
export OSTREVAN_PACKAGE_DIR=Z:$root/build/package/win64 OSTREVAN_INSTALL_101=Z:$tree/tests/install101
export OSTREVAN_SWEEP_UPDATER=Z:$tree/tests/updater_sweep.exe
export OSTREVAN_SWEEP=${SWEEP:-all} OSTREVAN_SWEEP_NESTED=${SWEEP_NESTED:-all}
export OSTREVAN_CUT_STEP=${SWEEP_CUT_STEP:-1}
export LC_ALL=en_US.UTF-8 WINE_TIMEOUT=${SWEEP_TIMEOUT:-36000}
echo "sweep: $OSTREVAN_SWEEP of the runs, $OSTREVAN_SWEEP_NESTED of the runs after crashes, power cuts after every" \
    "${OSTREVAN_CUT_STEP}. change"
start=$(date +%s)
bash "$root/scripts/wine-run.sh" "$tree" "$tree/tests/update_run_tests.exe" --gtest_filter=Sweep.* 2>&1 | tee "$log" | grep -E '^\[ *(sweep|FAILED|PASSED|OK) '
status=${PIPESTATUS[0]}
echo "sweep: $(( $(date +%s) - start )) s, log in $log"
exit "$status"
