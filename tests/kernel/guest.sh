#!/bin/sh
# Runs as /init inside the test machine: loads the parallel-port drivers, then checks
# what tarvex and the kernel's ppdev do together. Each check prints one "KTEST" line on
# the serial console; the host reads them.
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
case "$(cat /proc/cmdline)" in *ktest=device*)
  . /device.sh
  exit
  ;;
esac
for module in parport parport_pc ppdev; do
  insmod /modules/$module.ko || echo "KTEST FAIL insmod $module"
done

result() {  # name, condition already tested: 0 pass
  if [ "$2" -eq 0 ]; then echo "KTEST PASS $1"; else echo "KTEST FAIL $1"; fi
}
contains() { case "$1" in *"$2"*) return 0 ;; *) return 1 ;; esac; }
now_ms() { read -r up _ </proc/uptime; echo $(( ${up%.*} * 1000 + 1${up#*.}0 - 1000 )); }

# Which /dev/parportN serves a base address depends on the order the driver found them.
# (base-addr answers only a read from its start: read it whole, with cat.)
device_at() {
  for entry in /proc/sys/dev/parport/parport*; do
    case "$(cat "$entry/base-addr")" in "$1"[[:space:]]*) echo "/dev/${entry##*/}" ;; esac
  done
}
for entry in /proc/sys/dev/parport/parport*; do
  echo "KTEST INFO ${entry##*/} base-addr: $(cat "$entry/base-addr")"
done
p378=$(device_at 888)
p278=$(device_at 632)

# The kernel's claim writes its initial control state, on every fresh open.
first=$(probe claim $p378)
probe set $p378 0D
kept=$(probe inb 0x37A)
again=$(probe claim $p378)
echo "KTEST INFO first claim: $first; after writing 0D and closing: $kept; next claim: $again"
result claim-writes-0C "$([ "$first" = "control 0C" ]; echo $?)"
result closing-keeps-register "$( [ $(( 0x$kept & 1 )) -eq 1 ]; echo $?)"
result fresh-open-writes-0C-again "$([ "$again" = "control 0C" ]; echo $?)"

# A port held by another program: tarvex says so within its bound, and lets go of the
# port it probed before while it waits for the held one.
probe hold $p378 20 >/tmp/holder &
holder=$!
while ! grep -q held /tmp/holder 2>/dev/null; do usleep 50000; done
echo "KTEST INFO $p378 held by another program"
start=$(now_ms)
tarvex detect >/tmp/out 2>/tmp/err &
detect=$!
usleep 500000
other=$(probe tryclaim $p278 1000)
echo "KTEST INFO waiting for tarvex detect"
wait $detect
status=$?
elapsed=$(( $(now_ms) - start ))
kill $holder
wait $holder 2>/dev/null
tries=0
while [ "$(cat /proc/sys/dev/parport/${p378#/dev/}/devices/active)" != none ] && [ $tries -lt 40 ]; do
  usleep 50000
  tries=$((tries + 1))
done
echo "KTEST INFO busy port: exit $status after $elapsed ms"
sed 's/^/KTEST INFO   /' /tmp/err
result busy-port-exit-3 "$([ $status -eq 3 ]; echo $?)"
contains "$(cat /tmp/err)" "$p378 is in use by another program (another Tarvex32 or tarvex, or a printer job)"
result busy-port-message $?
result busy-port-bounded "$([ $elapsed -lt 6000 ]; echo $?)"
echo "KTEST INFO claim of the probed 0x278 during the wait: $other"
result probed-port-released-while-running "$([ "$other" = "claimed" ]; echo $?)"

# With no emulator anywhere: the diagnosis per address, and both ports free afterwards.
start=$(now_ms)
tarvex detect >/tmp/out 2>/tmp/err
status=$?
echo "KTEST INFO detect: exit $status after $(( $(now_ms) - start )) ms"
sed 's/^/KTEST INFO   /' /tmp/err
result detect-exit-3 "$([ $status -eq 3 ]; echo $?)"
err=$(cat /tmp/err)
contains "$err" "0x0278: port present" && contains "$err" "0x0378: port present" &&
  contains "$err" "0x03BC: no port"
result detect-diagnosis $?
result ports-free-after-detect "$([ "$(probe tryclaim $p378 $p278 1000)" = claimed ]; echo $?)"

# An address no /dev/parportN serves reads like a floating bus.
tarvex detect --port 0x3BC >/tmp/out 2>/tmp/err
status=$?
sed 's/^/KTEST INFO   /' /tmp/err
contains "$(cat /tmp/err)" "0x03BC: no port, status reads FF"
result unserved-address-reads-FF "$([ $status -eq 3 ] && contains "$(cat /tmp/err)" "status reads FF"; echo $?)"

echo "KTEST DONE"
poweroff -f
