#!/usr/bin/env bash
# fuzz.sh [SECONDS] -- a long run of the payload fuzzer on a corpus kept in build/host/fuzz_corpus
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-600}
[ "$seconds" = long ] && seconds=600
corpus=$root/build/host/fuzz_corpus
mkdir -p "$corpus"
"$root/build/host/tests/payload_fuzzer" -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=1024 \
    "$corpus" "$root/build/host/tests/fuzz_seeds"
