#!/usr/bin/env bash
# Builds the libFuzzer targets (tests/fuzz) with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer, then runs each for a bounded time, starting from
# its seed corpus. Installs clang and its runtime libraries when missing
# (Debian 12). Fails when any target crashes, reports a sanitizer error or a
# leak, allocates more than the malloc limit at once, exceeds the memory limit
# or hangs.
#
#   scripts/fuzz.sh [seconds-per-target] [target...]
#
# Environment: PORTLARK_FUZZ_BUILD_DIR (default build-fuzz),
# PORTLARK_FUZZ_SECONDS (default 60). Seeds are copied into a temporary
# working corpus, so the repository is never written; inputs that crash are
# kept under <build dir>/artifacts/<target>/.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/common.sh"
build=${PORTLARK_FUZZ_BUILD_DIR:-$root/build-fuzz}
seconds=${1:-${PORTLARK_FUZZ_SECONDS:-60}}
[ $# -gt 0 ] && shift
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(fuzz_leadingnumber fuzz_modestring fuzz_storednumber
                                      fuzz_clipboardblock fuzz_paneedit fuzz_bytepattern)

packages=(clang libclang-rt-14-dev cmake ninja-build qt6-base-dev qt6-serialport-dev
          qt6-qpa-plugins fonts-dejavu-core)

install_missing "${packages[@]}"
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DPORTLARK_FUZZ=ON -DPORTLARK_WERROR="$(werror)"
ninja -C "$build" -j"$(nproc)" "${targets[@]}"

# Any sanitizer report ends the run with a crash artifact; leaks count too.
# Leaks inside system libraries that are not the program's are suppressed.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:halt_on_error=1:detect_stack_use_after_return=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/tests/lsan.supp:print_suppressions=0}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

summary=()
failed=0
for t in "${targets[@]}"; do
    corpus="$work/$t"
    mkdir -p "$corpus" "$build/artifacts/$t"
    cp "$root/tests/fuzz/corpus/$t/"* "$corpus/"
    echo "== $t: ${seconds}s"
    # -malloc_limit_mb: no single allocation may be sized by an input beyond
    # what an input of -max_len bytes can justify.
    status=0
    (cd "$work" && "$build/tests/fuzz/$t" -max_total_time="$seconds" -rss_limit_mb=2048 \
        -malloc_limit_mb=256 -timeout=20 -max_len=4096 -print_final_stats=1 \
        -artifact_prefix="$build/artifacts/$t/" "$corpus") >"$work/$t.log" 2>&1 || status=$?
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$t.log" | tail -1)
    inputs=$(ls "$corpus" | wc -l)
    if [ "$status" -ne 0 ]; then
        failed=1
        tail -n 60 "$work/$t.log"
        echo "Reproduce: $build/tests/fuzz/$t <input written above>" \
             "(PORTLARK_FUZZ_TRACE=1 prints each step of fuzz_paneedit)"
        summary+=("$(printf '%-22s FAILED (exit %d) after %s executions' "$t" "$status" "${execs:-?}")")
    else
        tail -n 3 "$work/$t.log"
        summary+=("$(printf '%-22s ok  %10s executions  %5s corpus inputs' "$t" "${execs:-?}" "$inputs")")
    fi
done

echo "== fuzzing summary (${seconds}s per target)"
printf '%s\n' "${summary[@]}"
exit $failed
