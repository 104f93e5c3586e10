#!/usr/bin/env python3
"""Draws Quellan's main icon: a 32 x 32, 16-colour icon of a page of hex
rows under a magnifying glass. Writes resources/quellan.ico.

    python3 tools/icon/make_icon.py
"""
import struct
from pathlib import Path

# The standard 16-colour palette, as (blue, green, red, reserved).
PALETTE = [
    (0, 0, 0), (0, 0, 128), (0, 128, 0), (0, 128, 128), (128, 0, 0), (128, 0, 128),
    (128, 128, 0), (192, 192, 192), (128, 128, 128), (0, 0, 255), (0, 255, 0),
    (0, 255, 255), (255, 0, 0), (255, 0, 255), (255, 255, 0), (255, 255, 255),
]  # entries are (red, green, blue)
BLACK, TEAL, GREY, SILVER, BLUE, YELLOW, WHITE, RED = 0, 3, 8, 7, 9, 14, 15, 12
SIZE = 32


def draw():
    pixels = [[None] * SIZE for _ in range(SIZE)]  # None: transparent

    def put(x, y, colour):
        if 0 <= x < SIZE and 0 <= y < SIZE:
            pixels[y][x] = colour

    # The page, with a folded corner.
    for y in range(2, 30):
        for x in range(4, 24):
            if x - 4 + (30 - y) < 0:
                continue
            if x >= 18 and y <= 2 + (x - 18):
                continue
            put(x, y, WHITE)
    for y in range(2, 30):
        put(4, y, BLACK)
        put(23, y, BLACK if y >= 8 else None)
    for x in range(4, 18):
        put(x, 2, BLACK)
        put(x, 29, BLACK)
    for x in range(18, 24):
        put(x, 29, BLACK)
    for i in range(6):
        put(18 + i, 2 + i, BLACK)
        put(18, 2 + i, BLACK)
        put(18 + i, 8, BLACK)
    # Rows of hex digits: pairs of short dashes.
    for row, y in enumerate(range(11, 28, 3)):
        for col in range(3):
            x0 = 7 + col * 5
            for x in range(x0, x0 + 3):
                put(x, y, BLUE if row % 2 == 0 else TEAL)
    # The magnifying glass over the lower right.
    cx, cy, r = 20, 19, 6
    for y in range(SIZE):
        for x in range(SIZE):
            d2 = (x - cx) ** 2 + (y - cy) ** 2
            if (r - 1) ** 2 <= d2 <= r ** 2 + 2:
                put(x, y, BLACK)
            elif d2 < (r - 1) ** 2:
                put(x, y, YELLOW if (x + y) % 7 else WHITE)
    for i in range(7):
        for w in range(3):
            put(cx + 4 + i + w - 1, cy + 4 + i, RED if w == 1 else BLACK)
    return pixels


def icon_bytes(pixels):
    xor_rows, and_rows = [], []
    for y in reversed(range(SIZE)):  # bitmaps are stored bottom-up
        row = bytearray()
        for x in range(0, SIZE, 2):
            a = pixels[y][x] or 0
            b = pixels[y][x + 1] or 0
            row.append((a << 4) | b)
        xor_rows.append(bytes(row))
        mask = 0
        for x in range(SIZE):
            if pixels[y][x] is None:
                mask |= 1 << (31 - x)
        and_rows.append(struct.pack('>I', mask))
    palette = b''.join(struct.pack('BBBB', b, g, r, 0) for (r, g, b) in PALETTE)
    header = struct.pack('<IiiHHIIiiII', 40, SIZE, SIZE * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    image = header + palette + b''.join(xor_rows) + b''.join(and_rows)
    directory = struct.pack('<HHH', 0, 1, 1)
    entry = struct.pack('<BBBBHHII', SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


if __name__ == '__main__':
    out = Path(__file__).resolve().parents[2] / 'resources' / 'quellan.ico'
    out.write_bytes(icon_bytes(draw()))
    print(f'wrote {out}')
