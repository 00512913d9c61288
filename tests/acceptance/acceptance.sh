#!/usr/bin/env bash
# Real-window acceptance: runs the program on the current X display with COM1
# mapped to one end of a socat pair and drives it with xdotool as a user would.
#
#   acceptance.sh PORTLARK CLIPPUT
#
# PORTLARK is build/portlark, CLIPPUT the helper built from clipput.cpp. Checks:
#   - letters, Enter (CR LF), a Ctrl+V of bytes with a NUL placed on the
#     clipboard by another process, and another letter typed into the output
#     pane, then "Send": the far end receives exactly those bytes;
#   - all 256 byte values written by the far end reach the input pane exactly
#     (read back through the pane's own Select All and Copy) and the received
#     count says 256;
#   - File > "E&xit" saves the five settings (one of them changed in the
#     window) and the port mapping.
# Exits 77 (skipped) only when there is no X display.
# PORTLARK_ACCEPTANCE_SHOT=file.png saves a screenshot before the exit.
set -euo pipefail

if [ $# -ne 2 ]; then
    echo "usage: $0 PORTLARK CLIPPUT" >&2
    exit 2
fi
portlark=$1
clipput=$2

if [ -z "${DISPLAY:-}" ]; then
    echo "SKIP: no X display (DISPLAY is not set)"
    exit 77
fi
for tool in xdotool socat stty dd od timeout; do
    command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed" >&2; exit 1; }
done
export QT_QPA_PLATFORM=xcb QT_ACCESSIBILITY=0

work=$(mktemp -d)
socat_pid=""
portlark_pid=""
clip_pid=""

cleanup() {
    exec 3>&- 2>/dev/null || true
    for pid in $clip_pid $portlark_pid $socat_pid; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in $clip_pid $portlark_pid $socat_pid; do
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    if [ -s "$work/portlark.log" ]; then
        sed 's/^/portlark: /' "$work/portlark.log" >&2
    fi
    exit 1
}
step() { echo "-- $*"; }
hex() { od -An -v -tx1 | tr -d ' \n'; }

# Runs "$@" until it succeeds or `seconds` have passed.
retry() {
    local seconds=$1
    shift
    local end=$((SECONDS + seconds))
    until "$@"; do
        [ "$SECONDS" -lt "$end" ] || return 1
        sleep 0.2
    done
}

click() { xdotool mousemove --window "$wid" "$1" "$2" click 1; }

# ---- the cable and the settings ------------------------------------------------

step "socat pair"
socat -d -d "pty,raw,echo=0,link=$work/a" "pty,raw,echo=0,link=$work/b" 2>"$work/socat.log" &
socat_pid=$!
retry 10 test -e "$work/a" -a -e "$work/b" || fail "socat made no pseudo-terminals: $(cat "$work/socat.log")"
# The far end stays open all along: socat ends when the last user of a side closes it.
exec 3<>"$work/b"
stty -F "$work/b" raw -echo

config="$work/config/NerovaPortlark"
mkdir -p "$config"
ini="$config/NerovaPortlark.ini"
cat >"$ini" <<EOF
[Settings]
COMModeString=115200,N,8,1
DTREnable=0
RTSEnable=1
Handshake=3
CommPort=1

[Ports]
COM1=$work/a
EOF

# Where the controls are, from the same layout code the window uses.
layout=$("$clipput" layout) || fail "the layout helper failed"
eval "$layout"

# ---- the window ------------------------------------------------------------------

step "start $portlark"
XDG_CONFIG_HOME="$work/config" XDG_CACHE_HOME="$work/cache" "$portlark" >"$work/portlark.log" 2>&1 &
portlark_pid=$!
wid=$(timeout 30 xdotool search --all --sync --onlyvisible --pid "$portlark_pid" --name '^Portlark$' | head -n 1) \
    || fail "no Portlark window appeared"
[ -n "$wid" ] || fail "no Portlark window appeared"
if xdotool search --all --onlyvisible --pid "$portlark_pid" --name '^Portlark Error$' >/dev/null 2>&1; then
    fail "the port could not be opened"
fi
eval "$(xdotool getwindowgeometry --shell "$wid")"
if [ "$WIDTH" != "$window_w" ] || [ "$HEIGHT" != "$window_h" ]; then
    echo "note: window is ${WIDTH}x${HEIGHT}, laid out for ${window_w}x${window_h}" >&2
fi
sleep 0.5
timeout 10 xdotool windowfocus --sync "$wid" || xdotool windowfocus "$wid"

step "type into the output pane"
click "$text2_x" "$text2_y"
xdotool type --delay 40 "Hello"
xdotool key Return

step "paste 41 00 42 FF from another process"
coproc CLIP { exec "$clipput" put 410042ff; }
clip_pid=$CLIP_PID
read -r -t 20 -u "${CLIP[0]}" answer || fail "the clipboard helper did not start"
[ "$answer" = ready ] || fail "the clipboard helper said: $answer"
xdotool key ctrl+v
xdotool type --delay 40 "z"

step "check DTR in the window"
click "$dtr_x" "$dtr_y"

step "Send"
click "$send_x" "$send_y"
expected="48656c6c6f0d0a410042ff7a"
sent=$(timeout 20 dd bs=1 count=$((${#expected} / 2)) status=none <&3 | hex) || true
[ "$sent" = "$expected" ] || fail "the far end received '$sent', expected '$expected'"
extra=$(timeout 1 dd bs=1 count=1 status=none <&3 | hex) || true
[ -z "$extra" ] || fail "the far end received more than expected: $extra"
echo quit >&"${CLIP[1]}" || true
wait "$clip_pid" 2>/dev/null || true
clip_pid=""

step "receive all 256 byte values"
all=""
for i in $(seq 0 255); do
    all+=$(printf '\\x%02x' "$i")
done
# shellcheck disable=SC2059 # the format is the data
printf "$all" >&3
want=$(printf "$all" | hex)

# The pane's own menu (Shift+F10): Select All, then Copy; the clipboard's
# private block then holds the pane's exact bytes.
copied_input() {
    click "$text1_x" "$text1_y"
    xdotool key shift+F10
    sleep 0.3
    xdotool key a
    sleep 0.2
    xdotool key shift+F10
    sleep 0.3
    xdotool key c
    sleep 0.2
    got=$("$clipput" get 2>/dev/null) || return 1
    [ "$got" = "$want" ]
}
retry 30 copied_input || fail "the input pane holds '${got:-nothing}', expected every byte value once"

copied_count() {
    click "$count_x" "$count_y"
    xdotool key ctrl+a ctrl+c
    sleep 0.2
    count=$("$clipput" get --text 2>/dev/null) || return 1
    [ "$count" = 256 ]
}
retry 20 copied_count || fail "the received count reads '${count:-nothing}', expected 256"

if [ -n "${PORTLARK_ACCEPTANCE_SHOT:-}" ] && command -v import >/dev/null; then
    import -window root "$PORTLARK_ACCEPTANCE_SHOT" || true
fi

# ---- File > Exit ---------------------------------------------------------------

step "File > Exit"
xdotool key alt+f
sleep 0.3
xdotool key x
retry 20 bash -c "! kill -0 $portlark_pid 2>/dev/null" || fail "the window did not close on File > Exit"
status=0
wait "$portlark_pid" || status=$?
portlark_pid=""
[ "$status" -eq 0 ] || fail "portlark exited with status $status"

# key=value of one section, quotes around the value removed.
setting() {
    awk -v section="[$1]" -v key="$2" '
        /^\[/ { inside = ($0 == section); next }
        inside && index($0, key "=") == 1 {
            value = substr($0, length(key) + 2)
            sub(/\r$/, "", value)
            if (value ~ /^".*"$/) value = substr(value, 2, length(value) - 2)
            print value
            exit
        }' "$ini"
}
check() {
    local actual
    actual=$(setting "$1" "$2")
    [ "$actual" = "$3" ] || fail "saved $1/$2 is '$actual', expected '$3'"
}
check Settings COMModeString "115200,N,8,1"
check Settings CommPort 1
check Settings Handshake 3
check Settings DTREnable 1
check Settings RTSEnable 1
check Ports COM1 "$work/a"

echo "PASS"
