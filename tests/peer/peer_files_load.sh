#!/usr/bin/env bash
# Intel HEX written by srec_cat and by objcopy, in every flavour they offer, loads through
# `tarvex convert` into exactly the bytes of the binary it was made from. A valid file we
# refuse is a loader bug.
# usage: peer_files_load.sh TARVEX WORK_FOLDER
set -euo pipefail
tarvex=$1
work=$2
source "$(dirname "$0")/peer_common.sh"
require_tools srec_cat objcopy perl cmp
rm -rf "$work" && mkdir -p "$work" && cd "$work"

# load NAME HEX TYPE EXPECTED [convert options...]
load() {
    local name=$1 hex=$2 type=$3 expected=$4
    shift 4
    if ! "$tarvex" convert "$hex" "$name.out" --type "$type" --to bin "$@" 2>"$name.err"; then
        fail "$name: refused"
        sed 's/^/    /' "$name.err"
        return
    fi
    if ! cmp -s "$name.out" "$expected"; then
        fail "$name: $(cmp "$name.out" "$expected" 2>&1 | head -1)"
        return
    fi
    echo "ok   $name"
}

# size, EPROM type, type size: one image per size, the last one not a multiple of 32.
for row in 8192:2764:8192 65536:27512:65536 131072:27010:131072 77777:27010:131072; do
    IFS=: read -r size type typesize <<<"$row"
    src=src$size.bin
    random_bytes "$src" "$size" "$size"
    pad_ff "$src" "$typesize" "expected$size.bin"

    srec_cat "$src" -binary -o "s${size}_linear.hex" -intel
    srec_cat "$src" -binary -o "s${size}_segment.hex" -intel -address-length=3
    srec_cat "$src" -binary -o "s${size}_short.hex" -intel -line-length=44
    srec_cat "$src" -binary -o "s${size}_tiny.hex" -intel -line-length=20
    srec_cat "$src" -binary -o "s${size}_longest.hex" -intel -output_block_size=255
    srec_cat "$src" -binary -o "s${size}_crlf.hex" -intel -line-termination=crlf
    srec_cat "$src" -binary -o "s${size}_cr.hex" -intel -line-termination=cr
    objcopy -I binary -O ihex "$src" "o${size}.hex"
    for hex in "s${size}"_*.hex "o${size}.hex"; do
        load "${hex%.hex}" "$hex" "$type" "expected$size.bin" --from xhex
    done
    if [ "$size" -le 65536 ]; then
        # 16-bit addresses only: plain Intel HEX.
        srec_cat "$src" -binary -o "s${size}_plain.hex" -intel -address-length=2
        load "s${size}_plain" "s${size}_plain.hex" "$type" "expected$size.bin" --from hex
    fi
done

# One byte per record: 131072 data lines, line numbers far past 65535.
srec_cat src131072.bin -binary -o bytewise.hex -intel -output_block_size=1
load bytewise bytewise.hex 27010 expected131072.bin --from xhex

# Data placed in the upper half, loaded into a narrowed range: exactly the source.
srec_cat src8192.bin -binary -offset 0x13000 -o upper.hex -intel
load upper_linear upper.hex 27010 src8192.bin --from xhex --start 13000 --end 14FFF
srec_cat src8192.bin -binary -offset 0x13000 -o upper_segment.hex -intel -address-length=3
load upper_segment upper_segment.hex 27010 src8192.bin --from xhex --start 13000 --end 14FFF
objcopy -I binary -O ihex --change-section-address .data=0x13000 src8192.bin upper_objcopy.hex
load upper_objcopy upper_objcopy.hex 27010 src8192.bin --from xhex --start 13000 --end 14FFF

# Entry points: objcopy writes a start segment record (03) when the start address moves,
# srec_cat a start linear (05) or start segment record; the image ignores them.
objcopy -I binary -O ihex --change-addresses 0x13000 src8192.bin start_objcopy.hex
load start_objcopy start_objcopy.hex 27010 src8192.bin --from xhex --start 13000 --end 14FFF
srec_cat src65536.bin -binary -execution-start-address=0x1234 -o start_linear.hex -intel
load start_linear start_linear.hex 27512 expected65536.bin --from xhex
srec_cat src65536.bin -binary -execution-start-address=0x1234 -o start_segment.hex -intel \
    -address-length=3
load start_segment start_segment.hex 27512 expected65536.bin --from xhex

# A hole keeps the fill value.
srec_cat src131072.bin -binary -exclude 0x1000 0x2000 -o holes.hex -intel
{ head -c 4096 src131072.bin; ff_bytes 4096; tail -c +8193 src131072.bin; } >holes.bin
load holes holes.hex 27010 holes.bin --from xhex
{ head -c 4096 src131072.bin; head -c 4096 /dev/zero | tr '\0' '\005'; tail -c +8193 src131072.bin; } >holes05.bin
load holes_fill05 holes.hex 27010 holes05.bin --from xhex --fill 05

finish
