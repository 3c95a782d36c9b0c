#!/usr/bin/env bash
# bench.sh -- times extraction, the update, the commit, its memory and the package builder against their floors
# Prints a table and asserts nothing. Rows marked wine64 run in bench_update.exe under wine64, which the packer fills
# with the seven payloads as the package step fills the updater; the reference tools, the encoder and the heap count
# run natively (bench_host, bench_heap). Most figures time passes after a first one in one process; the "first"
# lines time the first pass in a fresh process, one process per run, as a real update makes it.
# docs/performance.md explains every row.
# Environment: BENCH_WIN64_TREE (build/win64), BENCH_HOST_TREE (build/host), BENCH_PACKAGE_DIR (build/package/win64,
# the seven sources), BENCH_WORK_DIR (build/bench, emptied first), BENCH_RUNS (11 runs per timed figure).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
win64_tree=$(cd "${BENCH_WIN64_TREE:-$root/build/win64}" && pwd)
host_tree=$(cd "${BENCH_HOST_TREE:-$root/build/host}" && pwd)
package_dir=$(cd "${BENCH_PACKAGE_DIR:-$root/build/package/win64}" && pwd)
work=${BENCH_WORK_DIR:-$root/build/bench}
runs=${BENCH_RUNS:-11}
bench_host=$host_tree/bench_host
bench_heap=$host_tree/bench_heap
language=2 # German, the demo installation's language

# Configuring the trees again adds the benchmark targets to a tree configured before bench/ existed; building them
# every time keeps them level with the sources (nothing is done when they are).
build_targets() { # TREE TARGET...
    local tree=$1
    shift
    cmake "$tree" >/dev/null && cmake --build "$tree" -j "$(nproc)" --target "$@" >/dev/null
}
build_targets "$win64_tree" bench_update packer game_stub_101 config_stub_101
build_targets "$host_tree" bench_host bench_heap
for file in "$win64_tree/bench_update.exe" "$win64_tree/packer.exe" "$bench_host" "$bench_heap"; do
    [ -f "$file" ] || { echo "bench: $file is missing; build first (make bench)" >&2; exit 1; }
done
for tool in zip unzip gzip cp python3; do
    command -v "$tool" >/dev/null || { echo "bench: $tool is missing (scripts/install-deps.sh)" >&2; exit 1; }
done

# The work directory: the sources with the packed benchmark program, the 1.01 installation, the unpacked update.
rm -rf "$work"
mkdir -p "$work/package" "$work/template" "$work/unpacked" "$work/heap"
work=$(cd "$work" && pwd)
results=$work/results.txt
sources=()
for lang in 1 2 3; do
    while read -r source _; do
        [[ " ${sources[*]} " == *" $source "* ]] || sources+=("$source")
    done < <("$bench_host" rows "$lang")
done
for source in "${sources[@]}"; do
    cp "$package_dir/$source" "$work/package/"
done
cp "$win64_tree/bench_update.exe" "$work/package/Ostrevan_Patch102.exe"
python3 "$root/sample/make_sample.py" install "$work/template" german
cp "$win64_tree/game_stub_101.exe" "$work/template/Ostrevan.exe"
cp "$win64_tree/config_stub_101.exe" "$work/template/Config.exe"
unpacked_count=0
while read -r source installed; do
    cp "$work/package/$source" "$work/unpacked/$installed"
    unpacked_count=$((unpacked_count + 1))
done < <("$bench_host" rows "$language")
(cd "$work/unpacked" && zip -q -6 -X "$work/update.zip" ./*)
(cd "$work/package" && zip -q -6 -X "$work/sources.zip" "${sources[@]}")

stop_wine() {
    bash "$root/scripts/wine-session.sh" stop "$win64_tree"
}
trap stop_wine EXIT
trap 'exit 130' INT TERM
bash "$root/scripts/wine-session.sh" start "$win64_tree"
in_wine() {
    (cd "$work/package" && bash "$root/scripts/wine-run.sh" "$win64_tree" "$@")
}

echo "bench: packing the payloads into bench_update.exe, then running under wine64 ($runs runs per figure)" >&2
in_wine "$win64_tree/packer.exe"
: >"$results"
in_wine ./Ostrevan_Patch102.exe extract "$runs" ../extract >>"$results"
in_wine ./Ostrevan_Patch102.exe update "$runs" ../template ../install >>"$results"
in_wine ./Ostrevan_Patch102.exe commit "$runs" ../template ../install >>"$results"
in_wine ./Ostrevan_Patch102.exe memory ../template ../install >>"$results"
# The first pass in a fresh process, as a real run makes it: one process per sample, the first not counted.
echo "bench: $runs fresh processes per first-pass figure" >&2
for run in $(seq 0 "$runs"); do
    for way in "extract ../extract" "floor ../extract" "update ../template ../install"; do
        # shellcheck disable=SC2086 # the way's words are its arguments
        sample=$(in_wine ./Ostrevan_Patch102.exe first $way)
        [ "$run" -eq 0 ] || echo "$sample" >>"$results"
    done
done
stop_wine
trap - EXIT

echo "bench: running the native references" >&2
fresh_copy="rm -rf '$work/copy' && cp -a '$work/template' '$work/copy'"
"$bench_host" command "$runs" unzip_sources "$fresh_copy" -- unzip -o -q "$work/sources.zip" -d "$work/copy" >>"$results"
"$bench_host" command "$runs" unzip "$fresh_copy" -- unzip -o -q "$work/update.zip" -d "$work/copy" >>"$results"
"$bench_host" command "$runs" cp "$fresh_copy" -- cp -f "$work/unpacked/"* "$work/copy/" >>"$results"
"$bench_host" encode "$runs" "$work/package" >>"$results"
source_paths=("${sources[@]/#/$work/package/}")
"$bench_host" command "$runs" gzip "" -- gzip -6 -c -n "${source_paths[@]}" >>"$results"
echo "value gzip_bytes $(gzip -6 -c -n "${source_paths[@]}" | wc -c)" >>"$results"
"$bench_heap" "$work/package" "$work/heap" "$language" >>"$results"
"$bench_host" mirror "$runs" "$work/package" "$work/heap" >>"$results"

# The table, from the result lines "time NAME MEDIAN MIN MAX" (milliseconds), "sample NAME MS" (one run of a
# first-pass figure; summarized here the same way) and "value NAME NUMBER"; the Windows program ends its lines
# with CR LF.
declare -A median low high value
summarize_samples() { # NAME -> its "time" line
    tr -d '\r' <"$results" | awk -v name="$1" '$1 == "sample" && $2 == name { print $3 }' | sort -g |
        awk -v name="$1" '{ v[NR] = $1 } END {
            m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
            printf "time %s %.3f %.3f %.3f\n", name, m, v[1], v[NR] }'
}
for name in extract_first extract_floor_first update_first; do
    summarize_samples "$name" >>"$results"
done
while read -r kind name a b c; do
    case $kind in
    time) median[$name]=$a low[$name]=$b high[$name]=$c ;;
    value) value[$name]=$a ;;
    esac
done < <(tr -d '\r' <"$results")

timed() { # NAME -> "12.3 ms [11.0 .. 14.2]"
    printf '%7.1f ms [%6.1f .. %6.1f]' "${median[$1]}" "${low[$1]}" "${high[$1]}"
}
ratio() { # A B -> A / B
    awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'
}
row() { # NUMBER WHAT FIGURE REFERENCE FIGURE RATIO
    printf '%-2s %-44s %-32s %-46s %-32s %s\n' "$@"
}

cpu=$(grep -m1 'model name' /proc/cpuinfo | sed 's/^[^:]*: //')
floor_bytes=$((value[largest_payload] + 1))
peak_growth=$((value[peak_working_set_after] - value[working_set_before]))
peak_note="raised by the run"
[ "${value[peak_working_set_after]}" -gt "${value[peak_working_set_before]}" ] ||
    peak_note="NOT raised by the run: an upper bound"

echo
echo "Ostrevan 1.02 update benchmark: median of $runs runs [min .. max]; ratio = median / median of the reference"
echo "Machine: $cpu, $(nproc) cores, Linux $(uname -r), $(/usr/lib/wine/wine64 --version)"
echo "Under wine64: bench_update.exe, linking updater_core and packed with the 7 payloads (rows marked wine64)."
echo "Natively: unzip, cp, gzip, bench_host (encoder, mirror of extraction) and bench_heap (malloc hooks), -O2."
echo
row "#" "Measured (where)" "Median [min .. max]" "Reference (where)" "Median [min .. max]" "Ratio"
row 1 "extract_payload, file mode, 7 rows (wine64)" "$(timed extract)" \
    "floor: uncompress+fwrite, 1 buffer (wine64)" "$(timed extract_floor)" \
    "$(ratio "${median[extract]}" "${median[extract_floor]}")"
row "" "  saved: the floor + malloc per row (wine64)" "$(timed extract_floor_allocating)" "the floor" "" \
    "$(ratio "${median[extract_floor_allocating]}" "${median[extract_floor]}")"
row "" "  first pass, fresh process (wine64)" "$(timed extract_first)" \
    "floor, first pass: its buffer untouched" "$(timed extract_floor_first)" \
    "$(ratio "${median[extract_first]}" "${median[extract_floor_first]}")"
row "" "" "" "the floor above (its buffer touched before)" "$(timed extract_floor)" \
    "$(ratio "${median[extract_first]}" "${median[extract_floor]}")"
row "" "  same code natively: reused buffer+fwrite" "$(timed mirror_extract)" \
    "native floor (page faults/run: ${value[mirror_extract_faults]} vs ${value[mirror_floor_faults]})" \
    "$(timed mirror_floor)" "$(ratio "${median[mirror_extract]}" "${median[mirror_floor]}")"
row 2 "update: unpack + commit, German (wine64)" "$(timed update)" \
    "unzip -o of zip -6, the ${#sources[@]} sources (native)" "$(timed unzip_sources)" \
    "$(ratio "${median[update]}" "${median[unzip_sources]}")"
row "" "" "" "unzip -o of zip -6, the $unpacked_count files (native)" "$(timed unzip)" \
    "$(ratio "${median[update]}" "${median[unzip]}")"
row "" "" "" "cp of the $unpacked_count unpacked files (native)" "$(timed cp)" \
    "$(ratio "${median[update]}" "${median[cp]}")"
row "" "  first run, fresh process (wine64)" "$(timed update_first)" \
    "unzip -o of zip -6, the $unpacked_count files (native)" "$(timed unzip)" \
    "$(ratio "${median[update_first]}" "${median[unzip]}")"
row 3 "commit_payloads, $unpacked_count files (wine64)" "$(timed commit)" \
    "CopyFileA over each, then delete (wine64)" "$(timed commit_copy)" \
    "$(ratio "${median[commit]}" "${median[commit_copy]}")"
row "" "  why: its journal's durable write (wine64)" "$(timed commit_flush)" "commit_payloads" "" \
    "$(ratio "${median[commit_flush]}" "${median[commit]}")"
row "" "  then the $unpacked_count files' FlushFileBuffers (wine64)" "$(timed commit_file_flushes)" "commit_payloads" "" \
    "$(ratio "${median[commit_file_flushes]}" "${median[commit]}")"
row "" "  then the journal's durable write again" "$(timed commit_flush_again)" "commit_payloads" "" \
    "$(ratio "${median[commit_flush_again]}" "${median[commit]}")"
row "" "  the $unpacked_count files' flushes alone, first (wine64)" "$(timed commit_file_flushes_first)" \
    "commit_payloads" "" "$(ratio "${median[commit_file_flushes_first]}" "${median[commit]}")"
row 4 "peak heap, unpacking (native, malloc hooks)" "$(printf '%d B' "${value[heap_decode_peak]}")" \
    "largest payload N + 1" "$(printf '%d B' "$floor_bytes")" "$(ratio "${value[heap_decode_peak]}" "$floor_bytes")"
row "" "  peak working set, update run (wine64)" "$(printf '%d B' "$peak_growth")" \
    "(VmHWM - VmRSS before, $peak_note)" "" "$(ratio "$peak_growth" "$floor_bytes")"
row 5 "encode_payload, 7 sources in memory (native)" "$(timed encode)" \
    "gzip -6 -n of the 7 files (native)" "$(timed gzip)" \
    "time $(ratio "${median[encode]}" "${median[gzip]}")"
row "" "  sizes: $(printf '%d B of sources' "${value[source_bytes]}")" "$(printf '%d B encoded' "${value[encoded_bytes]}")" \
    "" "$(printf '%d B of gzip' "${value[gzip_bytes]}")" \
    "size $(ratio "${value[encoded_bytes]}" "${value[gzip_bytes]}")"
echo
echo "Produced by: make bench (scripts/bench.sh); raw figures in $results"
