#!/usr/bin/env python3
"""Makes the macOS app icon, cmake/QuilloryHelper.icns, from the helper's
artwork (src/platform/qt/resources/quillory-helper.svg: a "q" cut out of a
filled circle, on a 64-unit square): the same shape drawn at 16 to 1024
pixels with 4x4 samples a pixel, in the app's ink colour on transparency,
each size a PNG entry of the icon file under the type Finder and the Dock
look for, the Retina (@2x) ones included. scripts/list-icns.py lists and
checks them. Usage: scripts/make-app-icon.py"""

import struct
import sys
import zlib
from pathlib import Path

INK = (0x1D, 0x35, 0x57)
SAMPLES = 4
# Each entry's type and its width in pixels: 16 and 32 points at 1x and 2x,
# then 128, 256 and 512 points at 1x and 2x.
ENTRIES = (("icp4", 16), ("ic11", 32), ("icp5", 32), ("ic12", 64), ("ic07", 128), ("ic13", 256), ("ic08", 256),
           ("ic14", 512), ("ic09", 512), ("ic10", 1024))


def inside(x, y):
    """The artwork's even-odd fill at (x, y) in its 64-unit square."""
    disc = (x - 32) ** 2 + (y - 32) ** 2 <= 30 ** 2
    stem = 35 <= x <= 41 and 17 <= y <= 50
    bowl = (x - 27.42) ** 2 + (y - 30) ** 2 <= 12 ** 2
    counter = (x - 28.5) ** 2 + (y - 30) ** 2 <= 6.5 ** 2
    return disc ^ (stem or bowl) ^ counter


def png(size):
    rows = []
    for row in range(size):
        line = bytearray([0])  # no filter
        for column in range(size):
            hits = sum(inside((column + (i + 0.5) / SAMPLES) * 64 / size, (row + (j + 0.5) / SAMPLES) * 64 / size)
                       for i in range(SAMPLES) for j in range(SAMPLES))
            line += bytes(INK) + bytes([round(255 * hits / SAMPLES ** 2)])
        rows.append(bytes(line))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(b"".join(rows), 9)) + \
        chunk(b"IEND", b"")


def icns(entries):
    """An icon file: the "icns" header with the file's length, then each entry
    as its type, its length (header included) and its data."""
    body = b"".join(kind.encode("ascii") + struct.pack(">I", 8 + len(data)) + data for kind, data in entries)
    return b"icns" + struct.pack(">I", 8 + len(body)) + body


def main():
    target = Path(__file__).resolve().parent.parent / "cmake/QuilloryHelper.icns"
    pictures = {}
    for _, size in ENTRIES:
        if size not in pictures:
            pictures[size] = png(size)
    target.write_bytes(icns([(kind, pictures[size]) for kind, size in ENTRIES]))
    print(f"wrote {target}")


if __name__ == "__main__":
    sys.exit(main())
