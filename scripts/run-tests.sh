#!/usr/bin/env bash
# run-tests.sh -- runs the tests of the three configurations and closes with one summary line
# host: the portable code under sanitizers and the fuzzer; win32: the shipped program by inspection and, under the
# 32-bit Wine, the Windows code and the packed updater end to end; win64: the packer under wine64, and the 64-bit
# twin's sweep samples. Each Wine configuration has its own prefix, display and server, so the 32-bit tests run on
# one core while the host and 64-bit tests run on the other; their output follows the 32-bit tests'.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
# Whatever happens, no Xvfb or wineserver of the tests stays behind.
trap 'for tree in build/win32 build/win64; do bash scripts/wine-session.sh stop $tree >/dev/null 2>&1; done' EXIT INT TERM

run_preset() { # PRESET: its tests, the output in build/PRESET/ctest-output.log, the exit status in .status
    ctest --preset "$1" >"build/$1/ctest-output.log" 2>&1
    echo $? >"build/$1/ctest-output.status"
}
(run_preset host; run_preset win64) &
other=$!
ctest --preset win32 2>&1 | tee build/win32/ctest-output.log
echo "${PIPESTATUS[0]}" >build/win32/ctest-output.status
wait "$other"

passed=0
failed=0
status=0
for preset in host win32 win64; do
    log=build/$preset/ctest-output.log
    [ "$preset" = win32 ] || cat "$log"
    [ "$(cat "build/$preset/ctest-output.status" 2>/dev/null)" = 0 ] || status=1
    summary=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
    if [ -z "$summary" ]; then
        echo "run-tests: no summary from the $preset tests" >&2
        status=1
        continue
    fi
    total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$summary")
    bad=$(sed -E 's/.* ([0-9]+) tests? failed.*/\1/' <<<"$summary")
    passed=$((passed + total - bad))
    failed=$((failed + bad))
done
echo
echo "$passed passed, $failed failed"
exit $status
