#!/usr/bin/env bash
# Files saved by `tarvex convert` in every format are read back by srec_cat and by
# objcopy into exactly the bytes of the saved range.
# usage: peer_read_back.sh TARVEX WORK_FOLDER
set -euo pipefail
tarvex=$1
work=$2
source "$(dirname "$0")/peer_common.sh"
require_tools srec_cat objcopy perl cmp
rm -rf "$work" && mkdir -p "$work" && cd "$work"

random_bytes src.bin 131072 4242

# save NAME TYPE START END FORMAT: the binary load puts the source's first bytes at START.
save() {
    local name=$1 type=$2 start=$3 end=$4 format=$5
    local count=$((0x$end - 0x$start + 1)) out=$name.$format
    head -c "$count" src.bin >"$name.expected"
    if ! "$tarvex" convert src.bin "$out" --type "$type" --start "$start" --end "$end" \
        --to "$format" 2>"$name.err"; then
        fail "$name: convert failed"
        sed 's/^/    /' "$name.err"
        return
    fi
    if [ "$format" = bin ]; then
        srec_cat "$out" -binary -o "$name.srec_cat" -binary
        objcopy -I binary -O binary "$out" "$name.objcopy"
    else
        # srec_cat's binary output starts at address 0; shift the range down to it.
        srec_cat "$out" -intel -offset "-0x$start" -o "$name.srec_cat" -binary
        objcopy -I ihex -O binary "$out" "$name.objcopy"
    fi
    local peer
    for peer in srec_cat objcopy; do
        if ! cmp -s "$name.$peer" "$name.expected"; then
            fail "$name read by $peer: $(cmp "$name.$peer" "$name.expected" 2>&1 | head -1)"
            return
        fi
    done
    echo "ok   $name"
}

for format in bin hex xhex; do
    save "whole2764_$format" 2764 0 1FFF "$format"
    save "narrow27256_$format" 27256 123 4567 "$format"
    save "whole27512_$format" 27512 0 FFFF "$format"
    save "last27512_$format" 27512 FFFF FFFF "$format"
done
for format in bin xhex; do
    save "whole27010_$format" 27010 0 1FFFF "$format"
    save "narrow27010_$format" 27010 100 1ABCD "$format"
    save "across64k_$format" 27010 FFF5 10020 "$format"
    save "upper27010_$format" 27010 10010 1FFFE "$format"
done

finish
