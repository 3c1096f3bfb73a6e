#!/usr/bin/env bash
# Builds the programs and runs the main job against the simulated emulator: the window
# when a display is there, otherwise a command-line write of a sample image.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh run
cmake --preset release -DTARVEX_TESTS=OFF -DTARVEX_BENCH=OFF >/dev/null
cmake --build --preset release -j "$(nproc)"
export TARVEX_IO="${TARVEX_IO:-sim}"

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec build/release/app/Tarvex32 "$@"
fi

echo "No display: writing a sample image to the simulated emulator with tarvex."
sample=$(mktemp --suffix=.bin)
state=$(mktemp --suffix=.state)
trap 'rm -f "$sample" "$state"' EXIT
head -c 131072 /dev/urandom >"$sample"
rm -f "$state"
export TARVEX_SIM_STATE="$state"
status=0
build/release/cli/tarvex write "$sample" --type 27010 --reset-ms 200 || status=$?
echo "tarvex write exited with status $status"
exit "$status"
