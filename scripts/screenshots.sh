#!/usr/bin/env bash
# screenshots.sh [BUILD_TREE] -- pictures of the updater's windows under wine64 on a private Xvfb, in docs/screenshots/
# BUILD_TREE is a 64-bit Windows build tree (default build/win64); its ui_preview.exe opens each window in the
# wanted language and state and prints the window's rectangle, which is cut out of the screen into a PNG.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
tree=$(cd "${1:-$root/build/win64}" && pwd)
out=$root/docs/screenshots
session="$root/scripts/wine-session.sh"

# Each language of the result dialog with the locale that gives Wine its code page (Windows-1252 or -1251).
languages=(english:en_US.UTF-8 german:de_DE.UTF-8 russian:ru_RU.UTF-8)
for language in "${languages[@]}"; do
    # A locale that is not installed falls back to C, and Wine then to Windows-1252.
    if [ "$(LC_ALL=${language#*:} locale charmap 2>/dev/null)" != UTF-8 ]; then
        echo "screenshots: locale ${language#*:} is not installed (Debian package locales-all)" >&2
        exit 1
    fi
done
# A tree configured before tools/screenshots.cmake existed has no ui_preview target until it is configured again.
if ! cmake --build "$tree" --target ui_preview >/dev/null 2>&1; then
    cmake -S "$root" -B "$tree" >/dev/null
    cmake --build "$tree" --target ui_preview >/dev/null
fi
preview=$tree/ui_preview.exe
work=$(mktemp -d)
preview_pid=

# set_dpi DPI -- the display's DPI for the programs started from now on; 96 removes the setting, which
# the prefix shares with the tests of this tree.
set_dpi() {
    if [ "$1" = 96 ]; then
        "$WINE" reg delete 'HKCU\Control Panel\Desktop' /v LogPixels /f >/dev/null 2>&1 || true
    else
        "$WINE" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null
    fi
}
dpi_changed=

finish() {
    [ -z "$dpi_changed" ] || set_dpi 96
    if [ -n "$preview_pid" ]; then
        kill "$preview_pid" 2>/dev/null || true
        wait "$preview_pid" 2>/dev/null || true
    fi
    bash "$session" stop "$tree"
    rm -rf "$work"
}
trap finish EXIT
trap 'exit 1' INT TERM HUP

bash "$session" start "$tree"
. "$root/scripts/wine-env.sh" "$tree"
mkdir -p "$out"

# shoot NAME LOCALE ARGS... -- runs ui_preview ARGS with LC_ALL=LOCALE (which gives Wine its code page),
# waits for the rectangle line and saves that part of the screen as NAME.png.
shoot() {
    local name=$1 locale=$2
    shift 2
    local ready=$work/$name.txt
    LC_ALL=$locale "$WINE" "$preview" "$@" >"$ready" 2>"$work/$name.err" &
    preview_pid=$!
    local x y width height
    for _ in $(seq 300); do
        read -r x y width height <"$ready" 2>/dev/null && break
        kill -0 "$preview_pid" 2>/dev/null || break
        sleep 0.1
    done
    if [ -z "${height:-}" ]; then
        echo "screenshots: ui_preview $* showed no window" >&2
        cat "$work/$name.err" >&2
        return 1
    fi
    import -display "$DISPLAY" -window root -crop "${width}x${height}+${x}+${y}" +repage -strip \
        -define png:compression-level=9 "$out/$name.png"
    kill "$preview_pid" 2>/dev/null || true
    wait "$preview_pid" 2>/dev/null || true
    preview_pid=
    echo "$out/$name.png (${width}x${height})"
}

# every_window PREFIX -- the progress window and the result dialog in every language, view and state.
every_window() {
    shoot "${1}progress" en_US.UTF-8 progress 3
    for language in "${languages[@]}"; do
        for view in success failure; do
            for state in collapsed expanded; do
                shoot "${1}result-${language%%:*}-$view-$state" "${language#*:}" result "${language%%:*}" "$view" "$state"
            done
        done
    done
}

# Wine gives a process the display's DPI from LogPixels as it starts: the default 96 first, then 144
# (150 % scaling) into docs/screenshots/144dpi/.
dpi_changed=1
set_dpi 96
every_window ""
mkdir -p "$out/144dpi" "$work/144dpi"
set_dpi 144
every_window "144dpi/"
