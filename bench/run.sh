#!/usr/bin/env bash
# Runs every benchmark of a build and prints their tables.
#   bench/run.sh [build-dir]
set -uo pipefail
build=${1:-build}
status=0
for b in "$build"/bench/*/bench_*; do
    [ -x "$b" ] || continue
    echo "== $(basename "$b")"
    "$b" || status=1
    echo
done
exit $status
