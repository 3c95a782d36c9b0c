#!/usr/bin/env bash
# bench.sh -- prints the table of docs/performance.md: the updater's work against its floors and native tools
# Asserts nothing. Needs make package. bench.exe (bench/bench.cpp), packed with the payloads as the updater is, runs
# under wine64 in a prefix of its own (build/bench); unzip and gzip run natively. BENCH_RUNS: runs per figure (11).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
win64=$root/build/win64
tree=$root/build/bench
work=$tree/work
samples=$work/samples.txt
runs=${BENCH_RUNS:-11}

cmake --build "$win64" -j 2 --target bench packer game_stub_101 config_stub_101 >/dev/null
rm -rf "$work"
mkdir -p "$work/template"
cp -r "$root/build/package/win64" "$work/package"
cp "$win64/bench.exe" "$work/package/Ostrevan_Patch102.exe"
python3 "$root/sample/make_sample.py" install "$work/template" german
cp "$win64/game_stub_101.exe" "$work/template/Ostrevan.exe"
cp "$win64/config_stub_101.exe" "$work/template/Config.exe"
cp -r "$work/template" "$work/game"

trap 'bash "$root/scripts/wine-session.sh" stop "$tree"' EXIT
bash "$root/scripts/wine-session.sh" start "$tree" win64
in_wine() {
    (cd "$work/package" && WINE_TIMEOUT=1200 bash "$root/scripts/wine-run.sh" "$tree" "$@")
}
in_wine reg add 'HKCU\Software\Ostrevan' /v Path /d "Z:${work//\//\\}\\game" /f >/dev/null
in_wine "$win64/packer.exe"
echo "bench: $runs runs per figure under wine64, then natively" >&2
in_wine ./Ostrevan_Patch102.exe "$runs" ../template | tr -d '\r' >"$samples"

time_native() { # NAME SETUP COMMAND...: "NAME MS" for runs runs after one not counted, each after SETUP (untimed)
    local name=$1 setup=$2 run us
    shift 2
    for run in $(seq 0 "$runs"); do
        eval "$setup"
        us=${EPOCHREALTIME//[!0-9]/}
        "$@" >/dev/null
        us=$((${EPOCHREALTIME//[!0-9]/} - us))
        [ "$run" = 0 ] || printf '%s %d.%03d\n' "$name" $((us / 1000)) $((us % 1000))
    done >>"$samples"
}
mapfile -t sources < <(awk -v dir="$work/package" '$1 == "row" { print dir "/" $2 }' "$samples")
mapfile -t installs < <(awk '$1 == "row" && $4 == 1 { print $3 }' "$samples")
(cd "$work/game" && zip -q -6 -X "$work/update.zip" "${installs[@]}")
time_native unzip "rm -rf '$work/copy' && cp -r '$work/template' '$work/copy'" \
    unzip -o -q "$work/update.zip" -d "$work/copy"
time_native gzip "" gzip -6 -n -c "${sources[@]}"
echo "gzip_bytes $(gzip -6 -n -c "${sources[@]}" | wc -c)" >>"$samples"

echo
echo "Ostrevan 1.02 update benchmark: median of $runs runs [min .. max]; ratio = median / median of the reference"
echo "Machine: $(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -1), $(nproc) cores, Linux $(uname -r)," \
    "$(/usr/lib/wine/wine64 --version)"
awk -v files="${#installs[@]}" '
    { n[$1]++; v[$1, n[$1]] = $2 + 0 }
    function median(k,   i, j, t) { # sorts the figures of k, returns their median
        for (i = 2; i <= n[k]; i++)
            for (j = i; j > 1 && v[k, j - 1] > v[k, j]; j--) { t = v[k, j]; v[k, j] = v[k, j - 1]; v[k, j - 1] = t }
        return n[k] % 2 ? v[k, (n[k] + 1) / 2] : (v[k, n[k] / 2] + v[k, n[k] / 2 + 1]) / 2
    }
    function timed(k,   m) { m = median(k); return sprintf("%7.1f ms [%6.1f .. %6.1f]", m, v[k, 1], v[k, n[k]]) }
    function row(a, b, c, d, e, f) { printf "%-2s %-45s %-30s %-41s %-30s %s\n", a, b, c, d, e, f }
    function pair(i, what, k, ref, r) { row(i, what, timed(k), ref, timed(r), sprintf("%.2f", median(k) / median(r))) }
    END {
        row("#", "Measured (where)", "Median [min .. max]", "Reference (where)", "Median [min .. max]", "Ratio")
        pair(1, "extract_payload, file mode, 7 rows (wine64)", "extract",
            "uncompress + fwrite, one buffer (wine64)", "floor")
        pair("", "  the same", "extract", "  and each file flushed (wine64)", "durable_floor")
        pair(2, "run_update, German 1.01 demo (wine64)", "update", "unzip -o of the " files " files (native)", "unzip")
        pair(3, "commit_payloads, " files " files (wine64)", "commit",
            "CopyFileA over each, then delete (wine64)", "naive_commit")
        floor = v["largest_payload", 1] + 1
        row(4, "peak working set, unpacking 7 rows (wine64)", v["peak_growth", 1] " B",
            v["peak_raised", 1] ? "largest payload N + 1" : "N + 1 (peak not raised: an upper bound)", floor " B",
            sprintf("%.2f", v["peak_growth", 1] / floor))
        row(5, "encode_payload, 7 sources in memory (wine64)", timed("encode"), "gzip -6 -n of the 7 files (native)",
            timed("gzip"), sprintf("time %.2f", median("encode") / median("gzip")))
        row("", "  sizes: " v["source_bytes", 1] " B of sources", v["encoded_bytes", 1] " B encoded", "",
            v["gzip_bytes", 1] " B of gzip", sprintf("size %.2f", v["encoded_bytes", 1] / v["gzip_bytes", 1]))
    }' "$samples"
