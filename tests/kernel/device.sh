# Sourced by guest.sh when the kernel command line says ktest=device.
# Runs inside the test machine when the simulated emulator sits behind the port at 0x378
# (the host's parport_sim library): tarvex's transfers through the guest's real parport,
# parport_pc and ppdev drivers, and through its own inb/outb. Each check prints a "KTEST"
# line; "mark N" closes the library's record of the device (marks.log, trace-N.txt,
# memory-N.bin on the host), which the host checks after the run.
result() {  # name, condition already tested: 0 pass
  if [ "$2" -eq 0 ]; then echo "KTEST PASS $1"; else echo "KTEST FAIL $1"; fi
}
contains() { case "$1" in *"$2"*) return 0 ;; *) return 1 ;; esac; }
mark=0
mark() {  # what the record since the last mark was
  mark=$((mark + 1))
  probe mark 0x300 $mark
  echo "KTEST MARK $mark $1"
}

mark boot
for module in parport parport_pc ppdev; do
  insmod /modules/$module.ko || echo "KTEST FAIL insmod $module"
done
mark modules-loaded
for entry in /proc/sys/dev/parport/parport*; do
  echo "KTEST INFO ${entry##*/} base-addr: $(cat "$entry/base-addr") irq: $(cat "$entry/irq" 2>/dev/null) modes: $(cat "$entry/modes")"
done

for io in ppdev direct; do
  export TARVEX_IO=$io
  tarvex detect >/tmp/out 2>/tmp/err
  status=$?
  sed 's/^/KTEST INFO   /' /tmp/out /tmp/err
  result detect-$io "$([ $status -eq 0 ] && contains "$(cat /tmp/out)" "emulator at 0x0378"; echo $?)"
  mark detect-$io

  for type in 2764 27010; do
    tarvex write /images/$type.bin --type $type --reset-ms 0 >/tmp/out 2>/tmp/err
    status=$?
    sed 's/^/KTEST INFO   /' /tmp/out /tmp/err
    result write-$type-$io "$([ $status -eq 0 ]; echo $?)"
    mark write-$type-$io
    tarvex read /tmp/back.bin --type $type >/tmp/out 2>/tmp/err
    status=$?
    result read-$type-$io "$([ $status -eq 0 ] && cmp -s /tmp/back.bin /images/$type.bin; echo $?)"
    mark read-$type-$io
  done

  # Another image: every differing byte counted.
  differing=$(cmp -l /images/2764.bin /images/other.bin | wc -l)
  tarvex write /images/2764.bin --type 2764 --reset-ms 0 -q
  tarvex verify /images/other.bin --type 2764 >/tmp/out 2>/tmp/err
  status=$?
  head -2 /tmp/err | sed 's/^/KTEST INFO   /'
  result verify-other-$io "$([ $status -eq 1 ] && contains "$(cat /tmp/err)" "$differing of 8192 bytes"; echo $?)"
  mark verify-other-$io

  # Each ends with RESET as asked: the host reads the device's control register at the mark.
  for action in hold release pulse; do
    tarvex reset $action >/tmp/out 2>/tmp/err
    result reset-$action-$io "$([ $? -eq 0 ]; echo $?)"
    mark reset-$action-$io
  done
  for leave in hold release; do
    tarvex dump --emulator --type 2764 --page 0 --leave $leave >/tmp/out 2>/tmp/err
    result dump-leave-$leave-$io "$([ $? -eq 0 ] && [ "$(head -c 7 /tmp/out)" = "00000 :" ]; echo $?)"
    mark leave-$leave-$io
  done

  # The sequences, as tarvex made them (its own trace) and as the device got them.
  TARVEX_TRACE=/tmp/trace tarvex test signals --lines data,strobe --count 2 >/tmp/out 2>/tmp/err
  result signals-$io "$([ $? -eq 0 ]; echo $?)"
  sed 's/^/KTEST TRACE-signals-'$io' /' /tmp/trace
  mark signals-$io

  # What a transfer costs in accesses: tarvex's own count (under ppdev one ioctl each).
  TARVEX_TRACE=/tmp/trace tarvex write /images/2764.bin --type 2764 --reset-ms 0 -q
  echo "KTEST COUNT write-verify-2764-$io $(wc -l </tmp/trace)"
  mark counted-write-$io
  TARVEX_TRACE=/tmp/trace tarvex read /tmp/back.bin --type 2764 -q
  echo "KTEST COUNT read-2764-$io $(wc -l </tmp/trace)"
  mark counted-read-$io
  rm -f /tmp/trace
done
unset TARVEX_IO

# The cable pulled: from the next mark on the device stops answering after 3000 accesses.
probe mark 0x300 250
export TARVEX_IO=ppdev
tarvex write /images/27010.bin --type 27010 --reset-ms 0 >/tmp/out 2>/tmp/err
status=$?
sed 's/^/KTEST INFO   /' /tmp/err
result pulled-cable-exit-3 "$([ $status -eq 3 ] && contains "$(cat /tmp/err)" "stopped answering"; echo $?)"
probe mark 0x300 251
# Plugged in again: a whole image, which the library keeps as the device's memory at exit.
TARVEX_IO=direct tarvex write /images/27010.bin --type 27010 --reset-ms 0 -q
result write-after-the-cable "$([ $? -eq 0 ]; echo $?)"

echo "KTEST DONE"
poweroff -f
