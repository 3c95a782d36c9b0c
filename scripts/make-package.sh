#!/usr/bin/env bash
# make-package.sh [OUT_ROOT] -- packs the demo game's 1.02 files into Ostrevan_Patch102.exe, for 32- and 64-bit Windows
# The 64-bit packer runs under wine64 and writes the payloads into a copy of each built updater:
# OUT_ROOT/win32/Ostrevan_Patch102.exe is the shipped program, OUT_ROOT/win64/ the same package for Wine.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
out_root=${1:-$root/build/package}
wine_tree=$root/build/win64
sources=(Patch102Notes.txt Config.exe Ostrevan.exe main.bin patch1_en.bin patch1_de.bin patch1_ru.bin)

bash "$root/scripts/wine-session.sh" prefix "$wine_tree"
for arch in win32 win64; do
    dir=$out_root/$arch
    rm -rf "$dir"
    mkdir -p "$dir"
    python3 "$root/sample/make_sample.py" sources "$dir"
    cp "$root/build/$arch/config_stub_102.exe" "$dir/Config.exe"
    cp "$root/build/$arch/game_stub_102.exe" "$dir/Ostrevan.exe"
    cp "$root/build/$arch/updater.exe" "$dir/Ostrevan_Patch102.exe"
    # The packer asks a person about a missing source; nobody is there to answer.
    for source in "${sources[@]}"; do
        [ -f "$dir/$source" ] || { echo "make-package: $dir/$source is missing" >&2; exit 1; }
    done
    (cd "$dir" && bash "$root/scripts/wine-run.sh" "$wine_tree" "$wine_tree/packer.exe")
    echo "packed $dir/Ostrevan_Patch102.exe ($(stat -c %s "$dir/Ostrevan_Patch102.exe") bytes)"
done
