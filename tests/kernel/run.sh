#!/usr/bin/env bash
# Boots Debian's own kernel under qemu (software emulation) with parallel ports at 0x378
# and 0x278, and runs tarvex against the real parport, parport_pc and ppdev drivers.
# Usage: tests/kernel/run.sh [WORK_FOLDER]   (default build/kernel)
set -euo pipefail
cd "$(dirname "$0")/../.."
source_dir=$PWD
work=$(realpath -m "${1:-build/kernel}")
mkdir -p "$work"

needed=(qemu-system-x86 busybox-static cpio xz-utils gcc libc6-dev)
missing=()
for package in "${needed[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "kernel test: missing Debian packages: sudo apt-get install ${missing[*]}" >&2
    exit 1
  fi
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Debian's kernel, unpacked, not installed. The meta package names the versioned one.
kernel_package=$(apt-cache depends linux-image-amd64 2>/dev/null |
  awk '/Depends: linux-image-[0-9]/ { print $2; exit }')
if [ -z "$kernel_package" ]; then
  apt-get update -qq
  kernel_package=$(apt-cache depends linux-image-amd64 | awk '/Depends: linux-image-[0-9]/ { print $2; exit }')
fi
version=${kernel_package#linux-image-}
kernel_root=$work/$kernel_package
if [ ! -d "$kernel_root/boot" ]; then
  (cd "$work" && rm -f "$kernel_package"_*.deb && apt-get download -qq "$kernel_package")
  rm -rf "$kernel_root"
  dpkg-deb -x "$work/$kernel_package"_*.deb "$kernel_root"
fi

# tarvex without sanitizers, static, in a build folder of its own.
# Beside it, the library that puts the simulator behind qemu's port (a shared object).
cmake -S "$source_dir" -B "$work/tarvex" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DTARVEX_GUI=OFF -DTARVEX_TESTS=OFF -DTARVEX_KERNEL_TEST=ON \
  -DCMAKE_EXE_LINKER_FLAGS=-static >/dev/null
cmake --build "$work/tarvex" --target tarvex parport_sim -j "$(nproc)" >/dev/null

# The initramfs: busybox, the three drivers, tarvex, the probe and the checks as /init.
root=$work/initramfs
rm -rf "$root"
mkdir -p "$root"/{bin,modules,proc,sys,dev,tmp}
cp /bin/busybox "$root/bin/busybox"
for applet in $("$root/bin/busybox" --list); do
  [ "$applet" = busybox ] || ln -s busybox "$root/bin/$applet"
done
modules=$kernel_root/lib/modules/$version/kernel/drivers
for module in parport/parport parport/parport_pc char/ppdev; do
  name=$(basename "$module")
  if [ -f "$modules/$module.ko.xz" ]; then
    xz -dc "$modules/$module.ko.xz" >"$root/modules/$name.ko"
  elif [ -f "$modules/$module.ko.zst" ]; then
    zstd -qdc "$modules/$module.ko.zst" >"$root/modules/$name.ko"
  else
    cp "$modules/$module.ko" "$root/modules/$name.ko"
  fi
done
cp "$work/tarvex/cli/tarvex" "$root/bin/tarvex"
gcc -static -O2 -Wall -Wextra -Werror -o "$root/bin/probe" tests/kernel/probe.c
cp tests/kernel/guest.sh "$root/init"
cp tests/kernel/device.sh "$root/device.sh"
chmod +x "$root/init"
# Random images, kept on the host too: the device's memory is compared with them.
mkdir -p "$root/images"
head -c 8192 /dev/urandom >"$root/images/2764.bin"
head -c 131072 /dev/urandom >"$root/images/27010.bin"
cp "$root/images/2764.bin" "$root/images/other.bin"
for at in 17 300 301 4095 8191; do
  printf '\x5A' | dd of="$root/images/other.bin" bs=1 seek=$at conv=notrunc status=none
done
(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) >"$work/initramfs.gz"

boot() {  # log, then qemu's arguments for the machine's devices and kernel command line
  local log=$1 append=$2
  shift 2
  timeout 600 qemu-system-x86_64 -accel tcg -m 256 -nographic -no-reboot \
    -kernel "$kernel_root/boot/vmlinuz-$version" -initrd "$work/initramfs.gz" \
    -append "console=ttyS0 panic=-1 quiet $append" \
    -monitor none -serial stdio "$@" </dev/null >"$log" 2>&1 || true
}

# Two ISA parallel ports with nothing behind them: qemu places the first at 0x378 and the
# second at 0x278.
log=$work/console.log
boot "$log" "" -parallel null -parallel null
grep -a 'KTEST' "$log" | tr -d '\r'
failed=0
if ! grep -aq 'KTEST DONE' "$log"; then
  echo "kernel test: the guest did not finish; console log in $log" >&2
  failed=1
fi

# The simulated emulator behind 0x378 (qemu's port in its "hardware" mode, through the
# library), nothing behind 0x278, and at 0x300 the port the guest writes its marks to.
device=$work/device
rm -rf "$device"
mkdir -p "$device"
device_log=$work/console-device.log
LD_PRELOAD=$work/tarvex/sim/qemu/libparport_sim.so TARVEX_KTEST_DEVICE=$device/port \
  TARVEX_KTEST_MARKS=$device/marks TARVEX_KTEST_OUT=$device \
  boot "$device_log" ktest=device -parallel none \
  -chardev parallel,id=emulator,path="$device/port" \
  -device isa-parallel,chardev=emulator,iobase=0x378,irq=7 \
  -chardev null,id=bare -device isa-parallel,chardev=bare,iobase=0x278,irq=5 \
  -chardev parallel,id=marks,path="$device/marks" \
  -device isa-parallel,chardev=marks,iobase=0x300,irq=3
# (The first line may follow the firmware's terminal codes.)
tr -d '\r' <"$device_log" | sed -n 's/^.*\(KTEST .*\)/\1/p' | grep -av '^KTEST TRACE' \
  >"$device/ktest.txt" || true
cat "$device/ktest.txt"
"$source_dir/tests/kernel/check_device.sh" "$device" "$root/images" "$device_log" || failed=1
if ! grep -aq 'KTEST DONE' "$device_log"; then
  echo "kernel test: the guest with the device did not finish; console log in $device_log" >&2
  failed=1
fi
if grep -aq 'KTEST FAIL' "$log" "$device_log"; then
  echo "kernel test: failed; console logs in $work" >&2
  failed=1
fi
[ $failed -eq 0 ] || exit 1
echo "kernel test: passed"
