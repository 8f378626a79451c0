#!/usr/bin/env python3
"""Draws the product icon (a picture frame with a sun over green hills) as a
Windows .ico of 16 colours: 32x32 and 16x16 images for screens of 100 %, and
48x48 for 150 % (and, scaled down, for the small icon there). Windows scales
the nearest image for other sizes; every image costs both programs its bytes.
Run: python3 tools/make-icon.py products/pelmora/pelmora.ico"""
import struct
import sys

# The standard 16-colour VGA palette, as (blue, green, red, 0).
PALETTE = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
           (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
           (255, 0, 255), (0, 255, 255), (255, 255, 255)]  # given as (r, g, b)
BLACK, DARK_BLUE, GREEN, YELLOW, WHITE, LIGHT_BLUE, SKY = 0, 4, 2, 11, 15, 12, 14


def pixel(x, y, size):
    """Colour index at (x, y), top-left origin, for an image of size x size."""
    u, v = x * 32 // size, y * 32 // size
    if u in (0, 31) or v in (0, 31):
        return BLACK
    if u in (1, 2, 29, 30) or v in (1, 2, 29, 30):
        return DARK_BLUE
    if (u - 21) ** 2 + (v - 10) ** 2 <= 16:
        return YELLOW
    hill = 20 + abs(u - 12) // 3 if u < 20 else 22 - (u - 20) // 4
    if v >= hill:
        return GREEN
    return SKY if v < 12 else LIGHT_BLUE


def image(size):
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    xor_rows = []
    for y in reversed(range(size)):
        row = bytearray()
        for x in range(0, size, 2):
            row.append(pixel(x, y, size) << 4 | pixel(x + 1, y, size))
        row += b"\0" * (-len(row) % 4)
        xor_rows.append(bytes(row))
    and_row = b"\0" * ((size // 8 + 3) // 4 * 4)
    return header + palette + b"".join(xor_rows) + and_row * size


def main(path):
    sizes = (32, 16, 48)
    images = [image(size) for size in sizes]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    with open(path, "wb") as f:
        f.write(out + b"".join(images))


if __name__ == "__main__":
    main(sys.argv[1])
