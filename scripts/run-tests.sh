#!/usr/bin/env bash
# run-tests.sh -- runs the tests of the three configurations and closes with one summary line
# host: the portable code under sanitizers and the fuzzer; win32: the shipped program by inspection and, under the
# 32-bit Wine, the Windows code and the packed updater end to end; win64: the packer under wine64.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
# Whatever happens, no Xvfb or wineserver of the tests stays behind.
trap 'for tree in build/win32 build/win64; do bash scripts/wine-session.sh stop $tree >/dev/null 2>&1; done' EXIT INT TERM

passed=0
failed=0
status=0
for preset in host win32 win64; do
    log=build/$preset/ctest-output.log
    ctest --preset "$preset" 2>&1 | tee "$log"
    [ "${PIPESTATUS[0]}" -eq 0 ] || status=1
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
