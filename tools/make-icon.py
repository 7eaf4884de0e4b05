#!/usr/bin/env python3
"""Writes the applier's icon: one 32 x 32 image in 16 colours (4 bits per pixel).

The picture is drawn here from a few shapes, so the same script always gives
the same bytes:  python3 tools/make-icon.py app/patch_icon.ico
"""
import struct
import sys

SIZE = 32
# The 16 colours of the classic system palette, as (blue, green, red).
PALETTE = [
    (0, 0, 0), (0, 0, 128), (0, 128, 0), (0, 128, 128),
    (128, 0, 0), (128, 0, 128), (128, 128, 0), (192, 192, 192),
    (128, 128, 128), (0, 0, 255), (0, 255, 0), (0, 255, 255),
    (255, 0, 0), (255, 0, 255), (255, 255, 0), (255, 255, 255),
]
BLACK, DARK_GREY, LIGHT_GREY, WHITE = 0, 8, 7, 15
YELLOW, DARK_YELLOW = 11, 3


def draw():
    """Pixels by row, top row first; None is transparent."""
    pixels = [[None] * SIZE for _ in range(SIZE)]

    def put(x, y, colour):
        if 0 <= x < SIZE and 0 <= y < SIZE:
            pixels[y][x] = colour

    def fill(x0, y0, x1, y1, colour):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                put(x, y, colour)

    # A page with a folded top right corner and lines of text.
    fold = 6
    fill(4, 1, 23, 30, BLACK)
    fill(5, 2, 22, 29, WHITE)
    for i in range(fold):
        fill(23 - fold + 1 + i, 1, 23, 1 + i, None)
        put(23 - fold + i, 1 + i, BLACK)
    fill(23 - fold, 2, 23 - fold, fold + 1, BLACK)
    fill(23 - fold, fold + 1, 23, fold + 1, BLACK)
    for y in (6, 10, 14, 18, 22):
        fill(8, y, 15 if y == 6 else 19, y, DARK_GREY)
    # A sticking plaster laid diagonally across the page: the patch.
    for i in range(-2, 24):
        x, y = 6 + i, 28 - i
        for d in (-2, 2):
            put(x + d, y, DARK_YELLOW)
        for d in (-1, 0, 1):
            put(x + d, y, YELLOW)
    for i in range(8, 14):
        x, y = 6 + i, 28 - i
        for d in (-1, 0, 1):
            put(x + d, y, LIGHT_GREY if (i + d) % 2 else WHITE)
    return pixels


def encode(pixels):
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for b, g, r in PALETTE)
    colour_rows = []
    mask_rows = []
    for y in reversed(range(SIZE)):  # bitmaps are stored bottom row first
        row = pixels[y]
        colour = bytearray()
        for x in range(0, SIZE, 2):
            hi = row[x] or 0
            lo = row[x + 1] or 0
            colour.append((hi << 4) | lo)
        mask = 0
        for x in range(SIZE):
            mask = (mask << 1) | (1 if row[x] is None else 0)
        colour_rows.append(bytes(colour))
        mask_rows.append(struct.pack(">I", mask))
    image_bits = b"".join(colour_rows) + b"".join(mask_rows)
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 4, 0, len(image_bits), 0, 0, 16, 0)
    image = header + palette + image_bits
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make-icon.py OUTPUT.ico")
    with open(sys.argv[1], "wb") as out:
        out.write(encode(draw()))


if __name__ == "__main__":
    main()
