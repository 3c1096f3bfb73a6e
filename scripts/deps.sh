#!/usr/bin/env bash
# Installs the Debian 12 packages a task needs (as root), or prints the apt-get line.
# Usage: scripts/deps.sh run|package|test
set -euo pipefail

run_packages=(cmake ninja-build g++ qt6-base-dev libgl-dev libcli11-dev nlohmann-json3-dev)
# The Debian package: dpkg-shlibdeps (dpkg-dev, file) computes its dependencies, rsvg-convert
# draws the icons, lintian, man and desktop-file-validate check the result.
package_packages=("${run_packages[@]}" dpkg-dev file librsvg2-bin lintian man-db groff-base
  desktop-file-utils)
test_packages=("${package_packages[@]}" libgtest-dev libgmock-dev libbenchmark-dev xvfb xauth
  srecord binutils clang libclang-rt-14-dev g++-mingw-w64-x86-64-posix wine64)
# The desktop window tests: a window manager, and the X tools that watch and drive it.
test_packages+=(openbox wmctrl xdotool x11-utils)

case "${1:-}" in
  run) wanted=("${run_packages[@]}") ;;
  package) wanted=("${package_packages[@]}") ;;
  test) wanted=("${test_packages[@]}") ;;
  *) echo "usage: $0 run|package|test" >&2; exit 2 ;;
esac

missing=()
for package in "${wanted[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
  echo "Installing: ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
else
  echo "Missing Debian packages. Install them with:" >&2
  echo "  sudo apt-get install ${missing[*]}" >&2
  exit 1
fi
