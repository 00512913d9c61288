#!/usr/bin/env bash
# Runs every benchmark of a build and prints their tables.
#   bench/run.sh [build-dir] [benchmark...]
# Without names every bench_* program under <build-dir>/bench is run, then
# bench/compare/compare.sh with the build's portlark (name: compare), then the
# long session, 1 GiB through the receive path (name: soak). The
# end-to-end benchmarks open real windows: when there is no X display an
# Xvfb server is started for the run and stopped afterwards.
set -uo pipefail
build=${1:-build}
[ $# -gt 0 ] && shift
wanted=("$@")

xvfb_pid=""
cleanup() { [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null; }
trap cleanup EXIT

have_display() { [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; }
if ! have_display; then
    if ! command -v Xvfb >/dev/null; then
        echo "no X display and no Xvfb (scripts/setup.sh installs it)" >&2
        exit 1
    fi
    n=90
    while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    export DISPLAY=":$n" PORTLARK_X_SERVER_PID=$xvfb_pid
    for _ in $(seq 1 50); do
        have_display && break
        sleep 0.1
    done
    have_display || { echo "Xvfb did not start" >&2; exit 1; }
fi

status=0
for dir in "$build"/bench/*/; do
    # CMake's generated-source folders (name_autogen) hold no benchmark.
    case "$dir" in *_autogen/) continue ;; esac
    for b in "$dir"bench_*; do
        [ -f "$b" ] && [ -x "$b" ] || continue
        name=$(basename "$b")
        if [ ${#wanted[@]} -gt 0 ] && [[ ! " ${wanted[*]} " =~ " $name " ]]; then
            continue
        fi
        echo "== $name"
        "$b" || status=1
        echo
    done
done

# Portlark beside a plain read loop, the same pair and line for both.
if [ -x "$build/portlark" ] && { [ ${#wanted[@]} -eq 0 ] || [[ " ${wanted[*]} " =~ " compare " ]]; }; then
    echo "== compare"
    "$(dirname "$0")/compare/compare.sh" --portlark "$build/portlark" || status=1
    echo
fi
# A long session: 1 GiB at full speed, memory against the input pane's bound.
if [ -x "$build/bench/receive/bench_receive" ] && { [ ${#wanted[@]} -eq 0 ] || [[ " ${wanted[*]} " =~ " soak " ]]; }; then
    echo "== soak"
    "$build/bench/receive/bench_receive" --soak || status=1
    echo
fi
exit $status
