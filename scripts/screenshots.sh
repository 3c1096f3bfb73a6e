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
  export WINEDEBUG=-all
  wine=$(command -v wine64 || command -v /usr/lib/wine/wine64 || command -v wine) ||
    { echo "screenshots: wine64 is missing (apt-get install wine64)" >&2; exit 1; }
  run=("$wine" "$program") shots=wine-
  [[ $(fc-list) == *"Liberation Mono"* ]] ||
    { echo "screenshots: the Liberation fonts are missing (apt-get install fonts-liberation)" >&2; exit 1; }
fi
for tool in xvfb-run openbox xdotool xwininfo import; do
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
if [ -n "$shots" ]; then
  # Wine ships none of Windows' own fonts: their metric-compatible stand-ins, as a Windows
  # desktop would show the windows.
  export WINEPREFIX=$scratch/wineprefix
  "$wine" wineboot -i >/dev/null 2>&1
  for font in "Arial=Liberation Sans" "MS Sans Serif=Liberation Sans" "Courier New=Liberation Mono" \
    "Microsoft Sans Serif=Liberation Sans" "Times New Roman=Liberation Serif"; do
    "$wine" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "${font%%=*}" /d "${font#*=}" \
      /f >/dev/null 2>&1
  done
  "${wine%/*}/wineserver" -w 2>/dev/null || true
fi
TARVEX_IO=sim XDG_RUNTIME_DIR=$scratch "${run[@]}" >"$scratch/log" 2>&1 &
main=$(xdotool search --sync --onlyvisible --name "Tarvex II Loader" | head -1)
xdotool windowactivate --sync "$main"
sleep 0.5

key() { xdotool key --clearmodifiers "$@"; sleep 0.7; }
key alt+e Up Up Return # the EPROM type box: 27010 -> 27512 -> 27256
key alt+l              # Load From: the file dialog
xdotool search --sync --onlyvisible --name "^Open$" >/dev/null
image="$scratch/monitor.bin"
[ -n "$shots" ] && image="Z:${image//\//\\}" # wine's drive Z: is the root folder
xdotool type --delay 10 "$image"
key Return
key alt+w # Write (and the emulator now holds it)
sleep 1

shoot() { # shoot WINDOW FILE: the window with its frame, as a small PNG
  # Cut from the screen: wine's windows read back black on their own.
  local x y w h left right top bottom
  local X Y WIDTH HEIGHT
  read -r X Y WIDTH HEIGHT < <(xwininfo -id "$1" | awk -F: '/Absolute upper-left X/ { x = $2 }
    /Absolute upper-left Y/ { y = $2 } /Width/ { w = $2 } /Height/ { h = $2 }
    END { print x + 0, y + 0, w + 0, h + 0 }')
  read -r left right top bottom < <(xprop -id "$1" _NET_FRAME_EXTENTS | tr -dc '0-9 ,\n' |
    tr ',' ' ' | awk '{ print $1+0, $2+0, $3+0, $4+0 }')
  x=$((X - left)) y=$((Y - top)) w=$((WIDTH + left + right)) h=$((HEIGHT + top + bottom))
  import -window root -crop "${w}x${h}+${x}+${y}" +repage "$scratch/shot.png"
  convert "$scratch/shot.png" -strip -colors 128 "PNG8:$2"
  echo "screenshots: $2 ($(identify -format '%wx%h' "$2"), $(stat -c %s "$2") bytes)"
}
shoot "$main" "$out/${shots}main-window.png"

key alt+o # Options
options=$(xdotool search --sync --onlyvisible --name "Tarvex II Options" | head -1)
sleep 0.5
shoot "$options" "$out/${shots}options-window.png"
