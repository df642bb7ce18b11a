#!/usr/bin/env python3
"""Draws keepcpl.ico: a page in front of two older pages (a file and its
versions), at 16 and 32 pixels, 32-bit colour with an AND mask.

    python3 make_icon.py keepcpl.ico
"""
import struct
import sys

PAGE = (255, 255, 255)
EDGE = (32, 64, 128)
OLD_PAGE = (176, 200, 232)
LINE = (64, 120, 200)
CORNER = (208, 220, 240)


def draw(size):
    """Rows of (r, g, b, a), top row first."""
    pixels = [[None] * size for _ in range(size)]
    unit = size / 16.0

    def box(x0, y0, x1, y1, fill, edge):
        for y in range(int(y0 * unit), int(y1 * unit)):
            for x in range(int(x0 * unit), int(x1 * unit)):
                on_edge = (x == int(x0 * unit) or x == int(x1 * unit) - 1 or
                           y == int(y0 * unit) or y == int(y1 * unit) - 1)
                pixels[y][x] = edge if on_edge else fill

    # Two older versions behind, each one step up and to the right.
    box(6, 0, 16, 12, OLD_PAGE, EDGE)
    box(4, 2, 14, 14, OLD_PAGE, EDGE)
    # The current page with a folded corner and lines of text.
    box(1, 4, 12, 16, PAGE, EDGE)
    fold = max(2, int(3 * unit))
    left, top, right = int(1 * unit), int(4 * unit), int(12 * unit) - 1
    for dy in range(fold):
        for dx in range(fold - dy):
            pixels[top + dy][right - dx] = None
        pixels[top + dy][right - (fold - dy)] = EDGE
        if dy < fold - 1:
            for dx in range(1, fold - dy):
                pixels[top + fold - 1][right - dx] = CORNER if dy else EDGE
    for i in range(fold):
        pixels[top + fold][right - i] = EDGE
    for row in range(7, 15, 2):
        y = int(row * unit)
        for x in range(left + max(1, int(unit * 1.5)), right - max(1, int(unit))):
            pixels[y][x] = LINE
    return [[(p[0], p[1], p[2], 255) if p else (0, 0, 0, 0) for p in row] for row in pixels]


def bitmap(size):
    rows = draw(size)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colour = b''.join(bytes((b, g, r, a)) for row in reversed(rows) for (r, g, b, a) in row)
    stride = ((size + 31) // 32) * 4
    mask = b''
    for row in reversed(rows):
        bits = bytearray(stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(bits)
    return header + colour + mask


def main(target):
    images = [(size, bitmap(size)) for size in (16, 32)]
    offset = 6 + 16 * len(images)
    out = struct.pack('<HHH', 0, 1, len(images))
    for size, data in images:
        out += struct.pack('<BBBBHHII', size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b''.join(data for _, data in images)
    with open(target, 'wb') as f:
        f.write(out)


if __name__ == '__main__':
    main(sys.argv[1] if len(sys.argv) > 1 else 'keepcpl.ico')
