#!/usr/bin/env bash
# pack-folder.sh check|pack DIR -- the manifest's source files in DIR, packed by the packer run there
# check: names every source file that DIR lacks and fails if there is one.
# pack: the same check, then the 64-bit packer under wine64 writes the payloads into DIR/Ostrevan_Patch102.exe.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
action=$1
dir=$2
wine_tree=$root/build/win64

sources=$(python3 "$root/scripts/check_payloads.py" sources) || exit 1
missing=0
for source in $sources; do
    [ -f "$dir/$source" ] && continue
    echo "missing source: $dir/$source" >&2
    missing=1
done
# The packer asks a person about a missing source; nobody is there to answer.
[ $missing = 0 ] || exit 1
[ "$action" = check ] && exit 0

[ -f "$dir/Ostrevan_Patch102.exe" ] || { echo "no $dir/Ostrevan_Patch102.exe to pack" >&2; exit 1; }
[ -f "$wine_tree/packer.exe" ] || { echo "$wine_tree/packer.exe is missing (make build)" >&2; exit 1; }
bash "$root/scripts/wine-session.sh" prefix "$wine_tree" || exit 1
(cd "$dir" && bash "$root/scripts/wine-run.sh" "$wine_tree" "$wine_tree/packer.exe")
