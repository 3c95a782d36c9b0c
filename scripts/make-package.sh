#!/usr/bin/env bash
# make-package.sh [OUT_ROOT] -- packs the demo game's 1.02 files into Ostrevan_Patch102.exe, for 32- and 64-bit Windows
# The 64-bit packer runs under wine64 and writes the payloads into a copy of each built updater:
# OUT_ROOT/win32/Ostrevan_Patch102.exe is the shipped program, OUT_ROOT/win64/ the same package for Wine.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
out_root=${1:-$root/build/package}

for arch in win32 win64; do
    dir=$out_root/$arch
    rm -rf "$dir"
    mkdir -p "$dir"
    python3 "$root/sample/make_sample.py" sources "$dir"
    cp "$root/build/$arch/config_stub_102.exe" "$dir/Config.exe"
    cp "$root/build/$arch/game_stub_102.exe" "$dir/Ostrevan.exe"
    cp "$root/build/$arch/updater.exe" "$dir/Ostrevan_Patch102.exe"
    bash "$root/scripts/pack-folder.sh" pack "$dir"
    echo "packed $dir/Ostrevan_Patch102.exe ($(stat -c %s "$dir/Ostrevan_Patch102.exe") bytes)"
done
