#!/usr/bin/env python3
"""Writes the product's icon (Add/Remove Programs) to the file named by the only argument: a
health-insurance card, blue with a gold chip, at 16 and 32 pixels (32-bit colour with alpha)."""
import struct
import sys

BLUE, GOLD, CLEAR = (0x9C, 0x4A, 0x1E, 0xFF), (0x3C, 0xB4, 0xE8, 0xFF), (0, 0, 0, 0)  # B, G, R, A


def pixel(x, y, size):
    """The colour at (x, y), y counted from the top."""
    unit = size / 16
    card = unit <= x < size - unit and 3 * unit <= y < size - 3 * unit
    chip = 3 * unit <= x < 7 * unit and 6 * unit <= y < 10 * unit
    return GOLD if chip else BLUE if card else CLEAR


def image(size):
    """One icon image: a bottom-up bitmap header, the pixels and an all-clear AND mask."""
    rows = [b"".join(bytes(pixel(x, y, size)) for x in range(size)) for y in reversed(range(size))]
    mask = b"\0" * (((size + 31) // 32) * 4 * size)
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0, 0, 0, 0, 0, 0)
    return header + b"".join(rows) + mask


def main():
    images = [image(size) for size in (16, 32)]
    offset = 6 + 16 * len(images)
    out = struct.pack("<HHH", 0, 1, len(images))
    for size, data in zip((16, 32), images):
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(sys.argv[1], "wb") as file:
        file.write(out + b"".join(images))


if __name__ == "__main__":
    main()
