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
cmake -S "$source_dir" -B "$work/tarvex" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DTARVEX_GUI=OFF -DTARVEX_TESTS=OFF -DCMAKE_EXE_LINKER_FLAGS=-static >/dev/null
cmake --build "$work/tarvex" --target tarvex -j "$(nproc)" >/dev/null

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
chmod +x "$root/init"
(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) >"$work/initramfs.gz"

# Two ISA parallel ports: qemu places the first at 0x378 and the second at 0x278.
log=$work/console.log
timeout 600 qemu-system-x86_64 -accel tcg -m 256 -nographic -no-reboot \
  -kernel "$kernel_root/boot/vmlinuz-$version" -initrd "$work/initramfs.gz" \
  -append "console=ttyS0 panic=-1 quiet" \
  -parallel null -parallel null -monitor none -serial stdio </dev/null >"$log" 2>&1 || true

grep -a 'KTEST' "$log" | tr -d '\r'
if ! grep -aq 'KTEST DONE' "$log"; then
  echo "kernel test: the guest did not finish; console log in $log" >&2
  exit 1
fi
if grep -aq 'KTEST FAIL' "$log"; then
  echo "kernel test: failed; console log in $log" >&2
  exit 1
fi
echo "kernel test: passed"
