#!/usr/bin/env bash
# wine-session.sh prefix|start|stop BUILD_TREE [win32|win64] -- the prefix, an Xvfb display and a persistent
# wineserver for the tests of one build tree, under the Wine of its flavour (wine-env.sh); stop ends whatever start
# left running.
set -u
action=$1
mkdir -p "$2"
. "$(dirname "$0")/wine-env.sh" "$2" "${3:-}"
mkdir -p "$wine_session"
if [ "$action" != stop ] && [ ! -x "$WINE" ]; then
    echo "wine-session: no 32-bit Wine in $wine32_root: run scripts/wine32-runtime.sh" >&2
    exit 1
fi

start_xvfb() {
    local n
    for n in $(seq 90 190); do
        [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
        # No inherited descriptors: a test runner waits for its pipes to close.
        setsid Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
        echo $! >"$wine_session/xvfb.pid"
        for _ in $(seq 100); do
            [ -e "/tmp/.X11-unix/X$n" ] && { echo "$n" >"$wine_session/display"; return 0; }
            kill -0 "$(cat "$wine_session/xvfb.pid")" 2>/dev/null || break
            sleep 0.05
        done
        kill "$(cat "$wine_session/xvfb.pid")" 2>/dev/null
    done
    echo "no free X display for Xvfb" >&2
    return 1
}

# Debian's Wine does not look for its own fonts where fonts-wine puts them (/usr/share/wine/fonts), but it
# loads every font in the prefix's windows\Fonts: without them "MS Sans Serif" falls back to a fontconfig face
# and the caption buttons, drawn in Marlett, show letters ("r" for the close box) instead of their glyphs.
install_fonts() {
    local fonts="$WINEPREFIX/drive_c/windows/Fonts"
    [ -f "$fonts/marlett.ttf" ] && return 0
    mkdir -p "$fonts" && cp /usr/share/wine/fonts/*.fon /usr/share/wine/fonts/*.ttf "$fonts/"
}

make_prefix() {
    # A prefix of the other flavour cannot serve this Wine.
    grep -qs "^#arch=$WINEARCH" "$WINEPREFIX/system.reg" || rm -rf "$WINEPREFIX"
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        # Debian's 32-bit user32 imports MinGW's zlib1.dll, which its Wine does not look for where it lies.
        if [ "$WINEARCH" = win32 ]; then
            mkdir -p "$WINEPREFIX/drive_c/windows/system32"
            cp "$wine32_root/usr/i686-w64-mingw32/lib/zlib1.dll" "$WINEPREFIX/drive_c/windows/system32/"
        fi
        "$WINE" wineboot -i >/dev/null 2>&1 || { echo "wineboot failed" >&2; return 1; }
        "$WINESERVER" -w
    fi
    install_fonts
}

case "$action" in
prefix)
    make_prefix || exit 1
    ;;
start)
    "$0" stop "$2" "$WINEARCH"
    make_prefix || exit 1
    start_xvfb || exit 1
    export DISPLAY=":$(cat "$wine_session/display")"
    "$WINESERVER" -p </dev/null >/dev/null 2>&1
    # The first program starts Wine's own services and desktop, which live as long as the server: start
    # them here, detached from every pipe, so that no test's output stays open behind its program.
    # There is no window manager: Wine draws the window frames itself (captions in the screenshots), and
    # windows are not managed, so that hiding or destroying one does not wait a second for a manager.
    for setting in Decorated Managed; do
        timeout 120 "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v "$setting" /d N /f </dev/null >/dev/null 2>&1
    done
    # A program that crashes ends at once, its failure seen by the test, instead of waiting for a debugger.
    timeout 120 "$WINE" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /d none /f \
        </dev/null >/dev/null 2>&1
    ;;
stop)
    "$WINESERVER" -k 2>/dev/null
    "$WINESERVER" -w 2>/dev/null
    if [ -f "$wine_session/xvfb.pid" ]; then
        kill "$(cat "$wine_session/xvfb.pid")" 2>/dev/null
        rm -f "$wine_session/xvfb.pid"
    fi
    rm -f "$wine_session/display"
    ;;
*)
    echo "usage: $0 prefix|start|stop BUILD_TREE [win32|win64]" >&2
    exit 2
    ;;
esac
exit 0
