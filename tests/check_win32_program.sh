#!/usr/bin/env bash
# check_win32_program.sh BUILD_TREE PACKAGE_DIR -- the 32-bit programs, checked without running them:
# PE32 for i386, no DLL but the system's, and the packed updater's resources.
set -u
tree=$1
package=$2
status=0
fail() { echo "FAIL: $*"; status=1; }

# DLLs that every Windows has; the runtime and zlib are linked in.
system_dlls='^(kernel32|user32|gdi32|advapi32|shell32|comctl32|comdlg32|msvcrt|ole32|oleaut32|shlwapi|version|ntdll)\.dll$'
for exe in "$tree"/updater.exe "$tree"/packer.exe "$tree"/game_stub_102.exe "$tree"/config_stub_102.exe \
    "$package"/Ostrevan_Patch102.exe; do
    headers=$(i686-w64-mingw32-objdump -p "$exe") || { fail "$exe is not readable as PE"; continue; }
    grep -q 'file format pei-i386' <<<"$headers" || fail "$exe is not for i386"
    grep -q 'Magic.*010b.*(PE32)' <<<"$headers" || fail "$exe is not PE32"
    while read -r dll; do
        grep -qiE "$system_dlls" <<<"$dll" || fail "$exe imports $dll"
    done < <(awk '/DLL Name:/ {print $3}' <<<"$headers")
    # The updater runs elevated from a download folder: at start it loads known DLLs alone.
    if [[ $exe == */updater.exe || $exe == */Ostrevan_Patch102.exe ]]; then
        imports=$(awk '/DLL Name:/ {print tolower($3)}' <<<"$headers" | sort | tr '\n' ' ')
        [ "$imports" = "kernel32.dll msvcrt.dll " ] || fail "$exe imports $imports, not kernel32 and msvcrt alone"
    fi
    echo "$(basename "$exe"): PE32 i386, imports $(awk '/DLL Name:/ {printf "%s ", $3}' <<<"$headers")"
done

listing=$(wrestool -l "$package/Ostrevan_Patch102.exe")
for expected in '--type=5 --name=103 --language=0' '--type=5 --name=104 --language=0' \
    '--type=14 --name=100 --language=0' '--type=24 --name=1 --language=0' \
    $(for id in 1101 1102 1103 1104 1105 1106 1107; do echo "--type=10@--name=$id@--language=0"; done); do
    expected=${expected//@/ }
    grep -qF -- "$expected" <<<"$listing" || fail "no resource $expected"
done
wrestool -x --raw --type=24 --name=1 "$package/Ostrevan_Patch102.exe" | grep -q 'level="requireAdministrator"' ||
    fail "the manifest does not ask for administrator rights"
wrestool -x --raw --type=24 --name=1 "$package/Ostrevan_Patch102.exe" | tr -d ' \n' |
    grep -q '<dpiAwarexmlns="http://schemas.microsoft.com/SMI/2005/WindowsSettings">true</dpiAware>' ||
    fail "the manifest does not declare system DPI awareness"
[ "$(wrestool -l "$tree/updater.exe" | grep -c -- '--type=10 ')" -eq 0 ] || fail "the unpacked updater carries payloads"

python3 "$(dirname "$0")/../scripts/check_payloads.py" "$package/Ostrevan_Patch102.exe" "$package" || fail "payloads"
exit $status
