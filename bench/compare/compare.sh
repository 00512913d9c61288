#!/usr/bin/env bash
# Side by side, in one run: a plain read loop and any terminal program on the
# same kind of socat pseudo-terminal pair, each flooded at full speed and then
# fed a steady 115200 baud, with the CPU it and the X server use.
#
#   bench/compare/compare.sh [--mib N] [--steady S] -- COMMAND [ARG...]
#
# In COMMAND, {} stands for the terminal's end of the pair; the other end is
# written. `--portlark PATH` instead of a command runs Portlark with COM1 mapped
# to that end (settings in a folder of its own). Rates are taken at the writer:
# a pseudo-terminal holds only a few KiB, so it can write only as fast as the
# terminal reads.
set -uo pipefail
mib=64
steady=20
portlark=""
while [ $# -gt 0 ]; do
    case "$1" in
    --mib) mib=$2; shift 2 ;;
    --steady) steady=$2; shift 2 ;;
    --portlark) portlark=$2; shift 2 ;;
    --) shift; break ;;
    *) break ;;
    esac
done
[ -n "$portlark" ] || [ $# -gt 0 ] || { sed -n 2,12p "$0"; exit 2; }

work=$(mktemp -d)
pids=()
# A terminal saves its settings on its way out: a party's folder is removed
# only after it has gone.
stop() { kill "$1" 2>/dev/null; wait "$1" 2>/dev/null; }
cleanup() { for p in "${pids[@]}"; do stop "$p"; done; rm -rf "$work"; }
trap cleanup EXIT

# CPU seconds of a process and its children that have been waited for.
cpu_of() {
    local f
    f=$(cut -d')' -f2- "/proc/$1/stat" 2>/dev/null) || { echo 0; return; }
    set -- $f
    echo "scale=3; (${12} + ${13} + ${14} + ${15}) / $(getconf CLK_TCK)" | bc
}
xserver_pid() {
    [ -n "${PORTLARK_X_SERVER_PID:-}" ] && { echo "$PORTLARK_X_SERVER_PID"; return; }
    local d=${DISPLAY%%.*} p
    for p in /proc/[0-9]*; do
        tr '\0' ' ' <"$p/cmdline" 2>/dev/null | grep -qE "^(/usr/bin/)?(Xvfb|Xorg) $d( |$)" && { basename "$p"; return; }
    done
}

head -c $((mib * 1048576)) /dev/urandom >"$work/flood"
head -c 1152 /dev/urandom >"$work/tick"
xpid=$(xserver_pid)

# measure NAME COMMAND...: one party through the flood and the steady line.
# Each party's pair lives in a folder of its own, named without spaces: {} is
# put into the command as it is, also into a `sh -c` script.
parties=0
measure() {
    local name=$1; shift
    parties=$((parties + 1))
    local dir="$work/party$parties"
    mkdir -p "$dir"
    socat "pty,raw,echo=0,link=$dir/a" "pty,raw,echo=0,link=$dir/b" 2>/dev/null &
    pids+=($!)
    for _ in $(seq 1 50); do [ -e "$dir/a" ] && [ -e "$dir/b" ] && break; sleep 0.1; done
    local cmd=()
    for arg in "$@"; do cmd+=("${arg//\{\}/$dir/a}"); done
    if [ "${cmd[0]}" = "@portlark" ]; then
        mkdir -p "$dir/config/NerovaPortlark"
        printf '[Settings]\nCOMModeString=115200,N,8,1\nHandshake=0\nCommPort=1\n\n[Ports]\nCOM1=%s\n' "$dir/a" \
            >"$dir/config/NerovaPortlark/NerovaPortlark.ini"
        XDG_CONFIG_HOME="$dir/config" XDG_CACHE_HOME="$dir/cache" "${cmd[@]:1}" >/dev/null 2>&1 &
    else
        "${cmd[@]}" >/dev/null 2>&1 &
    fi
    local pid=$!
    pids+=($pid)
    sleep 3
    exec 4>"$dir/b"
    local t0 t1
    t0=$(date +%s.%N)
    # A party that does not read (it failed to start, or stalls) would hold
    # the writer for ever: it gets two minutes.
    if ! timeout 120 cat "$work/flood" >&4; then
        printf "%-28s %s\n" "$name" "did not take the flood (not reading?)"
        exec 4>&-
        stop "$pid"
        status=1
        return
    fi
    t1=$(date +%s.%N)
    local rate
    rate=$(echo "scale=1; $mib / ($t1 - $t0)" | bc)
    sleep 2
    local c0 x0 w0 w1 c1 x1
    c0=$(cpu_of "$pid"); x0=$([ -n "$xpid" ] && cpu_of "$xpid" || echo 0)
    w0=$(date +%s.%N)
    local end=$((SECONDS + steady))
    local next
    next=$(date +%s%N)
    while [ $SECONDS -lt $end ]; do
        cat "$work/tick" >&4
        next=$((next + 100000000))
        local now
        now=$(date +%s%N)
        [ $next -gt "$now" ] && sleep "$(echo "scale=3; ($next - $now) / 1000000000" | bc)"
    done
    w1=$(date +%s.%N)
    c1=$(cpu_of "$pid"); x1=$([ -n "$xpid" ] && cpu_of "$xpid" || echo 0)
    exec 4>&-
    local rss
    rss=$(awk '/VmRSS/ {print $2}' "/proc/$pid/status" 2>/dev/null)
    printf "%-28s %10s %14s %14s %12s\n" "$name" "$rate" \
        "$(echo "scale=2; 100 * ($c1 - $c0) / ($w1 - $w0)" | bc)" \
        "$(echo "scale=2; 100 * ($x1 - $x0) / ($w1 - $w0)" | bc)" "${rss:-?}"
    stop "$pid"
}

status=0
echo "Side by side: $mib MiB flood, then ${steady} s at 115200 baud (11520 B/s in 0.1 s steps)"
printf "%-28s %10s %14s %14s %12s\n" "party" "flood MiB/s" "CPU % steady" "X server %" "RSS KiB end"
measure "plain read loop (cat)" sh -c 'stty -F {} raw -echo && exec cat {} >/dev/null'
if [ -n "$portlark" ]; then
    measure "Portlark" @portlark "$portlark"
else
    measure "terminal under test" "$@"
fi
exit $status
