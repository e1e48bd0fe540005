#!/usr/bin/env python3
"""Writes morvex_desktop.ico: the icon group of the program, a 16x16 and a
32x32 image of 32 bits per pixel (BGRA with alpha, plus the AND mask that
ICO images carry). Run it again after changing the drawing:

    python3 scripts/make_icon.py bootstrapper/morvex_desktop.ico
"""
import struct
import sys


def pixel(x, y, size):
    """A teal disc with a white arrow pointing right, as (b, g, r, a)."""
    c = (size - 1) / 2.0
    dx, dy = x - c, y - c
    if dx * dx + dy * dy > (size / 2.0) ** 2:
        return (0, 0, 0, 0)
    u, v = dx / size, dy / size  # -0.5 .. 0.5 across the image
    # A triangle from (-0.18, -0.25) and (-0.18, 0.25) to the tip (0.27, 0).
    if u >= -0.18 and abs(v) <= 0.25 * (0.27 - u) / 0.45:
        return (255, 255, 255, 255)
    return (160, 128, 16, 255)


def image(size):
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = []
    mask_rows = []
    for y in reversed(range(size)):  # DIB rows run bottom-up
        row = b"".join(bytes(pixel(x, y, size)) for x in range(size))
        rows.append(row)
        bits = 0
        for x in range(size):
            if pixel(x, y, size)[3] == 0:
                bits |= 1 << (size - 1 - x)
        mask = bits.to_bytes(size // 8, "big")
        mask_rows.append(mask + b"\0" * ((4 - len(mask) % 4) % 4))
    return header + b"".join(rows) + b"".join(mask_rows)


def icon(sizes):
    images = [image(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b"".join(images)


if __name__ == "__main__":
    with open(sys.argv[1] if len(sys.argv) > 1 else "morvex_desktop.ico", "wb") as f:
        f.write(icon([16, 32]))
