#!/usr/bin/env bash
# Files laid out as real toolchains lay them out (made here by srec_cat and objcopy): a 6502 ROM
# at E000, an x86 ROM at F0000, avr-objcopy's .eeprom at 810000, a PIC's configuration word,
# objcopy's start record; each row runs tarvex as a user would and checks its status, the
# line it must print and, where there is one, the file it writes.
# usage: toolchain_files.sh TARVEX WORK_FOLDER
set -uo pipefail
tarvex=$(realpath "$1")
failures=0
fail() { echo "FAIL $*" && failures=$((failures + 1)); }
rm -rf "$2" && mkdir -p "$2" && cd "$2"
command -v srec_cat >/dev/null && command -v srec_cmp >/dev/null && command -v objcopy >/dev/null ||
    { echo "SKIP: srec_cat, srec_cmp or objcopy is missing" && exit 77; }
export TARVEX_IO=sim TARVEX_SIM_STATE=$PWD/sim.state

# Data without FF, so that a sparse file and the dense one hold the same bytes.
perl -e 'srand(5); binmode STDOUT; print pack("C*", map { int(rand(255)) } 1 .. 8192)' >rom.bin
srec_cat rom.bin -binary -offset 0xE000 -o e000.hex -intel -address-length=2
srec_cat rom.bin -binary -offset 0xE000 -execution-start-address=0xE000 -o e000.s19 -motorola
srec_cat rom.bin -binary -offset 0xF0000 -o f0000.hex -intel
cp e000.s19 text.bin
# avr-objcopy without -R .eeprom: flash from 0, then the EEPROM's bytes at 810000.
printf '\1\2\3\4' >eeprom.bin
srec_cat rom.bin -binary eeprom.bin -binary -offset 0x810000 -o avr.hex -intel
srec_cat rom.bin -binary -fill 0xFF 0 0x20000 -o avr.expected -binary
# gpasm's INHX8M for a PIC16: the program, then the configuration word at 2007h (byte 400E).
printf ':020000000028D6\r\n:02400E00F93F78\r\n:00000001FF\r\n' >pic.hex
# objcopy adds a start segment record (03) for the start of what it converts.
head -c 4096 rom.bin >half.bin
objcopy -I binary -O ihex --change-addresses 0x1000 half.bin start.hex
# Two blocks with a gap, as objcopy writes sections: records only where the data is.
head -c 300 rom.bin >a.bin && tail -c 700 rom.bin >b.bin
srec_cat a.bin -binary b.bin -binary -offset 0x1000 -o gaps.hex -intel -address-length=2

row() { # row NAME STATUS TEXT COMMAND...: the status, and TEXT somewhere in what it printed
    local name=$1 status=$2 want=$3 got=0
    shift 3
    "$tarvex" "$@" >"$name.out" 2>"$name.err" <"${stdin:-/dev/null}" || got=$?
    if [ "$got" -ne "$status" ] || { [ -n "$want" ] && ! cat "$name.out" "$name.err" | grep -qF -- "$want"; }; then
        fail "$name: exit $got, expected $status and '$want'; stderr:" && sed 's/^/    /' "$name.err"
        return 1
    fi
    echo "ok   $name"
}
same() { cmp -s "$2" "$3" || fail "$1: $2 differs from $3"; }

# One rule for formats: the option, else the name, else the first line.
row hex_name_to_bin_name 0 "Load range : 0E000...0FFFF" \
    convert e000.hex out.bin --type 2764 --hex-base E000 && same hex_to_bin out.bin rom.bin
row bin_name_to_hex_name 0 "" convert rom.bin out.hex --type 2764 && {
    srec_cat out.hex -intel -o back.bin -binary 2>/dev/null || fail "bin_to_hex: no Intel HEX"
    same bin_to_hex back.bin rom.bin
}
stdin=e000.hex row hex_base_on_stdin 0 "Intel HEX text, loaded as xhex" \
    convert - out2.bin --type 2764 --hex-base E000 && same hex_base_on_stdin out2.bin rom.bin
stdin=e000.s19 row srec_on_stdin_loads_as_srec 0 "S-record text, loaded as srec" \
    write - --type 2764 --hex-base E000 --reset-ms 0
row srec_text_named_bin_is_refused 2 "text.bin looks like S-record text, not a binary image" \
    write text.bin --type 2764
row srec_text_named_bin_is_refused_by_convert 2 "give --from srec to load its records" \
    convert text.bin out3.hex --type 2764
row format_bin_takes_text_as_bytes 0 "wrote 8192 bytes" \
    write text.bin --type 2764 --format bin --reset-ms 0
row hex_base_on_a_binary_image_is_refused 2 "--hex-base applies to HEX and S-record files" \
    write rom.bin --type 2764 --hex-base E000

# Errors that name the cure.
row rom_at_e000_hex 4 "e000.hex: records E000-FFFF lie above the 2764's 0000-1FFF; the ROM looks placed at E000: try --hex-base E000" \
    write e000.hex --type 2764
row rom_at_e000_s19 4 "records E000-FFFF lie above the 2764's 0000-1FFF; the ROM looks placed at E000: try --hex-base E000" \
    verify e000.s19 --type 2764
row base_one_too_high 4 "records 0E000-0FFFF lie partly below the 2764's 0E001-10000; the ROM looks placed at E000: try --hex-base E000" \
    dump e000.hex --type 2764 --hex-base E001
row x86_rom_at_f0000 4 "records F0000-F1FFF lie above the 27512's 0000-FFFF; the ROM looks placed at F0000: try --hex-base F0000" \
    convert f0000.hex out4.bin --type 27512
row plain_hex_refuses_the_start_record 4 "line 257 holds a start segment address record (03), which plain Intel HEX (--from hex) does not have: --from xhex (the default for .hex) takes it" \
    convert start.hex out5.bin --type 2764 --from hex

# --crop: what lies outside the EPROM is left out, and said.
row avr_eeprom_names_crop 4 "the record at 810000-810003 lies above the 27010's 00000-1FFFF; records 00000-810003 do not fit one 27010: --crop leaves out what lies outside" \
    convert avr.hex out6.bin --type 27010
row avr_eeprom_cropped 0 "avr.hex: left out 4 bytes at 810000-810003 outside 00000-1FFFF" \
    convert avr.hex out6.bin --type 27010 --crop && same avr_eeprom_cropped out6.bin avr.expected
row pic_config_cropped 0 "left out 2 bytes at 400E-400F outside 0000-3FFF" \
    write pic.hex --type 27128 --crop --reset-ms 0

# Conversions keep what the file says: the start record, and only the bytes it has.
row start_record_hex_to_hex 0 "" convert start.hex out7.hex --type 2764 &&
    { grep -q '^:0400000300001000E9' out7.hex || fail "start_record_hex_to_hex: $(tail -2 out7.hex)"; }
row start_address_srec_to_srec 0 "" convert e000.s19 out8.s19 --type 2764 --hex-base E000 &&
    { grep -q '^S903E0001C' out8.s19 || fail "start_address_srec_to_srec: $(tail -1 out8.s19)"; }
for to in hex s19; do
    flag=-intel && [ $to = s19 ] && flag=-motorola
    row "sparse_$to" 0 "" convert gaps.hex "sparse.$to" --type 2764 --sparse &&
        { srec_cmp gaps.hex -intel "sparse.$to" $flag || fail "sparse_$to: srec_cmp finds a difference"; }
done
row sparse_needs_text_output 2 "--sparse applies to HEX and S-record" \
    convert gaps.hex out9.bin --type 2764 --sparse

[ "$failures" -eq 0 ] && echo "all passed" || { echo "$failures case(s) failed" && exit 1; }
