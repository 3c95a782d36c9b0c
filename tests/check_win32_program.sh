#!/usr/bin/env bash
# check_win32_program.sh BUILD_TREE PACKAGE_DIR -- the shipped program, checked without running it: PE32 for i386,
# kernel32 and msvcrt alone imported (it runs elevated from a download folder), its resources and manifest, every
# payload equal to its source; the bare updater carries none.
set -u
tree=$1 package=$2/Ostrevan_Patch102.exe status=0
fail() { echo "FAIL: $*"; status=1; }

headers=$(i686-w64-mingw32-objdump -p "$package") || fail "$package is not readable as PE"
grep -q 'file format pei-i386' <<<"$headers" && grep -q 'Magic.*010b.*(PE32)' <<<"$headers" || fail "not PE32 for i386"
imports=$(awk '/DLL Name:/ {print tolower($3)}' <<<"$headers" | sort | tr '\n' ' ')
[ "$imports" = "kernel32.dll msvcrt.dll " ] || fail "it imports $imports, not kernel32 and msvcrt alone"
wrestool -l "$package" | grep -qF -- '--type=14 --name=100 --language=0' || fail "no resource 14@100 (the icon)"
manifest=$(wrestool -x --raw --type=24 --name=1 "$package" | tr -d ' \n')
grep -q 'level="requireAdministrator"' <<<"$manifest" || fail "the manifest does not ask for administrator rights"
grep -q '<dpiAwarexmlns="http://schemas.microsoft.com/SMI/2005/WindowsSettings">true</dpiAware>' <<<"$manifest" ||
    fail "the manifest does not declare system DPI awareness"
[ "$(wrestool -l "$tree/updater.exe" | grep -c -- '--type=10 ')" -eq 0 ] || fail "the bare updater carries payloads"
python3 "$(dirname "$0")/../scripts/check_payloads.py" "$package" "$2" || fail "payloads"
exit $status
