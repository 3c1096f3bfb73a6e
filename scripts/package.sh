#!/usr/bin/env bash
# Builds the Debian package and the tarball into build/package/:
# tarvex_VERSION_ARCH.deb and tarvex-VERSION-ARCH.tar.gz.
# With "win64": tarvex-VERSION-win64.zip from the windows-cross build, into build/windows-cross/
# packaging/windows/ (Qt for Windows first: scripts/qt-windows.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${1:-}" = win64 ]; then
    cmake --preset windows-cross >/dev/null
    grep -q '^TARVEX_QT_WINDOWS_PREFIX:INTERNAL=.' build/windows-cross/CMakeCache.txt ||
        { echo "package: no Qt for Windows found; scripts/qt-windows.sh builds it" >&2; exit 1; }
    cmake --build --preset windows-cross -j "$(nproc)" --target win64_zip
    zip=$(ls build/windows-cross/packaging/windows/tarvex-*-win64.zip)
    # What a user unpacks: both programs, the README, Qt's LGPL and this program's source.
    listing=$(python3 -m zipfile -l "$zip")
    for member in Tarvex32.exe tarvex.exe README.txt licenses/LGPL-3.0-only.txt \
        licenses/qt6-base-copyright.txt source/tarvex-; do
        grep -q -- "-win64/$member" <<<"$listing" ||
            { echo "package: $zip lacks $member" >&2; exit 1; }
    done
    ls -l "$zip"
    exit 0
fi
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
