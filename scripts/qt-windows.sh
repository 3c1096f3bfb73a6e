#!/usr/bin/env bash
# Builds a static Qt for 64-bit Windows (mingw-w64) from Debian's own qt6-base source, the same
# version as the host Qt, whose moc, rcc and uic it uses. Core, Gui, Widgets and the windows
# platform plugin only. Installs into a cache outside the clone and does nothing when that cache
# already holds a finished build of this version.
# Usage: scripts/qt-windows.sh         (prints the install folder on its last line)
# Environment: TARVEX_QT_WINDOWS (install folder), XDG_CACHE_HOME, TARVEX_QT_JOBS.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"

step() { echo "qt-windows: $*" >&2; }
fail() {
    echo "qt-windows: failed while $*" >&2
    exit 1
}

version=$(dpkg-query -W -f='${Version}' qt6-base-dev 2>/dev/null) || fail "looking for qt6-base-dev"
upstream=${version%%+*}
prefix=${TARVEX_QT_WINDOWS:-${XDG_CACHE_HOME:-$HOME/.cache}/tarvex/qt-windows-$upstream}
stamp="$prefix/.tarvex-built-$version"
if [ -f "$stamp" ] && [ -f "$prefix/licenses/LGPL-3.0-only.txt" ]; then
    echo "$prefix"
    exit 0
fi
work="$prefix.work"
mkdir -p "$work"

# apt-get source needs deb-src entries. Derive them from the machine's own deb entries, in a
# file of our own, so that the same archive (and snapshot) serves the source.
if ! apt-get source --print-uris "qt6-base=$version" >/dev/null 2>&1; then
    step "adding deb-src entries beside the machine's deb entries"
    [ "$(id -u)" -eq 0 ] || fail "adding deb-src entries (run as root once)"
    list=/etc/apt/sources.list.d/tarvex-deb-src.sources
    : >"$list.new"
    for file in /etc/apt/sources.list.d/*.sources; do
        [ "$file" = "$list" ] || [ ! -f "$file" ] && continue
        # deb822 stanzas: the same stanza with Types: deb-src.
        awk 'BEGIN { RS = ""; ORS = "\n\n" } /(^|\n)Types:[^\n]*deb/ {
                 sub(/(^|\n)Types:[^\n]*/, "\nTypes: deb-src"); sub(/^\n/, ""); print }' \
            "$file" >>"$list.new"
    done
    for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$file" ] || continue
        sed -n 's/^[[:space:]]*deb[[:space:]]/deb-src /p' "$file" >>"${list%.sources}.list.new"
    done
    mv "$list.new" "$list"
    [ -f "${list%.sources}.list.new" ] && mv "${list%.sources}.list.new" "${list%.sources}.list"
    apt-get update -qq || fail "apt-get update with the deb-src entries"
fi

source_dir="$work/qt6-base-$upstream"
if [ ! -f "$source_dir/.tarvex-patched" ]; then
    step "fetching Debian's qt6-base $version source"
    rm -rf "$work/src" && mkdir -p "$work/src"
    (cd "$work/src" && apt-get source -qq --download-only "qt6-base=$version" >&2) ||
        fail "fetching the qt6-base source"
    (cd "$work/src" && dpkg-source --no-check -x ./*.dsc "$source_dir" >/dev/null) ||
        fail "unpacking the qt6-base source"
    got=$(dpkg-parsechangelog -l "$source_dir/debian/changelog" -S Version)
    [ "$got" = "$version" ] || fail "checking the source's version ($got, host Qt $version)"
    # With OpenGL off, the windows platform plugin still reaches for dynamic GL.
    patch -d "$source_dir" -p1 <"$here/scripts/qt-windows-no-opengl.patch" >&2 ||
        fail "applying qt-windows-no-opengl.patch"
    touch "$source_dir/.tarvex-patched"
fi

build_dir="$work/build"
if [ ! -f "$build_dir/build.ninja" ]; then
    step "configuring (static, win32-g++, host tools from /usr)"
    rm -rf "$build_dir"
    # Debian's source leaves out wintab (its licence forbids changes): no tablet events.
    off=(sql network dbus opengl vulkan printsupport testlib concurrent xml icu zstd
        glib fontconfig harfbuzz_system system_zlib system_pcre2 system_png system_jpeg
        system_freetype system_doubleconversion sql_sqlite tabletevent)
    flags=()
    for feature in "${off[@]}"; do flags+=("-DFEATURE_$feature=OFF"); done
    cmake -G Ninja -S "$source_dir" -B "$build_dir" \
        -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-w64-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF \
        -DCMAKE_INSTALL_PREFIX="$prefix" \
        -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
        -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
        -DINPUT_opengl=no -DFEATURE_freetype=ON -DFEATURE_harfbuzz=ON -DFEATURE_png=ON \
        -DFEATURE_jpeg=ON "${flags[@]}" >"$work/configure.log" 2>&1 ||
        {
            tail -30 "$work/configure.log" >&2
            fail "configuring Qt (log: $work/configure.log)"
        }
fi

step "building (about 1,000 steps; 20 to 30 minutes on an idle 2-core machine)"
jobs=${TARVEX_QT_JOBS:-$(nproc)}
# One progress line every 50 steps, and ninja's failure lines.
if ! ninja -C "$build_dir" -j "$jobs" 2>&1 | tee "$work/build.log" | awk '
    /^\[[0-9]+\/[0-9]+\]/ { gsub(/[][]/, "", $1); split($1, n, "/")
        if (n[1] % 50 == 0 || n[1] == n[2]) { printf "qt-windows: step %s of %s\n", n[1], n[2]; fflush() }
        next }
    /^FAILED:|: error:/ { print; fflush() }' >&2; then
    fail "building Qt (log: $work/build.log)"
fi
step "installing into $prefix"
cmake --install "$build_dir" >"$work/install.log" 2>&1 || fail "installing Qt"
# What a program that links this Qt in must ship: its licences, and which file has which.
mkdir -p "$prefix/licenses"
cp "$source_dir"/LICENSES/*.txt "$prefix/licenses/" &&
    cp "$source_dir/debian/copyright" "$prefix/licenses/qt6-base-copyright.txt" ||
    fail "copying Qt's licence texts"
touch "$stamp"
echo "$prefix"
