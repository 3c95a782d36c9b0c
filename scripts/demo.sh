#!/usr/bin/env bash
# demo.sh -- updates a fresh demo install of Ostrevan 1.01 to 1.02 in a Wine prefix of its own, on screen or headless
# The package is the shipped 32-bit one under the 32-bit Wine (scripts/wine32-runtime.sh); only where that Wine cannot
# be made, the 64-bit one under wine64, with a line saying so. With a usable display (and CI not true) a person answers
# the updater's windows. Otherwise it runs on a private Xvfb, where tools/demo_driver.cpp holds each window still for
# a screenshot in build/demo/screenshots/ and answers OK. Either way the run fails unless the installed files are the
# package's and the game 1.02 was started.
# DEMO_LANGUAGE: english, german (the default) or russian. DEMO_FAILURE=1 leaves the registry value out: the updater
# finds no installation and must leave it as it is. DEMO_DPI: the display's DPI (96 by default). DEMO_SYSTEM=western
# or cyrillic runs the edition on a system of that code page (Windows-1252 or 1251) instead of its own; the screenshots
# are then named result-LANGUAGE-on-SYSTEM-...
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
tree=$root/build/demo
shots=$tree/screenshots
game=$tree/wineprefix/drive_c/Games/Ostrevan
files=(Patch102Notes.txt Config.exe Ostrevan.exe main.bin patch1.bin)
language=${DEMO_LANGUAGE:-german}
failure=${DEMO_FAILURE:-}
view=success expected=1.02
[ -z "$failure" ] || view=failure expected=
fail() {
    echo "demo: $*" >&2
    exit 1
}

# The locale gives Wine its code page (Windows-1252, or 1251 for Russian) and, without an installation, the language.
case $language in
english) locale=en_US.UTF-8 patch=patch1_en.bin ;;
german) locale=de_DE.UTF-8 patch=patch1_de.bin ;;
russian) locale=ru_RU.UTF-8 patch=patch1_ru.bin ;;
*) fail "DEMO_LANGUAGE is english, german or russian, not $language" ;;
esac
system=${DEMO_SYSTEM:-}
case $system in
'') ;;
western) locale=en_US.UTF-8 ;;
cyrillic) locale=ru_RU.CP1251 ;;
*) fail "DEMO_SYSTEM is western or cyrillic, not $system" ;;
esac
printf -v dpi %08x "${DEMO_DPI:-96}" 2>/dev/null || fail "DEMO_DPI is a number, not $DEMO_DPI"

flavour=win32
if ! bash "$root/scripts/wine32-runtime.sh"; then
    echo "demo: NOTE: the 32-bit Wine cannot be made here: the demo runs the 64-bit package under wine64 instead"
    flavour=win64
fi
package=$root/build/package/$flavour
builds=$root/build/$flavour
for file in "$package/Ostrevan_Patch102.exe" "$builds"/{game_stub_101,config_stub_101,demo_driver}.exe; do
    [ -f "$file" ] || fail "$file is missing (make package)"
done

# A display a person looks at: set, answering, and not a CI run.
interactive=
[ -n "${DISPLAY:-}" ] && [ "${CI:-}" != true ] &&
    import -display "$DISPLAY" -window root -crop 1x1+0+0 null: >/dev/null 2>&1 && interactive=1

session() {
    bash "$root/scripts/wine-session.sh" "$1" "$tree" $flavour
}
# Stopping the session ends every Wine process of the prefix, the driver's too.
trap 'session stop' EXIT
trap 'exit 1' INT TERM HUP
# A driver that has gone makes the answer fail with an error, not end the script without its summary and clean-up.
trap '' PIPE

# Whatever an interrupted run left goes first (start stops it too); headless, the session has its own Xvfb.
if [ -n "$interactive" ]; then
    echo "demo: preparing the Wine prefix $tree/wineprefix"
    session stop && session prefix || fail "cannot make the Wine prefix"
else
    echo "demo: no display: starting Xvfb and Wine for $tree/wineprefix"
    session start || fail "cannot start the Wine session"
fi
. "$root/scripts/wine-env.sh" "$tree" $flavour

# A fresh 1.01 installation, the registry value that leads the updater to it (none for a failure), and the display's
# DPI that Wine gives the updater as it starts.
rm -rf "$game" && mkdir -p "$game" && python3 "$root/sample/make_sample.py" install "$game" "$language" &&
    cp "$builds/game_stub_101.exe" "$game/Ostrevan.exe" && cp "$builds/config_stub_101.exe" "$game/Config.exe" ||
    fail "cannot make the demo installation"
{
    printf '%s\n' REGEDIT4 '[-HKEY_CURRENT_USER\Software\Ostrevan]'
    [ -n "$failure" ] || printf '%s\n' '[HKEY_CURRENT_USER\Software\Ostrevan]' '"Path"="C:\\Games\\Ostrevan"'
    printf '%s\n' '[HKEY_CURRENT_USER\Control Panel\Desktop]' "\"LogPixels\"=dword:$dpi"
} >"$tree/demo.reg"
"$WINE" regedit /S "Z:${tree//\//\\}\\demo.reg" </dev/null >/dev/null 2>&1 || fail "cannot write the registry"

short_sum() {
    if [ -f "$1" ]; then echo "$(stat -c %s "$1") $(sha256sum "$1" | cut -c1-12)"; else echo -; fi
}
declare -A before
for name in "${files[@]}"; do
    before[$name]=$(short_sum "$game/$name")
done
echo "demo: Ostrevan 1.01 ($language) installed${failure:+, without registry value,} in C:\\Games\\Ostrevan ($game);" \
    "the updater: $package/Ostrevan_Patch102.exe"

updater_win="Z:${package//\//\\}\\Ostrevan_Patch102.exe"
status=0
if [ -n "$interactive" ]; then
    echo "demo: running the updater on $DISPLAY: watch it and answer its dialog"
    (cd "$tree" && LC_ALL=$locale "$WINE" "$updater_win" </dev/null >/dev/null 2>"$tree/updater.err")
    echo "demo: the updater has ended"
else
    rm -rf "$shots" && mkdir -p "$shots"
    coproc driver { cd "$tree" && LC_ALL=$locale exec timeout -k 5 120 "$WINE" "$builds/demo_driver.exe" "$updater_win"; }
    driver_pid=$driver_PID # bash forgets it once the driver has ended
    # Each line names a window and its rectangle on the screen; the driver goes on once it is taken (lines end in CR LF).
    while IFS=$' \r' read -r -t 90 -u "${driver[0]}" what x y width height; do
        name=result-$language${system:+-on-$system}-$view-$what
        [ "$what" = progress ] && name=progress
        import -display "$DISPLAY" -window root -crop "${width}x$height+$x+$y" +repage -strip \
            -define png:compression-level=9 "$shots/$name.png" && echo "demo: $shots/$name.png (${width}x$height)" ||
            { echo "demo: no screenshot of the $what window" >&2 && status=1; }
        echo >&"${driver[1]}"
        [ "$what" = expanded ] && break
    done
    wait "$driver_pid" || { echo "demo: the driver or the updater failed (exit code $?)" >&2 && status=1; }
fi

# The game starts after OK and writes its version, and the program that started it, into its directory.
started=$game/ostrevan_started.txt
for _ in $(seq 100); do
    grep -qs '^command line' "$started" && break
    sleep 0.1
done
version=$(sed -n 's/^version \([^[:space:]]*\).*/\1/p' "$started" 2>/dev/null)
started_by=$(sed -n 's/^parent [0-9]* \([^[:space:]]*\).*/\1/p' "$started" 2>/dev/null)
# On screen the game shows itself for its 4 seconds before the session ends.
[ -n "$interactive" ] && [ -n "$version" ] && timeout 10 "$WINESERVER" -w

echo
echo "Installed files (size sha256), 1.01 -> now:"
for name in "${files[@]}"; do
    source=${name/patch1.bin/$patch}
    now=$(short_sum "$game/$name")
    if [ -n "$failure" ]; then
        verdict=unchanged
        [ "$now" = "${before[$name]}" ] || verdict=CHANGED
    elif cmp -s "$game/$name" "$package/$source"; then
        verdict="= 1.02 $source"
    else
        verdict="NOT 1.02 ($source)"
    fi
    case $verdict in unchanged | =*) ;; *) status=1 ;; esac
    printf '  %-18s %-22s -> %-22s %s\n' "$name" "${before[$name]}" "$now" "$verdict"
done
for leftover in "$game"/\~*; do
    [ -e "$leftover" ] && echo "  temporary file left behind: $(basename "$leftover")" && status=1
done
if [ -n "$version" ]; then
    echo "Game started: Ostrevan $version in C:\\Games\\Ostrevan by $started_by${failure:+, but it must not be}"
else
    echo "Game not started"
fi
[ "$version" = "$expected" ] || status=1
if [ $status != 0 ]; then
    echo "demo: FAILED: see the lines above" >&2
elif [ -n "$failure" ]; then
    echo "demo: no installation found: Ostrevan is at version 1.01, untouched"
else
    echo "demo: Ostrevan is at version 1.02"
fi
exit $status
