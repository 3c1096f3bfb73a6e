#!/usr/bin/env bash
# Runs a window test program on a real X server (Xvfb) with a real window manager (openbox):
# what it checks is what the window manager makes of the windows.
# Usage: tests/gui/desktop_test.sh PROGRAM [ARGUMENTS...]
set -euo pipefail
program=$1
shift

if [ -z "${TARVEX_DESKTOP_INSIDE:-}" ]; then
  for tool in xvfb-run openbox xprop xdotool wmctrl; do
    if ! command -v "$tool" >/dev/null; then
      echo "desktop_test: $tool is missing (scripts/deps.sh test installs it)" >&2
      exit 1
    fi
  done
  TARVEX_DESKTOP_INSIDE=1 exec xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" \
    "$0" "$program" "$@"
fi

# The window manager's own settings, not the ones of whoever runs the test.
config=$(mktemp -d)
wm=
trap 'kill "$wm" 2>/dev/null; wait "$wm" 2>/dev/null; rm -rf "$config"' EXIT
XDG_CONFIG_HOME=$config openbox --sm-disable --config-file /etc/xdg/openbox/rc.xml \
  >"$config/openbox.log" 2>&1 &
wm=$!
# openbox manages the screen once it names itself on the root window.
for _ in $(seq 200); do
  if xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; then
    break
  fi
  if ! kill -0 "$wm" 2>/dev/null; then
    echo "desktop_test: openbox did not start:" >&2
    cat "$config/openbox.log" >&2
    exit 1
  fi
  sleep 0.05
done
xprop -root _NET_SUPPORTING_WM_CHECK | grep -q 'window id' ||
  { echo "desktop_test: openbox did not take the screen within 10 s" >&2; exit 1; }

QT_QPA_PLATFORM=xcb "$program" "$@"
