#!/usr/bin/env bash
# The host's half of the device run: what the library recorded of the simulated emulator
# (marks.log, trace-N.txt, memory-N.bin) against what the guest did and the images it had.
# Usage: check_device.sh DEVICE_FOLDER IMAGES_FOLDER CONSOLE_LOG
set -uo pipefail
device=$1 images=$2 console=$3
failed=0
result() {  # name, status of the check
  if [ "$2" -eq 0 ]; then echo "KTEST PASS $1"; else echo "KTEST FAIL $1"; failed=1; fi
}
mark_of() { awk -v name="$1" '$1 == "KTEST" && $2 == "MARK" && $4 == name { print $3 }' "$device/ktest.txt"; }
record() { grep -a "^mark $(mark_of "$1"): " "$device/marks.log"; }
# The device's control register when the mark was made.
control_at() { record "$1" | sed -n 's/.*; control \([0-9A-F][0-9A-F]\) data.*/\1/p'; }
accesses() {  # reads and writes the device got
  record "$1" | sed 's/^mark [0-9]*: //; s/, other.*//' | grep -o '[0-9]\+' | awk '{ s += $1 } END { print s }'
}
per_byte() { awk -v n="$1" -v d="$2" 'BEGIN { printf "%.2f", n / d }'; }

if [ ! -s "$device/marks.log" ]; then
  echo "KTEST FAIL device-records (the library wrote no marks.log)"
  exit 1
fi

# What loading parport_pc did to a device that already had power.
probe=$(mark_of modules-loaded)
writes=$(grep -c '^W' "$device/trace-$probe.txt")
echo "KTEST INFO loading the drivers: $(record modules-loaded | sed 's/^mark [0-9]*: //')"
echo "KTEST INFO   its writes: $(grep '^W' "$device/trace-$probe.txt" | head -40 | awk '{ print $2 "=" $3 }' | paste -sd' ')$([ "$writes" -gt 40 ] && echo " ...")"
changed=$(cmp -l "$device/memory-$(mark_of boot).bin" "$device/memory-$probe.bin" | wc -l)
echo "KTEST INFO   memory cells it changed: $changed$([ "$changed" -gt 0 ] && cmp -l "$device/memory-$(mark_of boot).bin" "$device/memory-$probe.bin" | head -4 |
  awk '{ v = 0; for (i = 1; i <= length($3); ++i) v = v * 8 + substr($3, i, 1); printf " %05X=%02X", $1 - 1, v }')"

for io in ppdev direct; do
  for type in 2764 27010; do
    size=$(stat -c %s "$images/$type.bin")
    cmp -s -n "$size" "$device/memory-$(mark_of write-$type-$io).bin" "$images/$type.bin"
    result device-memory-$type-$io $?
  done
  # RESET as each command left it: bit 0 of the control register, 0 holds the target.
  for step in reset-hold:0 reset-release:1 reset-pulse:1 leave-hold:0 leave-release:1; do
    control=$(control_at "${step%:*}-$io")
    result "device-${step%:*}-$io" "$([ -n "$control" ] && [ $(( 0x$control & 1 )) -eq "${step#*:}" ]; echo $?)"
  done

  # The signals test: the guest's own trace holds the sequences; the device got its writes,
  # less those qemu drops (a write of the value the register already holds).
  guest=$(tr -d '\r' <"$console" | sed -n "s/^KTEST TRACE-signals-$io //p")
  # Each iteration: 55 AA 00 FF, then Strobe- cleared, set, cleared, set, each step a read
  # of the control register and a write of it with only bit 0 changed.
  mapfile -t line <<<"$guest"
  iterations=0
  for ((i = 0; i + 11 < ${#line[@]}; ++i)); do
    [ "${line[i]} ${line[i+1]} ${line[i+2]} ${line[i+3]}" = "W 0378 55 W 0378 AA W 0378 00 W 0378 FF" ] || continue
    ok=1
    for s in 0 1 2 3; do
      r=${line[i+4+2*s]} w=${line[i+5+2*s]}
      [ "${r:0:7}" = "R 037A " ] && [ "${w:0:7}" = "W 037A " ] || { ok=0; break; }
      want=$(( s % 2 == 0 ? 0x${r:7} & 0xFE : 0x${r:7} | 1 ))
      [ $(( 0x${w:7} )) -eq $want ] || ok=0
    done
    iterations=$((iterations + ok))
  done
  result signals-sequences-$io "$([ "$iterations" = 2 ]; echo $?)"
  # Control bits 4-7 are no lines: the kernel keeps bit 4 (interrupts on) from its claim
  # whatever ppdev is given, and qemu reads bits 6-7 as set; only bits 0-3 are compared.
  lines() { sed -n 's/^W 037A \(.\)\(.\)$/W 037A \2/p; /^W 0378 /p'; }
  expected=$(echo "$guest" | grep '^W' | lines | awk '
    { if (($2 in last) && last[$2] == $3) next; last[$2] = $3; print }' |
    sed -n '/^W 0378 55$/,$p')
  got=$(grep '^W' "$device/trace-$(mark_of signals-$io).txt" | lines | sed -n '/^W 0378 55$/,$p')
  result signals-reach-the-device-$io "$([ -n "$got" ] && [ "$got" = "$expected" ]; echo $?)"
  [ "$got" = "$expected" ] || diff <(echo "$expected") <(echo "$got") | head -10 | sed 's/^/KTEST INFO   /'

  # Accesses per byte: what tarvex made (under ppdev one ioctl each) and what reached the
  # device (qemu answers control reads itself and drops repeated writes).
  for transfer in write-verify read; do
    made=$(sed -n "s/^KTEST COUNT $transfer-2764-$io //p" "$device/ktest.txt")
    step=${transfer%-verify}
    got=$(accesses "$step-27010-$io")
    echo "KTEST FIGURE $transfer $io: tarvex $(per_byte "$made" 8192) accesses a byte," \
      "the device got $(per_byte "$got" 131072)"
  done
done

# The memory the library saved at exit: the last image written.
cmp -s "$device/memory.bin" "$images/27010.bin"
result device-memory-at-exit $?
echo "KTEST INFO device at exit: $(cat "$device/registers.txt")"
exit $failed
