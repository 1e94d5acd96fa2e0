#!/usr/bin/env python3
"""Draws the application icon from one description of its shapes: the
scalable SVG and the PNGs of every size, which are committed (data/icons/),
so that building needs no image tools.

The icon: a blue rounded square (lighter at the top) with a white lower-case
"q" (a ring and a stem). Coloured and mid-toned, it stands out on light and
on dark panels, launchers and trays alike; the Linux tray shows it too.

    python3 scripts/make-icons.py            # rewrites data/icons/
"""
import os
import struct
import zlib

CANVAS = 256
SQUARE = (16, 16, 240, 240)   # left, top, right, bottom
CORNER = 48
TOP, BOTTOM = (0x3B, 0x82, 0xF6), (0x1D, 0x4E, 0xD8)
BOWL = (112, 124, 58, 31)     # centre x, y, outer and inner radius
STEM = (142, 66, 170, 208)    # left, top, right, bottom
SIZES = (16, 22, 24, 32, 48, 64, 128, 256)


def svg():
    left, top, right, bottom = SQUARE
    x, y, outer, inner = BOWL
    sl, st, sr, sb = STEM
    hexa = lambda colour: "#%02X%02X%02X" % colour
    return f'''<?xml version="1.0" encoding="UTF-8"?>
<!-- Quillory Helper's application icon; drawn by scripts/make-icons.py. -->
<svg xmlns="http://www.w3.org/2000/svg" width="{CANVAS}" height="{CANVAS}" viewBox="0 0 {CANVAS} {CANVAS}">
  <defs>
    <linearGradient id="fill" x1="0" y1="0" x2="0" y2="1">
      <stop offset="0" stop-color="{hexa(TOP)}"/>
      <stop offset="1" stop-color="{hexa(BOTTOM)}"/>
    </linearGradient>
  </defs>
  <rect x="{left}" y="{top}" width="{right - left}" height="{bottom - top}" rx="{CORNER}" fill="url(#fill)"/>
  <path fill="#FFFFFF" fill-rule="evenodd"
        d="M{x - outer},{y} a{outer},{outer} 0 1 0 {2 * outer},0 a{outer},{outer} 0 1 0 {-2 * outer},0 Z
           M{x - inner},{y} a{inner},{inner} 0 1 1 {2 * inner},0 a{inner},{inner} 0 1 1 {-2 * inner},0 Z"/>
  <rect x="{sl}" y="{st}" width="{sr - sl}" height="{sb - st}" fill="#FFFFFF"/>
</svg>
'''


def coverage(px, py):
    """(in the square, in the glyph) for a point of the canvas."""
    left, top, right, bottom = SQUARE
    cx = min(max(px, left + CORNER), right - CORNER)
    cy = min(max(py, top + CORNER), bottom - CORNER)
    in_square = left <= px <= right and top <= py <= bottom and (px - cx) ** 2 + (py - cy) ** 2 <= CORNER ** 2
    x, y, outer, inner = BOWL
    distance = (px - x) ** 2 + (py - y) ** 2
    sl, st, sr, sb = STEM
    in_glyph = inner ** 2 <= distance <= outer ** 2 or (sl <= px <= sr and st <= py <= sb)
    return in_square, in_glyph


def png(size):
    samples = 4 if size < 128 else 2
    scale = CANVAS / size
    rows = []
    for row in range(size):
        pixels = bytearray()
        for column in range(size):
            square = glyph = 0
            for sy in range(samples):
                for sx in range(samples):
                    inside, white = coverage((column + (sx + 0.5) / samples) * scale,
                                             (row + (sy + 0.5) / samples) * scale)
                    square += inside
                    glyph += inside and white
            n = samples * samples
            t = (row + 0.5) / size
            blue = [round(a + (b - a) * t) for a, b in zip(TOP, BOTTOM)]
            alpha = square / n
            mix = glyph / square if square else 0
            colour = [round(c + (255 - c) * mix) for c in blue]
            pixels += bytes(colour) + bytes([round(alpha * 255)])
        rows.append(b"\0" + bytes(pixels))
    chunk = lambda kind, data: (struct.pack(">I", len(data)) + kind + data +
                                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(b"".join(rows), 9)) + chunk(b"IEND", b""))


def main():
    folder = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data", "icons")
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "quillory-helper.svg"), "w") as out:
        out.write(svg())
    for size in SIZES:
        with open(os.path.join(folder, f"quillory-helper-{size}.png"), "wb") as out:
            out.write(png(size))


if __name__ == "__main__":
    main()
