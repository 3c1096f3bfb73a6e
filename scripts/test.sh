#!/usr/bin/env bash
# Every test: unit, window, end-to-end, peer and documentation tests under ASan+UBSan, the
# Debian package's install test, the threaded paths again under TSan, the release build and
# its benchmarks run once, tarvex.exe and Tarvex32.exe cross-built for Windows and run under
# wine, the Windows zip, the file loader fuzzer (HEX and S-records), and the real-kernel ppdev
# test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh test
scripts/check_layers.sh

jobs=$(nproc)
cmake --preset dev
cmake --build --preset dev -j "$jobs"
ctest --preset dev -j "$jobs"

# The Debian package, checked as a user gets it (lintian, unpacked, run from there).
scripts/package.sh
tests/package/install_test.sh

cmake --preset tsan
cmake --build --preset tsan -j "$jobs"
ctest --preset tsan -j "$jobs" -L threads

# The optimised build the README documents, as a packager gets it: with the benchmarks, each run
# once, briefly, so that one that no longer builds or crashes fails here.
cmake --preset release
cmake --build --preset release -j "$jobs"
for bench in build/release/bench/*_bench; do
    "$bench" --benchmark_min_time=0.01 >/dev/null
done

# Both programs for Windows (mingw-w64) against a static Qt built once from Debian's source into
# a cache outside the clone, their tests under wine, and the Windows download.
scripts/qt-windows.sh
cmake --preset windows-cross
cmake --build --preset windows-cross -j "$jobs"
ctest --preset windows-cross
scripts/package.sh win64

# The Intel HEX loader under libFuzzer for about a minute.
scripts/fuzz.sh "${TARVEX_FUZZ_SECONDS:-60}"

# tarvex against the real parport, parport_pc and ppdev drivers of Debian's kernel, booted
# under qemu in software emulation.
tests/kernel/run.sh
