#!/usr/bin/env bash
# One-step set-up for Portlark on Debian 12: installs whatever is missing,
# builds, then runs the program, the test suite or the benchmarks.
#
#   scripts/setup.sh run     install, build, start build/portlark
#   scripts/setup.sh test    install, build, run every test (starts Xvfb when
#                            there is no X display)
#   scripts/setup.sh bench   install, build, run the benchmarks
#   scripts/setup.sh package install, build, make the Debian package
#                            build/portlark_<version>_amd64.deb
set -euo pipefail

mode=${1:-run}
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/common.sh"
build=${PORTLARK_BUILD_DIR:-$root/build}

packages=(g++ cmake ninja-build qt6-base-dev qt6-serialport-dev qt6-qpa-plugins
          fonts-dejavu-core xvfb xauth xdotool socat x11-utils procps tshark
          desktop-file-utils appstream man-db groff-base dpkg-dev)

build_all() {
    local type=${PORTLARK_BUILD_TYPE:-RelWithDebInfo}
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE="$type" -DPORTLARK_WERROR="$(werror)" \
        ${PORTLARK_CMAKE_ARGS:-}
    ninja -C "$build" -j"$(nproc)"
}

# Starts Xvfb on a free display when there is no X server, for the tests that
# need a real one (clipboard across processes, real windows).
xvfb_pid=""
ensure_display() {
    if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
        return 0
    fi
    local n=99
    while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    export DISPLAY=":$n"
    for _ in $(seq 1 50); do
        xdpyinfo >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    echo "Xvfb did not start" >&2
    return 1
}
cleanup() { [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true; }
trap cleanup EXIT

install_missing "${packages[@]}"
build_all

case "$mode" in
run)
    exec "$build/portlark"
    ;;
test)
    ensure_display
    ctest --test-dir "$build" --output-on-failure -j1 ${PORTLARK_CTEST_ARGS:-}
    ;;
bench)
    ensure_display
    "$root/bench/run.sh" "$build"
    ;;
package)
    (cd "$build" && cpack -G DEB)
    ;;
*)
    echo "usage: $0 run|test|bench|package" >&2
    exit 2
    ;;
esac
