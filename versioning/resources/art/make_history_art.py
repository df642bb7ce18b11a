#!/usr/bin/env python3
"""Draws the history page's images: the two check-box icons of the version
list and the toolbar strip (disk, table with a marked row, printer, page of
lines, circled letter). Run it from this folder to write the files again."""

import struct

# The sixteen standard colours; the strip uses a 4-bit colour table so the
# toolbar can map its light grey to the button face colour.
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
INDEX = {'k': 0, 'n': 4, '.': 7, 'g': 8, 'r': 9, 'y': 11, 'B': 12, 'w': 15}

DISK = """
................
.kkkkkkkkkkkkkk.
.kBBwwwwwwwwBBk.
.kBBwwwwwwwwBBk.
.kBBwwwwwwwwBBk.
.kBBwwwwwwwwBBk.
.kBBBBBBBBBBBBk.
.kBBBBBBBBBBBBk.
.kBBggggggggBBk.
.kBBggggkkggBBk.
.kBBggggkkggBBk.
.kBBggggkkggBBk.
.kBBggggggggBBk.
..kkkkkkkkkkkkk.
................
................
"""

TABLE = """
................
................
.kkkkkkkkkkkkkk.
.knnnnnnnnnnnnk.
.kkkkkkkkkkkkkk.
.kwwkwwwwkwwwwk.
.kkkkkkkkkkkkkk.
.kyykyyyyyyyyyk.
.kkkkkkkkkkkkkk.
.kwwkwwwwkwwwwk.
.kkkkkkkkkkkkkk.
.kwwkwwwwkwwwwk.
.kkkkkkkkkkkkkk.
................
................
................
"""

PRINTER = """
................
....kkkkkkkk....
....kwwwwwwk....
....kwkkkkwk....
....kwwwwwwk....
..kkkkkkkkkkkk..
.kwwwwwwwwwwwwk.
.kggggggggggrgk.
.kggggggggggggk.
.kkkkkkkkkkkkkk.
.kgkwwwwwwwwkgk.
..kkwkkkkkkwkk..
....kwwwwwwk....
....kkkkkkkk....
................
................
"""

PAGE = """
................
...kkkkkkkk.....
...kwwwwwwkk....
...kwkkkkwkwk...
...kwwwwwwkkkk..
...kwkkkkkkwwk..
...kwwwwwwwwwk..
...kwkkkkkkkwk..
...kwwwwwwwwwk..
...kwkkkkkkkwk..
...kwwwwwwwwwk..
...kwkkkkkwwwk..
...kwwwwwwwwwk..
...kkkkkkkkkkk..
................
................
"""

LETTER = """
................
.....nnnnnn.....
...nnBBBBBBnn...
..nBBBBwwBBBBn..
..nBBBBwwBBBBn..
.nBBBBBBBBBBBBn.
.nBBBBwwwBBBBBn.
.nBBBBBwwBBBBBn.
.nBBBBBwwBBBBBn.
.nBBBBBwwBBBBBn.
..nBBBBwwBBBBn..
..nBBBwwwwBBBn..
...nnBBBBBBnn...
.....nnnnnn.....
................
................
"""


def rows(art):
    lines = [line for line in art.strip('\n').split('\n')]
    assert len(lines) == 16 and all(len(line) == 16 for line in lines), art
    return lines


def write_strip(path, images):
    width, height = 16 * len(images), 16
    pictures = [rows(image) for image in images]
    stride = ((width * 4 + 31) // 32) * 4
    pixels = bytearray()
    for y in reversed(range(height)):  # bottom-up
        line = ''.join(picture[y] for picture in pictures)
        row = bytearray()
        for x in range(0, width, 2):
            row.append((INDEX[line[x]] << 4) | INDEX[line[x + 1]])
        row.extend(b'\0' * (stride - len(row)))
        pixels.extend(row)
    table = b''.join(struct.pack('<BBBB', b, g, r, 0) for (r, g, b) in PALETTE)
    header = struct.pack('<IiiHHIIiiII', 40, width, height, 1, 4, 0, len(pixels), 2835, 2835, 16, 0)
    offset = 14 + len(header) + len(table)
    with open(path, 'wb') as out:
        out.write(struct.pack('<2sIHHI', b'BM', offset + len(pixels), 0, 0, offset))
        out.write(header + table + pixels)


def check_box(size, ticked):
    """RGBA rows of a check box: grey frame, white inside, black tick."""
    transparent = None
    image = [[transparent] * size for _ in range(size)]
    scale = size / 16.0
    low, high = int(round(2 * scale)), int(round(13 * scale))
    for y in range(low, high + 1):
        for x in range(low, high + 1):
            edge = x in (low, high) or y in (low, high)
            inner_edge = x in (low + 1, high - 1) or y in (low + 1, high - 1)
            if edge:
                image[y][x] = (96, 96, 96)
            elif inner_edge:
                image[y][x] = (160, 160, 160)
            else:
                image[y][x] = (255, 255, 255)
    if ticked:
        # A tick from the lower left up to the upper right, two pixels thick.
        points = [(4, 7), (5, 8), (6, 9), (7, 8), (8, 7), (9, 6), (10, 5), (11, 4)]
        for (px, py) in points:
            for dy in range(3):
                for sy in range(int(scale) or 1):
                    for sx in range(int(scale) or 1):
                        x = int(px * scale) + sx
                        y = int((py + dy) * scale) + sy
                        if low < x < high and low < y < high:
                            image[y][x] = (0, 0, 0)
    return image


def icon_image(size, ticked):
    image = check_box(size, ticked)
    colour = bytearray()
    for y in reversed(range(size)):
        for x in range(size):
            pixel = image[y][x]
            if pixel is None:
                colour.extend(b'\0\0\0\0')
            else:
                r, g, b = pixel
                colour.extend(bytes((b, g, r, 255)))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for y in reversed(range(size)):
        row = bytearray(mask_stride)
        for x in range(size):
            if image[y][x] is None:
                row[x // 8] |= 0x80 >> (x % 8)
        mask.extend(row)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, len(colour) + len(mask), 0, 0, 0, 0)
    return header + colour + mask


def write_icon(path, ticked):
    sizes = (16, 32)
    images = [icon_image(size, ticked) for size in sizes]
    offset = 6 + 16 * len(images)
    with open(path, 'wb') as out:
        out.write(struct.pack('<HHH', 0, 1, len(images)))
        for size, data in zip(sizes, images):
            out.write(struct.pack('<BBBBHHII', size, size, 0, 0, 1, 32, len(data), offset))
            offset += len(data)
        for data in images:
            out.write(data)


if __name__ == '__main__':
    write_strip('history_toolbar.bmp', [DISK, TABLE, PRINTER, PAGE, LETTER])
    write_icon('check_empty.ico', False)
    write_icon('check_ticked.ico', True)
