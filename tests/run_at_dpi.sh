#!/usr/bin/env bash
# run_at_dpi.sh BUILD_TREE DPI PROGRAM [ARGS...] -- runs a Windows test program under Wine with the display at DPI:
# Wine gives a process the DPI of LogPixels as it starts; it is removed afterwards (96 again). OSTREVAN_DPI tells it.
set -u
tree=$1 dpi=$2 run="$(dirname "$0")/../scripts/wine-run.sh" key='HKCU\Control Panel\Desktop'
shift 2
bash "$run" "$tree" reg add "$key" /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null || exit 1
OSTREVAN_DPI=$dpi bash "$run" "$tree" "$@"
status=$?
bash "$run" "$tree" reg delete "$key" /v LogPixels /f >/dev/null || status=1
exit $status
