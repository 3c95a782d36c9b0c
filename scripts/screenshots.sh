#!/usr/bin/env bash
# screenshots.sh -- pictures of the shipped updater's windows, in docs/screenshots/, taken from real runs
# Each language is updated once (scripts/demo.sh, headless) and run once without an installation, which is the
# failure view; the progress window is the English update's, held while it unpacks the main data file. All of it
# at 96 DPI, then again at 144 DPI (150 % scaling) into docs/screenshots/144dpi/.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
out=$root/docs/screenshots
shots=$root/build/demo/screenshots
for dpi in 96 144; do
    dir=$out
    [ $dpi = 96 ] || dir=$out/${dpi}dpi
    mkdir -p "$dir"
    for language in english german russian; do
        for view in success failure; do
            failure=
            [ $view = failure ] && failure=1
            if ! CI=true DEMO_LANGUAGE=$language DEMO_FAILURE=$failure DEMO_DPI=$dpi bash "$root/scripts/demo.sh" \
                >"$root/build/demo.log" 2>&1; then
                echo "screenshots: the $language $view run at $dpi DPI failed (build/demo.log):" >&2
                tail -n 20 "$root/build/demo.log" >&2
                exit 1
            fi
            cp "$shots/result.png" "$dir/result-$language-$view-collapsed.png"
            cp "$shots/result-details.png" "$dir/result-$language-$view-expanded.png"
            [ $language-$view = english-success ] && cp "$shots/progress.png" "$dir/progress.png"
            echo "screenshots: $dir/result-$language-$view-{collapsed,expanded}.png"
        done
    done
done
