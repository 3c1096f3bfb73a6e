#!/usr/bin/env bash
# `tarvex convert` as a whole process: exit status and the message boxes on stderr.
# usage: convert_cli.sh TARVEX WORK_FOLDER
set -euo pipefail
tarvex=$1
work=$2
source "$(dirname "$0")/peer_common.sh"
require_tools cmp
rm -rf "$work" && mkdir -p "$work" && cd "$work"

printf ':100000000102030405060708090A0B0C0D0E0F1068\r\n:00000001FF\r\n' >good.hex
: >empty.hex
printf '\001\002\003' >three.bin

# run NAME STATUS EXPECTED_STDERR ARGS...: stderr compared whole; for a usage error with
# no expectation given, only the usage text is looked for.
run() {
    local name=$1 status=$2 expected=$3
    shift 3
    local actual=0
    "$tarvex" convert "$@" >"$name.out" 2>"$name.err" || actual=$?
    if [ "$actual" -ne "$status" ]; then
        fail "$name: exit $actual, expected $status"
        sed 's/^/    /' "$name.err"
        return
    fi
    if [ "$status" -eq 2 ] && [ -z "$expected" ]; then
        if ! grep -q '^usage: tarvex convert' "$name.err"; then
            fail "$name: no usage text"
            sed 's/^/    /' "$name.err"
            return
        fi
    elif [ "$(cat "$name.err")" != "$(printf '%b' "$expected")" ]; then
        fail "$name: stderr was"
        sed 's/^/    /' "$name.err"
        return
    fi
    echo "ok   $name"
}

run no_arguments 2 ""
run no_type 2 "" good.hex out.bin
run unknown_type 2 "" good.hex out.bin --type 2716
run unknown_format 2 "" good.hex out.bin --type 2764 --from srec
run unknown_option 2 "" good.hex out.bin --type 2764 --verbose
run start_above_eprom 2 "Error: Incorrect buffer start selected!" good.hex out.bin --type 2764 --start 2000
run start_with_prefix 2 "Error: Incorrect buffer start selected!" good.hex out.bin --type 2764 --start 0x10
run end_below_start 2 "Error: Incorrect buffer end selected!" good.hex out.bin --type 2764 --start 100 --end FF
run end_empty 2 "Error: Incorrect buffer end selected!" good.hex out.bin --type 2764 --end=
run end_too_long 2 "Error: Incorrect buffer end selected!" good.hex out.bin --type 27010 --end 100000000000000001FFF
run fill_too_large 2 "Error: Incorrect buffer fill value selected!" good.hex out.bin --type 2764 --fill 100
run missing_input 4 "Error: Input file not found!" missing.hex out.bin --type 2764
run empty_hex 4 "Error: No EOF record found\nError: No data found\nError: File read error" \
    empty.hex out.bin --type 2764 --from hex
run good_hex 0 "Information: Load range : 00000...0000F" good.hex good.bin --type 2764 --from hex --to bin --end f
run plain_hex_too_high 4 "Information: Load range : 00000...0000F\nError: Target address above FFFFh" good.hex x.hex --type 27010 --from hex
run missing_folder 4 "Error: File creation error" three.bin no/such/out.bin --type 2764
run device_name 4 "Error: Invalid file name" three.bin NUL --type 2764
run help 0 "" --help
grep -q '^usage: tarvex convert' help.out || fail "help: no usage text on stdout"

# What was saved: the range only, the fill where the file supplied nothing.
run narrowed_fill 0 "" three.bin fill.bin --type 2764 --end F --fill 5
printf '\001\002\003\005\005\005\005\005\005\005\005\005\005\005\005\005' >fill.expected
cmp -s fill.bin fill.expected || fail "narrowed_fill: $(cmp fill.bin fill.expected 2>&1)"
printf '\001\002\003\004\005\006\007\010\011\012\013\014\015\016\017\020' >good.expected
cmp -s good.bin good.expected || fail "good_hex: $(cmp good.bin good.expected 2>&1)"
run default_to_is_from 0 "Information: Load range : 00000...0000F" good.hex same.hex --type 2764 --from hex --end F
[ "$(cat same.hex)" = "$(printf ':100000000102030405060708090A0B0C0D0E0F1068\r\n:00000001FF\r')" ] ||
    fail "default_to_is_from: $(od -c same.hex | head -3)"
# A failed save leaves the old file as it was.
printf 'old' >kept.hex
run kept_on_failure 4 "Error: Target address above FFFFh" three.bin kept.hex --type 27010 --to hex
[ "$(cat kept.hex)" = old ] || fail "kept_on_failure: the old file changed"

finish
