#!/usr/bin/env bash
# run_at_dpi.sh BUILD_TREE DPI PROGRAM [ARGS...] -- runs a Windows test program under Wine with the display at DPI
# Wine gives a process the DPI of LogPixels (HKCU\Control Panel\Desktop) as it starts. The value is removed
# afterwards, so that the tests after this one run at the default 96 again; OSTREVAN_DPI tells the program.
set -u
tree=$1
dpi=$2
shift 2
run="$(dirname "$0")/../scripts/wine-run.sh"
key='HKCU\Control Panel\Desktop'
bash "$run" "$tree" reg add "$key" /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null || exit 1
OSTREVAN_DPI=$dpi bash "$run" "$tree" "$@"
status=$?
bash "$run" "$tree" reg delete "$key" /v LogPixels /f >/dev/null || status=1
exit $status
