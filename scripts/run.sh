#!/usr/bin/env bash
# Builds the programs and runs the main job against the simulated emulator: the window
# when a display is there, otherwise a command-line write of a sample image.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh run
cmake --preset release -DTARVEX_TESTS=OFF -DTARVEX_BENCH=OFF >/dev/null
cmake --build --preset release -j "$(nproc)"
export TARVEX_IO="${TARVEX_IO:-sim}"
exec build/release/app/Tarvex32 "$@"
