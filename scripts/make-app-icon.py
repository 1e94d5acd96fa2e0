#!/usr/bin/env python3
"""Makes the macOS app icon, cmake/QuilloryHelper.icns, from the helper's
artwork (src/platform/qt/resources/quillory-helper.svg: a "q" cut out of a
filled circle, on a 64-unit square): the same shape drawn at 16 to 512
pixels with 4x4 samples a pixel, in the app's ink colour on transparency,
packed with png2icns (Debian's icnsutils). Usage: scripts/make-app-icon.py"""

import struct
import subprocess
import sys
import tempfile
import zlib
from pathlib import Path

INK = (0x1D, 0x35, 0x57)
SAMPLES = 4


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


def main():
    target = Path(__file__).resolve().parent.parent / "cmake/QuilloryHelper.icns"
    with tempfile.TemporaryDirectory() as folder:
        pictures = []
        for size in (16, 32, 48, 128, 256, 512):
            picture = Path(folder) / f"icon_{size}.png"
            picture.write_bytes(png(size))
            pictures.append(str(picture))
        subprocess.run(["png2icns", str(target), *pictures], check=True, stdout=subprocess.DEVNULL)
    print(f"wrote {target}")


if __name__ == "__main__":
    sys.exit(main())
