#!/usr/bin/env bash
# Builds the Debian package and the tarball into build/package/:
# tarvex_VERSION_ARCH.deb and tarvex-VERSION-ARCH.tar.gz.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh package

# Debian's own compiler and linker flags (stack protector, fortify, relro, bindnow), as a
# package built by dpkg-buildpackage gets them. CMake reads no CPPFLAGS, so they join CXXFLAGS.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CXXFLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
LDFLAGS="$(dpkg-buildflags --get LDFLAGS)"
export CXXFLAGS LDFLAGS

cmake --preset package --fresh
cmake --build --preset package -j "$(nproc)"
rm -f build/package/*.deb build/package/*.tar.gz
(cd build/package && cpack -G "DEB;TGZ")
ls -l build/package/*.deb build/package/*.tar.gz
