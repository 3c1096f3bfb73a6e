#!/usr/bin/env bash
# Whole-process comparison on a conversion to binary of a 128 KiB image, from Intel HEX and
# from S28 S-records, in one run:
#   tarvex convert X.hex out.bin --type 27010 --from xhex --to bin
#   srec_cat X.hex -intel -o out.bin -binary
#   tarvex convert X.s28 out.bin --type 27010 --from srec --to bin
#   srec_cat X.s28 -motorola -o out.bin -binary
# Runs each several times (alternating) and prints both medians and their ratio.
# usage: bench/convert_vs_srec_cat.sh TARVEX [RUNS]    (default 21 runs each)
set -euo pipefail
[ -n "${EPOCHREALTIME:-}" ] || { echo "needs bash 5" >&2; exit 1; }
tarvex=$1
runs=${2:-21}
for tool in srec_cat perl; do
    command -v "$tool" >/dev/null || { echo "$tool is not installed" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
perl -e 'srand(128); binmode STDOUT; print pack("C*", map { int(rand(256)) } 1 .. 131072)' \
    >"$work/src.bin"
srec_cat "$work/src.bin" -binary -o "$work/X.hex" -intel
srec_cat "$work/src.bin" -binary -o "$work/X.s28" -motorola -address-length=3

# Microseconds of one run of the command, timed by the shell itself (no extra process).
time_once() {
    local begin=$EPOCHREALTIME
    "$@" >/dev/null 2>&1
    local end=$EPOCHREALTIME
    echo $((${end/./} - ${begin/./}))
}
median() {
    sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

compare() { # compare SUFFIX OUR_FORMAT THEIR_FORMAT TITLE
    # Warm both up (page cache, dynamic loader), and check they agree.
    "$tarvex" convert "$work/X.$1" "$work/ours.bin" --type 27010 --from $2 --to bin 2>/dev/null
    srec_cat "$work/X.$1" -$3 -o "$work/theirs.bin" -binary 2>/dev/null
    cmp "$work/ours.bin" "$work/theirs.bin" >/dev/null || { echo "outputs differ" >&2; exit 1; }

    : >"$work/tarvex.us"
    : >"$work/srec_cat.us"
    for _ in $(seq "$runs"); do
        time_once "$tarvex" convert "$work/X.$1" "$work/ours.bin" --type 27010 --from $2 \
            --to bin >>"$work/tarvex.us"
        time_once srec_cat "$work/X.$1" -$3 -o "$work/theirs.bin" -binary >>"$work/srec_cat.us"
    done
    ours=$(median <"$work/tarvex.us")
    theirs=$(median <"$work/srec_cat.us")
    # Each pair ran back to back, so its ratio is fair even when the machine's load drifts.
    ratio=$(paste "$work/srec_cat.us" "$work/tarvex.us" | awk '{ print $1 / $2 }' | median)
    echo "$4:"
    awk -v ours="$ours" -v theirs="$theirs" -v ratio="$ratio" -v runs="$runs" 'BEGIN {
        printf "runs each:                 %d\n", runs
        printf "tarvex convert (median):   %.2f ms\n", ours / 1e3
        printf "srec_cat (median):         %.2f ms\n", theirs / 1e3
        printf "srec_cat / tarvex:         %.2fx (median of paired runs; ratio of medians %.2fx)\n",
            ratio, theirs / ours
    }'
}

compare hex xhex intel "Intel HEX extended"
compare s28 srec motorola "S28 S-records"
