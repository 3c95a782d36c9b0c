#!/usr/bin/env bash
# screenshots.sh -- pictures of the shipped updater's windows, in docs/screenshots/, taken from real runs
# Each language is updated once (scripts/demo.sh, headless) and run once without an installation, which is the
# failure view; the progress window is the English update's, held while it unpacks the main data file.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
out=$root/docs/screenshots
shots=$root/build/demo/screenshots
mkdir -p "$out"
for language in english german russian; do
    for view in success failure; do
        failure=
        [ $view = failure ] && failure=1
        if ! CI=true DEMO_LANGUAGE=$language DEMO_FAILURE=$failure bash "$root/scripts/demo.sh" >"$root/build/demo.log" 2>&1; then
            echo "screenshots: the $language $view run failed (build/demo.log):" >&2
            tail -n 20 "$root/build/demo.log" >&2
            exit 1
        fi
        cp "$shots/result.png" "$out/result-$language-$view-collapsed.png"
        cp "$shots/result-details.png" "$out/result-$language-$view-expanded.png"
        [ $language-$view = english-success ] && cp "$shots/progress.png" "$out/progress.png"
        echo "screenshots: $out/result-$language-$view-{collapsed,expanded}.png"
    done
done
