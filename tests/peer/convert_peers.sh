#!/usr/bin/env bash
# `tarvex convert` as a whole process, then its files against srec_cat and objcopy: theirs load
# byte-exact, ours read back byte-exact. usage: convert_peers.sh TARVEX WORK_FOLDER
set -euo pipefail
tarvex=$1
failures=0
fail() { echo "FAIL $*" && failures=$((failures + 1)); }
same() { cmp -s "$2" "$3" && echo "ok   $1" || fail "$1: $(cmp "$2" "$3" 2>&1 | head -1)"; }
rm -rf "$2" && mkdir -p "$2" && cd "$2"

run() { # run NAME STATUS FIRST_STDERR_LINE ARGS...
    local name=$1 status=$2 want=$3 got=0
    shift 3
    "$tarvex" convert "$@" >/dev/null 2>"$name.err" || got=$?
    [ "$got" -eq "$status" ] && [ "$(head -1 "$name.err")" = "$want" ] && echo "ok   $name" ||
        { fail "$name: exit $got, expected $status; stderr:" && sed 's/^/    /' "$name.err"; }
}
printf ':100000000102030405060708090A0B0C0D0E0F1068\r\n:00000001FF\r\n' >good.hex && : >empty.hex
run no_arguments 2 "tarvex: convert: INPUT is required"
run start_past_eprom 2 "Error: Incorrect buffer start selected!" good.hex o --type 2764 --start 2000
run missing_input 4 "tarvex: cannot open missing.hex: No such file or directory" missing.hex o --type 2764
run empty_hex 4 "Error: No EOF record found" empty.hex o --type 2764 --from hex
run empty_srec 4 "Error: No data found" empty.hex o --type 2764 --from srec
run device_name 4 "Error: Invalid file name" good.hex NUL --type 2764 --quiet
run missing_folder 4 "tarvex: cannot write no/such/o.bin: No such file or directory" good.hex no/such/o.bin --type 2764 -q
run plain_hex_too_high 4 "Error: Target address above FFFFh" good.hex o.hex --type 27010 --to hex -q
run good_hex 0 "Information: Load range : 00000...0000F" good.hex good.bin --type 2764 --from hex

command -v srec_cat >/dev/null && command -v objcopy >/dev/null && command -v perl >/dev/null ||
    { echo "SKIP: srec_cat, objcopy or perl is missing" && exit $((failures ? 1 : 77)); }
# 77777 bytes: above 64 KiB, ending in a short record; the rest of the 27010 keeps the fill FFh.
perl -e 'srand(7); binmode STDOUT; print pack("C*", map { int(rand(256)) } 1 .. 77777)' >src.bin
{ cat src.bin && head -c 53295 /dev/zero | tr '\0' '\377'; } >src.27010
head -c 8192 src.bin >small.bin
load() { # load NAME FORMAT EXPECTED ARGS...: their file NAME.hex, loaded
    "$tarvex" convert "$1.hex" "$1.bin" --from "$2" --to bin "${@:4}" 2>"$1.err" || fail "$1: no"
    same "$1" "$1.bin" "$3"
}
for flavour in linear: segment:-address-length=3 longest:-output_block_size=255 tiny:-line-length=20
do
    srec_cat src.bin -binary -o "${flavour%%:*}.hex" -intel ${flavour#*:}
    load "${flavour%%:*}" xhex src.27010 --type 27010
done
objcopy -I binary -O ihex src.bin objcopy.hex && load objcopy xhex src.27010 --type 27010
srec_cat small.bin -binary -o plain.hex -intel -address-length=2
load plain hex small.bin --type 2764
# Placed in the upper half, with the start address record (03) objcopy adds.
objcopy -I binary -O ihex --change-addresses 0x13000 small.bin upper.hex
load upper xhex small.bin --type 27010 --start 13000 --end 14FFF

save() { # save NAME TYPE START END FORMAT: our file of the first bytes of src.27010, at START
    head -c $((0x$4 - 0x$3 + 1)) src.27010 >"$1.expected"
    "$tarvex" convert src.27010 "$1.hex" --type "$2" --start "$3" --end "$4" --to "$5" 2>"$1.err" ||
        { fail "$1: not saved" && return; }
    srec_cat "$1.hex" -intel -offset "-0x$3" -o "$1.srec_cat" -binary
    objcopy -I ihex -O binary "$1.hex" "$1.objcopy"
    same "$1 read by srec_cat" "$1.srec_cat" "$1.expected"
    same "$1 read by objcopy" "$1.objcopy" "$1.expected"
}
save narrow_hex 27256 123 4567 hex
save across64k 27010 FFF5 10020 xhex
save whole 27010 0 1FFFF xhex

# A 6502-style ROM: srec_cat puts the 2764's bytes at E000-FFFF; --hex-base E000 takes them to
# 0000-1FFF and back, through the simulated emulator too.
srec_cat small.bin -binary -offset 0xE000 -o cpu.hex -intel -address-length=2
"$tarvex" convert cpu.hex cpu.bin --type 2764 --from hex --to bin --hex-base E000 2>cpu.err ||
    fail "hex base: not loaded"
same "hex base load" cpu.bin small.bin
export TARVEX_IO=sim TARVEX_SIM_STATE=$PWD/sim.state
"$tarvex" -q write cpu.hex --type 2764 --format hex --hex-base E000 --reset-ms 0 &&
    "$tarvex" -q verify small.bin --type 2764 &&
    "$tarvex" -q read back.hex --type 2764 --format hex --hex-base E000 || fail "hex base: emulator"
srec_cat back.hex -intel -offset -0xE000 -o back.bin -binary
same "hex base through the emulator, read by srec_cat" back.bin small.bin
"$tarvex" -q verify cpu.hex --type 2764 --format hex --hex-base E001 2>below.err &&
    fail "hex base: a record below the base loaded"
grep -q "Load address below first data buffer address , line #1" below.err &&
    echo "ok   hex base: below the base" || fail "hex base: $(cat below.err)"

# Motorola S-records: srec_cat's S19, S28 and S37, with and without the S5 count and the
# termination record, load byte-exact; ours are read back by srec_cat byte-exact.
srec_cat small.bin -binary -o s19.s19 -motorola -address-length=2
load_srec() { # load_srec NAME EXPECTED ARGS...: their file NAME, loaded as S-records
    "$tarvex" convert "$1" "$1.bin" --from srec --to bin "${@:3}" 2>"$1.err" || fail "$1: no"
    same "$1" "$1.bin" "$2"
}
load_srec s19.s19 small.bin --type 2764
for flavour in s28:3: s37:4: s28_nocount:3:-disable=data-count s37_start:4:-execution-start-address=0 \
    s28_wide:3:-output_block_size=250; do
    IFS=: read -r name width extra <<<"$flavour"
    srec_cat src.bin -binary ${extra:+"$extra"} -o "$name.srec" -motorola -address-length="$width"
    load_srec "$name.srec" src.27010 --type 27010
done
grep -q '^S5' s28.srec && ! grep -q '^S[5-9]' s28_nocount.srec && grep -q '^S7' s37_start.srec ||
    fail "srec_cat flavours: counts and terminations not as expected"
objcopy -I binary -O srec --change-addresses 0x13000 small.bin upper.srec
load_srec upper.srec small.bin --type 27010 --start 13000 --end 14FFF

save_srec() { # save_srec NAME TYPE START END [--hex-base B]: our S-records of src.27010
    local offset=0x$3
    [ $# -gt 4 ] && offset=$((0x$3 + 0x$6))
    head -c $((0x$4 - 0x$3 + 1)) src.27010 >"$1.expected"
    "$tarvex" convert src.27010 "$1.srec" --type "$2" --start "$3" --end "$4" --to srec "${@:5}" \
        2>"$1.err" || { fail "$1: not saved" && return; }
    srec_cat "$1.srec" -motorola -offset "-$offset" -o "$1.srec_cat" -binary
    same "$1 read by srec_cat" "$1.srec_cat" "$1.expected"
}
save_srec srec_s19 27512 123 FFFF
save_srec srec_s28 27010 0 1FFFF
save_srec srec_s37 27010 100 1FF --hex-base FF000000
head -c 1 srec_s19.srec | grep -q S && grep -q '^S9' srec_s19.srec && grep -q '^S8' srec_s28.srec &&
    grep -q '^S7' srec_s37.srec && grep -q '^S5' srec_s28.srec || fail "our S-record terminations"

# Mutated S-records: one character changed, or a line cut short, fails with the line it is on,
# never with a crash or a success.
lines=$(wc -l <s28.srec)
for seed in $(seq 1 40); do
    line=$((seed * 7919 % lines + 1))
    perl -e '
        my ($seed, $line) = @ARGV; srand($seed); my $n = 0;
        while (<STDIN>) {
            if (++$n == $line) {
                chomp; my $at = 2 + int(rand(length($_) - 2));  # the type stays
                if ($seed % 3 == 0) { $_ = substr($_, 0, $at); }
                else { my $c = substr($_, $at, 1); my $d = $c;
                       $d = (qw(0 1 7 A F G S z), "\x00")[int(rand(9))] while $d eq $c;
                       substr($_, $at, 1) = $d; }
                $_ .= "\n";
            }
            print;
        }' "$seed" "$line" <s28.srec >mutated.srec
    status=0
    "$tarvex" convert mutated.srec mutated.bin --type 27010 --from srec 2>mutated.err || status=$?
    [ "$status" -eq 4 ] && grep -Eq "^Error: .* , line #$line\$" mutated.err ||
        { fail "mutation $seed (line $line): exit $status" && sed 's/^/    /' mutated.err; }
done
echo "ok   40 mutated S-record files"

[ "$failures" -eq 0 ] || { echo "$failures case(s) failed" && exit 1; }
echo "all cases passed"
