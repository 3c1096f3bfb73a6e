#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan+UBSan, the fuzz preset) and runs the file
# loader's target (Intel HEX and S-records) for a bounded time, starting from the seed
# corpus.
# usage: scripts/fuzz.sh [SECONDS]    (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
jobs=${FUZZ_BUILD_JOBS:-$(nproc)}

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target hex_loader_fuzz -j "$jobs"

out=build/fuzz/fuzzing/hex_loader
mkdir -p "$out/corpus" "$out/artifacts"
log=$out/run.log
# New inputs go to the first folder; the seeds stay as they are.
status=0
build/fuzz/tests/fuzz/hex_loader_fuzz "$out/corpus" tests/fuzz/corpus \
    -dict=tests/fuzz/hex.dict -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="$out/artifacts/" 2>&1 | tee "$log" || status=$?

executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
echo "hex_loader_fuzz: ${executions:-?} executions in ${seconds} s, status $status"
if [ "$status" -ne 0 ]; then
    echo "findings in $out/artifacts/"
fi
exit "$status"
