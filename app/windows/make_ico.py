#!/usr/bin/env python3
"""Packs PNG images into one Windows .ico (each entry a PNG, as Windows Vista and later read).

Usage: make_ico.py OUT.ico SIZE.png...  (square images; a 256-pixel one is stored as size 0)
"""
import struct
import sys


def main(out, pngs):
    images = []
    for name in pngs:
        with open(name, "rb") as file:
            data = file.read()
        if data[:8] != b"\x89PNG\r\n\x1a\n":
            sys.exit(f"make_ico.py: {name} is not a PNG file")
        width, height = struct.unpack(">II", data[16:24])
        if width != height or width > 256:
            sys.exit(f"make_ico.py: {name} is {width}x{height}, not square up to 256")
        images.append((width, data))
    header = struct.pack("<HHH", 0, 1, len(images))
    offset = len(header) + 16 * len(images)
    entries, bodies = b"", b""
    for size, data in images:
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data),
                               offset + len(bodies))
        bodies += data
    with open(out, "wb") as file:
        file.write(header + entries + bodies)


if __name__ == "__main__":
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    main(sys.argv[1], sys.argv[2:])
