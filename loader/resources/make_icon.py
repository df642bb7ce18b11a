#!/usr/bin/env python3
"""Draws kickoff's program icon (a green arrow leaving a box) and writes it
as kickoff.ico with a 32x32 and a 16x16 image, 32 bits per pixel."""
import struct
import sys


def draw(size):
    """Returns rows of (b, g, r, a) pixels, top row first."""
    transparent = (0, 0, 0, 0)
    frame = (96, 64, 32, 255)
    fill = (224, 208, 176, 255)
    arrow = (40, 160, 40, 255)
    pixels = [[transparent] * size for _ in range(size)]
    box = size // 8
    for y in range(box * 3, size - box):
        for x in range(box, size - box * 3):
            edge = y in (box * 3, size - box - 1) or x in (box, size - box * 3 - 1)
            pixels[y][x] = frame if edge else fill
    # An arrow pointing up and to the right, out of the box.
    thickness = max(1, size // 12)
    for i in range(size // 2, size - 1):
        y = size - 1 - i
        x = i
        for t in range(thickness):
            if 0 <= y + t < size:
                pixels[y + t][x] = arrow
    head = size // 4
    for d in range(head):
        for t in range(thickness):
            pixels[1 + t][size - 2 - d] = arrow
            if 1 + d < size:
                pixels[1 + d][size - 2 - t] = arrow
    return pixels


def image(size):
    pixels = draw(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    xor = b"".join(bytes(p) for row in reversed(pixels) for p in row)
    mask_row = ((size + 31) // 32) * 4
    and_mask = bytearray()
    for row in reversed(pixels):
        bits = bytearray(mask_row)
        for x, p in enumerate(row):
            if p[3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        and_mask += bits
    return header + xor + bytes(and_mask)


def main(path):
    sizes = [32, 16]
    images = [image(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(images)
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "kickoff.ico")
