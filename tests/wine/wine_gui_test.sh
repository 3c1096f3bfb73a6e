#!/usr/bin/env bash
# Tarvex32.exe under wine on an X server with a window manager (Xvfb and openbox, as the desktop
# tests have them), on the simulated emulator: start-up, a batch run, a missing file, the
# usage box and a second copy. Its boxes are answered with the keyboard, through the window
# manager, as a user would (scripts/screenshots.sh takes the pictures).
# Usage: wine_gui_test.sh WINE TARVEX32_EXE VERSION
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ -z "${TARVEX_DESKTOP_INSIDE:-}" ]; then
    exec "$here/../gui/desktop_test.sh" bash "$0" "$@"
fi
# desktop_test.sh names the Linux Qt's platform; Tarvex32.exe has only "windows".
unset QT_QPA_PLATFORM
wine=$1 exe=$2 version=$3
export WINEDEBUG=${WINEDEBUG:--all}
work=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null; [ -n "${TARVEX_KEEP:-}" ] || rm -rf "$work"' EXIT
cp "$exe" "$work/Tarvex32.exe"
cd "$work" || exit 1

# A new prefix is set up on its first start; do that once, with a bound.
timeout 300 "$wine" wineboot -i >/dev/null 2>&1 || true

caption="  Tarvex II Loader               V$version"
failures=0 runs=0
fail() {
    echo "FAIL $current: $*"
    failures=$((failures + 1))
}

# The id of the first window whose name matches REGEX, within SECONDS (empty: none).
window() {
    local regex=$1 deadline=$((SECONDS + ${2:-60})) id
    while [ $SECONDS -lt "$deadline" ]; do
        id=$(xdotool search --onlyvisible --name "$regex" 2>/dev/null | head -n 1)
        [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 0.2
    done
    return 1
}
# Activates the window and types KEYS there, as the user's keyboard does.
keys() {
    local id=$1
    shift
    timeout 10 xdotool windowactivate --sync "$id" >/dev/null 2>&1 || wmctrl -i -a "$id"
    sleep 0.3
    xdotool key --clearmodifiers --delay 100 "$@"
}
# Starts Tarvex32.exe ARGS in the background; its exit status lands in NAME.status.
start() {
    local name=$1
    shift
    (
        timeout 120 "$wine" Tarvex32.exe "$@" >"$name.out" 2>&1
        echo $? >"$name.status"
    ) &
    pids+=($!)
}
# Waits for NAME's exit status, within SECONDS; echoes it (or "none").
status() {
    local deadline=$((SECONDS + ${2:-60}))
    while [ ! -s "$1.status" ] && [ $SECONDS -lt "$deadline" ]; do sleep 0.2; done
    cat "$1.status" 2>/dev/null || echo none
}
expect_status() {
    local got
    got=$(status "$current" "${2:-60}")
    [ "$got" = "$1" ] || fail "exit status $got, expected $1"
}
# The simulator's memory of its first device (0x378), from byte 0 for COUNT bytes.
memory() { tail -c +22 "$1" | head -c "$2"; }
begin() {
    current=$1
    runs=$((runs + 1))
    echo "---- $current"
}

export TARVEX_IO=sim

begin start-up
TARVEX_SIM_STATE=start.state start start-up
if main=$(window 'Tarvex II Loader' 90); then
    name=$(xprop -id "$main" WM_NAME | sed -n 's/^WM_NAME([A-Z_]*) = "\(.*\)"$/\1/p')
    [ "$name" = "$caption" ] || fail "caption \"$name\", expected \"$caption\""
    keys "$main" alt+o
    if options=$(window 'Tarvex II Options' 20); then
        wmctrl -i -c "$options"
        sleep 0.5
    else
        fail "Alt+O opened no Options window"
    fi
    wmctrl -i -c "$main"
    expect_status 0
    # Found at 0x378, the emulator was set to a 27010 (its configuration register, 08h).
    config=$(tail -c 7 start.state | od -An -tx1 | awk '{ print $1 $2 " " $5 }')
    [ "$config" = "7803 08" ] || fail "the emulator at 0x378 was not set up (registers: $config)"
else
    fail "no main window within 90 s"
fi

# A batch run: the image goes into the emulator, a box says so, the program ends by itself.
begin batch-run
head -c 65536 /dev/urandom >fw.bin
TARVEX_SIM_STATE=batch.state start batch-run fw.bin 27512
if box=$(window '^Information$' 90); then
    keys "$box" Return
    expect_status 0 30
    cmp -s fw.bin <(memory batch.state 65536) || fail "the simulator's memory does not hold fw.bin"
else
    fail "no success box within 90 s"
fi

# A missing file: one box, the window stays for the user, who closes it: status 1.
begin missing-file
start missing-file missing.bin 27010
if box=$(window '^Error$' 90); then
    keys "$box" Return
    main=$(window 'Tarvex II Loader' 20) && wmctrl -i -c "$main"
    expect_status 1
else
    fail "no error box within 90 s"
fi

# Five arguments: the usage box, then status 2.
begin usage
start usage a b c d e
if box=$(window '^Error$' 90); then
    keys "$box" Return
    expect_status 2
else
    fail "no usage box within 90 s"
fi

# A second copy asks, through the named mutex the first one holds; Yes ends the second.
begin second-copy
start first
if first=$(window 'Tarvex II Loader' 90); then
    start second-copy
    if box=$(window '^Confirm$' 90); then
        keys "$box" alt+y
        expect_status 0
        [ "$(status first 1)" = none ] || fail "the first copy ended too"
    else
        fail "the second copy asked nothing"
    fi
    wmctrl -i -c "$first"
    current=first expect_status 0
else
    fail "the first copy showed no window within 90 s"
fi

echo "$runs scenarios, $failures failed"
[ "$failures" -eq 0 ]
