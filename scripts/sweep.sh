#!/usr/bin/env bash
# sweep.sh -- the whole fault sweep: the updater built with the counting shim fails, and is ended on the spot,
# at every file operation of a run (SWEEP_STEP, default 1), and the run after each crash is ended at every
# one of its operations in turn (SWEEP_NESTED_STEP, default 1; 0 skips that part), in the four file-system
# configurations; and every state that a power cut may leave after each operation that changed the folder
# (SWEEP_CUT_STEP, default 1: every such operation). Under wine64 on an Xvfb display of its own; the log goes
# to build/sweep.log.
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
export OSTREVAN_SWEEP_STEP=${SWEEP_STEP:-1} OSTREVAN_SWEEP_NESTED_STEP=${SWEEP_NESTED_STEP:-1}
export OSTREVAN_CUT_STEP=${SWEEP_CUT_STEP:-1}
export LC_ALL=en_US.UTF-8 WINE_TIMEOUT=${SWEEP_TIMEOUT:-36000}
echo "sweep: every ${OSTREVAN_SWEEP_STEP}. operation, every ${OSTREVAN_SWEEP_NESTED_STEP}. of the run after a crash," \
    "power cuts after every ${OSTREVAN_CUT_STEP}. change"
start=$(date +%s)
bash "$root/scripts/wine-run.sh" "$tree" "$tree/tests/update_run_tests.exe" --gtest_filter=Sweep.* 2>&1 | tee "$log" | grep -E '^\[ *(sweep|FAILED|PASSED|OK) '
status=${PIPESTATUS[0]}
echo "sweep: $(( $(date +%s) - start )) s, log in $log"
exit "$status"
