# wine-env.sh -- sourced: the Wine environment of one build tree ($1), its prefix and its display
# Everything lives inside the build tree: the prefix, the Xvfb display number, the pids.
wine_tree=$(cd "$1" && pwd)
export WINEPREFIX="$wine_tree/wineprefix"
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
wine_session="$wine_tree/wine-session"
WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver64
if [ -f "$wine_session/display" ]; then
    export DISPLAY=":$(cat "$wine_session/display")"
fi
