#!/usr/bin/env bash
# The Debian package as a user gets it: lintian has no error or warning for it, it unpacks
# into a scratch root, and its programs, man pages, user guide, desktop entry and completion
# work from there. Run after scripts/package.sh.
set -uo pipefail
cd "$(dirname "$0")/../.."

fail=0
pass() { echo "PASS: $1"; }
failed() {
  echo "FAIL: $1" >&2
  fail=1
}
check() { # check NAME COMMAND...: passes when the command succeeds
  local name=$1
  shift
  if "$@"; then pass "$name"; else failed "$name"; fi
}

shopt -s nullglob
debs=(build/package/tarvex_*.deb)
tarballs=(build/package/tarvex-*.tar.gz)
if [ ${#debs[@]} -ne 1 ] || [ ${#tarballs[@]} -ne 1 ]; then
  echo "FAIL: expected one .deb and one .tar.gz in build/package (run scripts/package.sh)" >&2
  exit 1
fi
deb=${debs[0]}
version=$(sed -n 's/^project(TarvexLoader VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
root=$scratch/root
dpkg -x "$deb" "$root" || failed "dpkg -x $deb"
bin=$root/usr/bin

# lintian refuses to be quiet about running as root; the tags are what count.
if lintian --fail-on error,warning --display-info "$deb" 2>&1 |
  grep -v 'running with root privileges' >"$scratch/lintian"; then
  pass "lintian: no error or warning"
else
  failed "lintian"
fi
cat "$scratch/lintian"

check "package version is the project's ($version)" \
  test "$(dpkg-deb -f "$deb" Version)" = "$version"
depends=$(dpkg-deb -f "$deb" Depends)
check "dependencies computed from the binaries: $depends" \
  grep -q 'libqt6widgets6.*libstdc++6\|libstdc++6.*libqt6widgets6' <<<"$depends"

# The three places the version shows agree.
check "tarvex --version" test "$("$bin/tarvex" --version)" = "tarvex $version"
check "Tarvex32 --version" test "$("$bin/Tarvex32" --version)" = "Tarvex32 $version"
check "the window title carries the version" \
  grep -qaF "  Tarvex II Loader               V$version" "$bin/Tarvex32"
check "tarvex --help" grep -q '^Usage: tarvex' <("$bin/tarvex" --help)

# convert both ways, and a write/read round trip on the simulator.
work=$scratch/work
mkdir "$work"
head -c 8192 /dev/urandom >"$work/image.bin"
head -c 8192 /dev/urandom >"$work/other.bin"
check "convert bin to Intel HEX" \
  "$bin/tarvex" --quiet convert "$work/image.bin" "$work/image.hex" --type 2764 --to xhex
check "convert Intel HEX to bin" \
  "$bin/tarvex" --quiet convert "$work/image.hex" "$work/again.bin" --type 2764 --from xhex --to bin
check "the converted image is the original" cmp -s "$work/image.bin" "$work/again.bin"

export TARVEX_IO=sim TARVEX_SIM_STATE=$work/sim.state
check "write on the simulator" "$bin/tarvex" --quiet write "$work/image.bin" --type 2764 --reset-ms 0
check "read it back" "$bin/tarvex" --quiet read "$work/back.bin" --type 2764
check "what was read is what was written" cmp -s "$work/image.bin" "$work/back.bin"
"$bin/tarvex" --quiet verify "$work/other.bin" --type 2764 2>/dev/null
check "verify of another image exits 1" test $? -eq 1
unset TARVEX_IO TARVEX_SIM_STATE

# Both man pages render without a warning.
for page in "$root"/usr/share/man/man1/tarvex.1.gz "$root"/usr/share/man/man1/Tarvex32.1.gz; do
  LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" >"$scratch/page" 2>"$scratch/warnings"
  check "man -l ${page##*/} renders" test -s "$scratch/page"
  check "man -l ${page##*/} without warnings" test ! -s "$scratch/warnings"
  cat "$scratch/warnings" >&2
done

desktop=$root/usr/share/applications/tarvex.desktop
check "desktop-file-validate" desktop-file-validate "$desktop"
check "the desktop entry starts Tarvex32" grep -qx 'Exec=Tarvex32 %f' "$desktop"
for size in 16 22 24 32 48 64 128 256; do
  png=$root/usr/share/icons/hicolor/${size}x$size/apps/tarvex.png
  check "icon ${size}x$size" grep -q "PNG image data, $size x $size" <(file "$png")
done
check "scalable icon" test -s "$root/usr/share/icons/hicolor/scalable/apps/tarvex.svg"
check "modules-load.d names parport_pc and ppdev" \
  test "$(grep -v '^#' "$root/usr/lib/modules-load.d/tarvex.conf")" = $'parport_pc\nppdev'

# The user guide: the README as in the clone, and every image it shows, at the place its link
# names.
doc=$root/usr/share/doc/tarvex
check "user guide /usr/share/doc/tarvex/README.md is the README" cmp -s README.md "$doc/README.md"
images=$(grep -o '](docs/[^)]*)' README.md | sed 's/^](//; s/)$//')
check "the README shows screenshots" test -n "$images"
for image in $images; do
  check "user guide image $image" cmp -s "$image" "$doc/$image"
done

check "bash completion registers for tarvex" bash -c \
  "source '$root/usr/share/bash-completion/completions/tarvex' && complete -p tarvex >/dev/null"

# The tarball unpacks anywhere and runs from there.
mkdir "$scratch/tree"
tar -xzf "${tarballs[0]}" -C "$scratch/tree" --strip-components=1
check "tarball: bin/tarvex --version" test "$("$scratch/tree/bin/tarvex" --version)" = "tarvex $version"

if [ $fail -ne 0 ]; then
  echo "install test: FAILED" >&2
  exit 1
fi
echo "install test: passed"
