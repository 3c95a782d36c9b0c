# wine-env.sh -- sourced: the Wine environment of one build tree ($1, may be empty), its prefix and its display
# Everything lives inside the build tree: the prefix, the Xvfb display number, the pids. The tree's flavour ($2, or
# the one its prefix or its CMake configuration names) chooses the Wine: win64 is the host's wine64, win32 the
# 32-bit Wine under QEMU that scripts/wine32-runtime.sh keeps in a cache outside the checkout.
wine32_cache=${OSTREVAN_WINE32_CACHE:-/var/cache/ostrevan-wine32}
[ -w /var/cache ] || wine32_cache=${OSTREVAN_WINE32_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/ostrevan-wine32}
wine32_root=$wine32_cache/root
if [ -n "$1" ]; then
    wine_tree=$(cd "$1" && pwd)
    export WINEPREFIX="$wine_tree/wineprefix"
    wine_flavour=${2:-}
    if [ -z "$wine_flavour" ]; then
        wine_flavour=win64
        if grep -qs '^#arch=win32' "$WINEPREFIX/system.reg" || grep -qs 'TOOLCHAIN_FILE.*i686' "$wine_tree/CMakeCache.txt"
        then wine_flavour=win32; fi
    fi
    export WINEARCH=$wine_flavour
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml=${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"
    wine_session="$wine_tree/wine-session"
    if [ "$wine_flavour" = win32 ]; then
        WINE=$wine32_root/usr/lib/wine/wine
        # Every Wine process, the loader's own children too, starts this server when none is running.
        export WINESERVER=$wine32_root/usr/lib/wine/wineserver
    else
        WINE=/usr/lib/wine/wine64
        WINESERVER=/usr/lib/wine/wineserver64
    fi
    if [ -f "$wine_session/display" ]; then
        export DISPLAY=":$(cat "$wine_session/display")"
    fi
fi
