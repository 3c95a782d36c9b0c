#!/usr/bin/env bash
# screenshots.sh -- pictures of the shipped updater's windows, in docs/screenshots/, taken from real runs
# Each language is updated once by scripts/demo.sh, headless, and run once without an installation, which is the
# failure view; the progress window is the English update's. Then the Russian edition on a Western system and the
# German one on a Cyrillic system, expanded after the update. All of it at 96 DPI, then again at 144 DPI (150 %
# scaling) into docs/screenshots/144dpi/.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
shots=$root/build/demo/screenshots
# The pictures show the shipped 32-bit package: no falling back to the 64-bit one here.
bash "$root/scripts/wine32-runtime.sh" || exit 1
for dpi in 96 144; do
    dir=$root/docs/screenshots
    [ $dpi = 96 ] || dir=$dir/${dpi}dpi
    for language in english german russian; do
        for failure in "" 1; do
            if ! CI=true DEMO_LANGUAGE=$language DEMO_FAILURE=$failure DEMO_DPI=$dpi bash "$root/scripts/demo.sh" \
                >"$root/build/demo.log" 2>&1; then
                echo "screenshots: the $language${failure:+ failure} run at $dpi DPI failed (build/demo.log):" >&2
                tail -n 20 "$root/build/demo.log" >&2
                exit 1
            fi
            pictures=("$shots"/result-*.png)
            [ $language$failure = english ] && pictures+=("$shots/progress.png")
            mkdir -p "$dir" && cp "${pictures[@]}" "$dir/" || exit 1
            echo "screenshots: ${pictures[*]##*/} in $dir/"
        done
    done
    for cross in russian:western german:cyrillic; do
        language=${cross%:*} system=${cross#*:}
        if ! CI=true DEMO_LANGUAGE=$language DEMO_SYSTEM=$system DEMO_DPI=$dpi bash "$root/scripts/demo.sh" \
            >"$root/build/demo.log" 2>&1; then
            echo "screenshots: the $language run on a $system system at $dpi DPI failed (build/demo.log):" >&2
            tail -n 20 "$root/build/demo.log" >&2
            exit 1
        fi
        picture=$shots/result-$language-on-$system-success-expanded.png
        cp "$picture" "$dir/" || exit 1
        echo "screenshots: ${picture##*/} in $dir/"
    done
done
