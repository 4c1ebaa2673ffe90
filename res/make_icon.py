#!/usr/bin/env python3
"""Writes updater.ico: PATCH.EXE's icon, one 32x32 image at 8 bits per pixel.

Deterministic (same bytes on every run) and free of third-party modules, so
the build can regenerate it. Usage: make_icon.py OUTPUT.ico
"""
import struct
import sys

SIZE = 32
# Palette indices; the rest of the 256 entries stay black.
TRANSPARENT, BLUE, DARK_BLUE, WHITE = 0, 1, 2, 3
PALETTE = {BLUE: (0x2B, 0x6C, 0xC4), DARK_BLUE: (0x1A, 0x3F, 0x7A), WHITE: (0xFF, 0xFF, 0xFF)}


def pixel(x, y):
    """The picture: a blue disc with a white arrow pointing down; y grows downwards."""
    cx = cy = (SIZE - 1) / 2
    d2 = (x - cx) ** 2 + (y - cy) ** 2
    if d2 > 15.5 ** 2:
        return TRANSPARENT
    if d2 > 13.5 ** 2:
        return DARK_BLUE
    shaft = 13 <= x <= 18 and 6 <= y <= 16
    head = 16 <= y <= 24 and abs(x - cx) <= 24 - y
    return WHITE if shaft or head else BLUE


def icon_bytes():
    palette = bytearray(256 * 4)
    for index, (r, g, b) in PALETTE.items():
        palette[index * 4:index * 4 + 4] = bytes((b, g, r, 0))
    rows = [[pixel(x, y) for x in range(SIZE)] for y in range(SIZE)]
    xor = bytearray()
    mask = bytearray()
    for row in reversed(rows):  # bitmaps are stored bottom-up
        xor += bytes(row)
        bits = 0
        for x, value in enumerate(row):
            if value == TRANSPARENT:
                bits |= 1 << (31 - x)
        mask += struct.pack(">I", bits)
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 8, 0,
                         len(xor) + len(mask), 0, 0, 256, 0)
    image = header + bytes(palette) + bytes(xor) + bytes(mask)
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 8, len(image), 6 + 16)
    return directory + entry + image


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_icon.py OUTPUT.ico")
    with open(sys.argv[1], "wb") as out:
        out.write(icon_bytes())


if __name__ == "__main__":
    main()
