#!/usr/bin/env python3
"""Lists the entries of a macOS icon file (type, length, picture format and
size) and checks that it holds the PNG entries Finder, the Dock and Login
Items draw a sharp icon from on every display: ic07 to ic14, from 128 to
1024 pixels with the @2x sizes, each a PNG of its type's size. Exits 1 when
one is missing, not a PNG, of another size, or the file is malformed.
Usage: scripts/list-icns.py [file.icns]   (default: cmake/QuilloryHelper.icns)"""

import struct
import sys
from pathlib import Path

PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"
# The PNG (or JPEG 2000) types and the width and height each must have.
REQUIRED = {"ic07": 128, "ic08": 256, "ic09": 512, "ic10": 1024, "ic11": 32, "ic12": 64, "ic13": 256, "ic14": 512}


def entries(data):
    """(type, payload) for every entry; ValueError when the file is malformed."""
    if len(data) < 8 or data[:4] != b"icns" or struct.unpack(">I", data[4:8])[0] != len(data):
        raise ValueError("not an icns file, or its length field is wrong")
    offset = 8
    while offset < len(data):
        if offset + 8 > len(data):
            raise ValueError(f"a truncated entry header at byte {offset}")
        kind, length = data[offset:offset + 4], struct.unpack(">I", data[offset + 4:offset + 8])[0]
        if length < 8 or offset + length > len(data):
            raise ValueError(f"entry {kind!r} at byte {offset} has a bad length {length}")
        yield kind.decode("latin-1"), data[offset + 8:offset + length]
        offset += length


def describe(payload):
    """("PNG", width, height), ("JPEG 2000", None, None) or ("other", None, None)."""
    if payload.startswith(PNG_SIGNATURE) and payload[12:16] == b"IHDR":
        width, height = struct.unpack(">II", payload[16:24])
        return "PNG", width, height
    if payload[4:8] == b"jP  " or payload.startswith(b"\xff\x4f\xff\x51"):
        return "JPEG 2000", None, None
    return "other", None, None


def main(argv):
    path = Path(argv[1]) if len(argv) > 1 else Path(__file__).resolve().parent.parent / "cmake/QuilloryHelper.icns"
    problems = []
    found = {}
    try:
        for kind, payload in entries(path.read_bytes()):
            form, width, height = describe(payload)
            size = f"{width}x{height}" if width else ""
            print(f"{kind}  {len(payload):8d} bytes  {form:9} {size}")
            found[kind] = (form, width, height)
    except (OSError, ValueError) as error:
        problems.append(str(error))
    for kind, side in REQUIRED.items():
        if kind not in found:
            problems.append(f"{kind}: missing")
        elif found[kind] != ("PNG", side, side):
            problems.append(f"{kind}: should be a {side}x{side} PNG")
    for problem in problems:
        print(f"{path}: {problem}", file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
