#!/usr/bin/env bash
# demo.sh -- updates a fresh demo install of Ostrevan 1.01 to 1.02 in a Wine prefix of its own, on screen or headless
# The package is the shipped 32-bit one, run under the 32-bit Wine (scripts/wine32-runtime.sh); only where that Wine
# cannot be made, the 64-bit one under wine64, with a line saying so.
# With a usable display (and CI not true) a person watches the packed updater and answers it. Otherwise the
# updater runs on a private Xvfb, tools/demo_driver.cpp holds its windows still for screenshots in
# build/demo/screenshots/ and answers OK. Either way the installed files are compared with the package's sources
# and the run fails unless the installation is 1.02 and the game was started.
# DEMO_LANGUAGE (english, german or russian; german by default) chooses the installation's language; DEMO_FAILURE=1
# leaves the registry value out, so that the updater finds no installation and must leave it as it is; DEMO_DPI
# (96 by default) is the display's DPI.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
tree=$root/build/demo
flavour=win32
session=$root/scripts/wine-session.sh
shots=$tree/screenshots
game_win='C:\Games\Ostrevan'
files=(Patch102Notes.txt Config.exe Ostrevan.exe main.bin patch1.bin)
language=${DEMO_LANGUAGE:-german}
failure=${DEMO_FAILURE:-}
started_file=ostrevan_started.txt

fail() {
    echo "demo: $*" >&2
    exit 1
}

if ! bash "$root/scripts/wine32-runtime.sh"; then
    echo "demo: NOTE: the 32-bit Wine cannot be made here: the demo runs the 64-bit package under wine64 instead"
    flavour=win64
fi
package=$root/build/package/$flavour
builds=$root/build/$flavour
[ -f "$package/Ostrevan_Patch102.exe" ] || fail "$package/Ostrevan_Patch102.exe is missing (make package)"
for stub in game_stub_101.exe config_stub_101.exe demo_driver.exe; do
    [ -f "$builds/$stub" ] || fail "$builds/$stub is missing (make build)"
done

# The display a person looks at: set, answering, and not a CI run.
display_usable() {
    [ -n "${DISPLAY:-}" ] && [ "${CI:-}" != true ] || return 1
    if command -v xdpyinfo >/dev/null; then
        xdpyinfo -display "$DISPLAY" >/dev/null 2>&1
    else
        import -display "$DISPLAY" -window root -crop 1x1+0+0 null: >/dev/null 2>&1
    fi
}
if display_usable; then
    interactive=1
    user_display=$DISPLAY
else
    interactive=0
fi

# The locale gives Wine its code page: Windows-1252 for English and German, Windows-1251 for Russian.
case $language in
english) locales=en_US.UTF-8 patch=patch1_en.bin ;;
german) locales="de_DE.UTF-8 en_US.UTF-8" patch=patch1_de.bin ;;
russian) locales=ru_RU.UTF-8 patch=patch1_ru.bin ;;
*) fail "DEMO_LANGUAGE is english, german or russian, not $language" ;;
esac
demo_locale=C.UTF-8
for candidate in $locales; do
    if [ "$(LC_ALL=$candidate locale charmap 2>/dev/null)" = UTF-8 ]; then
        demo_locale=$candidate
        break
    fi
done

work=$(mktemp -d)
driver_pid=
to_driver=
from_driver=
close_driver_pipes() {
    [ -z "$to_driver" ] || exec {to_driver}>&-
    [ -z "$from_driver" ] || exec {from_driver}<&-
    to_driver=
    from_driver=
}
finish() {
    if [ -n "$driver_pid" ]; then
        kill "$driver_pid" 2>/dev/null
        wait "$driver_pid" 2>/dev/null
    fi
    close_driver_pipes
    bash "$session" stop "$tree"
    rm -rf "$work"
}
trap finish EXIT
trap 'exit 1' INT TERM HUP
# A driver that has gone makes the answer fail with an error, not end the script without a summary.
trap '' PIPE

# A session left behind by an interrupted run goes first; headless, a new one starts with its own Xvfb.
bash "$session" stop "$tree"
if [ $interactive = 1 ]; then
    echo "demo: preparing the Wine prefix $tree/wineprefix"
    bash "$session" prefix "$tree" $flavour || fail "cannot make the Wine prefix"
else
    echo "demo: no display: starting Xvfb and Wine for $tree/wineprefix"
    bash "$session" start "$tree" $flavour || fail "cannot start the Wine session"
fi
. "$root/scripts/wine-env.sh" "$tree" $flavour
[ $interactive = 1 ] && export DISPLAY=$user_display

# short_sum FILE -- "size checksum" of a file, or "-" when it does not exist.
short_sum() {
    if [ -f "$1" ]; then
        echo "$(stat -c %s "$1") $(sha256sum "$1" | cut -c1-12)"
    else
        echo "-"
    fi
}

# A fresh 1.01 installation, and the registry value that leads the updater to it (none for a failure).
game=$WINEPREFIX/drive_c/Games/Ostrevan
rm -rf "$game"
mkdir -p "$game"
python3 "$root/sample/make_sample.py" install "$game" "$language" || fail "cannot make the demo installation"
cp "$builds/game_stub_101.exe" "$game/Ostrevan.exe"
cp "$builds/config_stub_101.exe" "$game/Config.exe"
"$WINE" reg delete 'HKCU\Software\Ostrevan' /f </dev/null >/dev/null 2>&1
# The display's DPI that Wine gives the updater as it starts (DEMO_DPI, 96 by default).
if [ "${DEMO_DPI:-96}" = 96 ]; then
    "$WINE" reg delete 'HKCU\Control Panel\Desktop' /v LogPixels /f </dev/null >/dev/null 2>&1
else
    "$WINE" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$DEMO_DPI" /f </dev/null >/dev/null 2>&1 ||
        fail "cannot set the display's DPI"
fi
[ -n "$failure" ] || "$WINE" reg add 'HKCU\Software\Ostrevan' /v Path /d "$game_win" /f </dev/null >/dev/null 2>&1 ||
    fail "cannot set HKCU\\Software\\Ostrevan Path"
declare -A before
for name in "${files[@]}"; do
    before[$name]=$(short_sum "$game/$name")
done
echo "demo: Ostrevan 1.01 ($language) installed${failure:+, without registry value,} in $game_win ($game); the updater: $package/Ostrevan_Patch102.exe"

updater_win="Z:${package//\//\\}\\Ostrevan_Patch102.exe"
driver_status=0
if [ $interactive = 1 ]; then
    echo "demo: running the updater on $DISPLAY: watch it and answer its dialog"
    (cd "$tree" && LC_ALL=$demo_locale "$WINE" "$updater_win" </dev/null >/dev/null 2>"$tree/updater.err")
    echo "demo: the updater has ended"
else
    rm -rf "$shots"
    mkdir -p "$shots"
    # shoot NAME LEFT TOP WIDTH HEIGHT -- that part of the Xvfb screen as NAME.png
    shoot() {
        import -display "$DISPLAY" -window root -crop "${4}x${5}+${2}+${3}" +repage -strip \
            -define png:compression-level=9 "$shots/$1.png" &&
            echo "demo: $shots/$1.png (${4}x${5})"
    }
    # The driver talks through two named pipes: a rectangle line out, an answer line in when the picture is taken.
    mkfifo "$work/to_driver" "$work/from_driver"
    (cd "$tree" && LC_ALL=$demo_locale exec timeout -k 5 120 "$WINE" "$builds/demo_driver.exe" "$updater_win" \
        <"$work/to_driver" >"$work/from_driver" 2>"$tree/driver.err") &
    driver_pid=$!
    exec {to_driver}>"$work/to_driver" {from_driver}<"$work/from_driver"
    game_line=
    while read -r -t 90 -u "$from_driver" line; do
        # The driver's C runtime ends its lines with CR LF.
        read -r what x y width height <<<"${line%$'\r'}"
        case "$what" in
        progress | result | expanded)
            if [ "$x" = missed ]; then
                echo "demo: the progress window came and went before it could be held"
                continue
            fi
            name=$what
            [ "$what" = expanded ] && name=result-details
            shoot "$name" "$x" "$y" "$width" "$height" || echo "demo: no screenshot of the $what window" >&2
            printf '\n' 1>&"$to_driver" 2>/dev/null
            ;;
        updater)
            echo "demo: the updater ended with exit code $y"
            ;;
        game)
            game_line="$x $y $width"
            break
            ;;
        esac
    done
    [ -n "$game_line" ] || echo "demo: the driver stopped early" >&2
    close_driver_pipes
    wait "$driver_pid"
    driver_status=$?
    driver_pid=
    [ $driver_status = 0 ] || { echo "demo: the driver failed ($driver_status):" >&2; cat "$tree/driver.err" >&2; }
fi

# The game starts after OK and writes its version into its directory within a few seconds.
for _ in $(seq 100); do
    grep -q '^command line' "$game/$started_file" 2>/dev/null && break
    sleep 0.1
done
started_version=$(sed -n 's/^version \([^[:space:]]*\).*/\1/p' "$game/$started_file" 2>/dev/null)
# The program that started it: the desktop shell, or the updater where the shell could not be reached.
started_by=$(sed -n 's/^parent [0-9]* \([^[:space:]]*\).*/\1/p' "$game/$started_file" 2>/dev/null)
# On screen the game shows itself for its 4 seconds before the session ends.
[ $interactive = 1 ] && [ -n "$started_version" ] && timeout 10 "$WINESERVER" -w

echo
echo "Installed files (size sha256), 1.01 -> now:"
status=0
for name in "${files[@]}"; do
    source=$name
    [ "$name" = patch1.bin ] && source=$patch
    if [ -n "$failure" ]; then
        verdict="unchanged"
        [ "$(short_sum "$game/$name")" = "${before[$name]}" ] || { verdict="CHANGED"; status=1; }
    elif [ -f "$game/$name" ] && cmp -s "$game/$name" "$package/$source"; then
        verdict="= 1.02 $source"
    else
        verdict="NOT 1.02 ($source)"
        status=1
    fi
    printf '  %-18s %-22s -> %-22s %s\n' "$name" "${before[$name]}" "$(short_sum "$game/$name")" "$verdict"
done
for leftover in "$game"/\~*; do
    [ -e "$leftover" ] || continue
    echo "  temporary file left behind: $(basename "$leftover")"
    status=1
done
if [ -n "$failure" ]; then
    if [ -n "$started_version" ]; then echo "Game started, but it must not be" && status=1; else echo "Game not started"; fi
    driver_status=0 # the driver fails when the game does not start
elif [ "$started_version" = 1.02 ]; then
    echo "Game started: Ostrevan $started_version in $game_win by $started_by (recorded in $started_file)"
elif [ -n "$started_version" ]; then
    echo "Game started, but in version $started_version"
    status=1
else
    echo "Game not started"
    status=1
fi
if [ $interactive = 0 ]; then
    echo "Screenshots: $shots/"
    for picture in "$shots"/*.png; do
        [ -f "$picture" ] && echo "  $(basename "$picture") $(identify -format '%wx%h' "$picture")"
    done
fi
[ $driver_status = 0 ] || status=1
if [ $status = 0 ]; then
    [ -n "$failure" ] && echo "demo: no installation found: Ostrevan is at version 1.01, untouched"
    [ -n "$failure" ] || echo "demo: Ostrevan is at version 1.02"
else
    echo "demo: FAILED: the installation is not as it must be, or the game did (not) start" >&2
fi
exit $status
