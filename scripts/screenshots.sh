#!/usr/bin/env bash
# Makes the README's screenshots, docs/main-window.png and docs/options-window.png: the window
# program on the simulated emulator under Xvfb and openbox, driven by its own keyboard
# shortcuts as a user would (type 27256, Load From a sample image, Write, Options).
# Usage: scripts/screenshots.sh [PATH_TO_Tarvex32]   (default: the dev build's)
#        scripts/screenshots.sh PATH_TO_Tarvex32.exe   (under wine: docs/wine-*.png)
set -euo pipefail
cd "$(dirname "$0")/.."
program=$(realpath "${1:-build/dev/app/Tarvex32}")
out=$PWD/docs
run=("$program") shots=
if [[ $program == *.exe ]]; then
  export WINEDEBUG=-all WINEPREFIX=${WINEPREFIX:-$PWD/build/windows-cross/wineprefix}
  run=(wine64 "$program") shots=wine-
fi
for tool in xvfb-run openbox xdotool import; do
  command -v "$tool" >/dev/null || { echo "screenshots: $tool is missing (apt-get install xvfb openbox xdotool imagemagick)" >&2; exit 1; }
done

if [ -z "${TARVEX_SCREENSHOTS_INSIDE:-}" ]; then
  TARVEX_SCREENSHOTS_INSIDE=1 exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$program"
fi

# A fixed folder: its name shows in the window's file field.
scratch=${TMPDIR:-/tmp}/tarvex-screenshots
rm -rf "$scratch"
mkdir -p "$scratch"
trap 'kill $(jobs -p) 2>/dev/null; rm -rf "$scratch"' EXIT
openbox >/dev/null 2>&1 &
sleep 1

# A sample 27256 image: some code-like bytes with a text in it, FF after it.
python3 - "$scratch/monitor.bin" <<'PY'
import random, sys
random.seed(7)
image = bytearray(b"\xff" * 0x8000)
image[0:0x600] = bytes(random.randrange(256) for _ in range(0x600))
text = b"TARVEX II DEMO ROM V1.5 (C) 2026 "
image[0x40:0x40 + len(text)] = text
open(sys.argv[1], "wb").write(image)
PY

cd "$scratch"
TARVEX_IO=sim XDG_RUNTIME_DIR=$scratch "${run[@]}" >"$scratch/log" 2>&1 &
main=$(xdotool search --sync --onlyvisible --name "Tarvex II Loader" | head -1)
xdotool windowactivate --sync "$main"
sleep 0.5

key() { xdotool key --clearmodifiers "$@"; sleep 0.7; }
key alt+e Up Up Return # the EPROM type box: 27010 -> 27512 -> 27256
key alt+l              # Load From: the file dialog
xdotool search --sync --onlyvisible --name "^Open$" >/dev/null
xdotool type --delay 10 "$scratch/monitor.bin"
key Return
key alt+w # Write (and the emulator now holds it)
sleep 1

shoot() { # shoot WINDOW FILE: the window with its frame, as a small PNG
  import -frame -window "$1" "$scratch/shot.png"
  convert "$scratch/shot.png" -strip -colors 128 "PNG8:$2"
  echo "screenshots: $2 ($(identify -format '%wx%h' "$2"), $(stat -c %s "$2") bytes)"
}
shoot "$main" "$out/${shots}main-window.png"

key alt+o # Options
options=$(xdotool search --sync --onlyvisible --name "Tarvex II Options" | head -1)
sleep 0.5
shoot "$options" "$out/${shots}options-window.png"
