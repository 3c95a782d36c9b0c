#!/usr/bin/env bash
# wine-run.sh BUILD_TREE PROGRAM [ARGS...] -- runs a Windows program under the Wine of the tree, with a time limit
# A hang fails the test (exit 124) instead of stalling the run.
set -u
. "$(dirname "$0")/wine-env.sh" "$1"
shift
exec timeout -k 5 "${WINE_TIMEOUT:-120}" "$WINE" "$@"
