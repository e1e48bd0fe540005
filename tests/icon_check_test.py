#!/usr/bin/env python3
"""Cases for scripts/check_icon.py, the check of MORVEX_ICON: icons made here
image by image (bitmap or PNG, any size and depth), each run through the
checker as the build runs it.

    icon_check_test.py CHECKER SHIPPED_ICON
"""
import os
import struct
import subprocess
import sys
import tempfile
import unittest
import zlib

CHECKER = None
SHIPPED_ICON = None


def bitmap(size, bits):
    """A bitmap icon image: BITMAPINFOHEADER, pixels, AND mask."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bits, 0, 0, 0, 0, 0, 0)
    palette = b"\0" * 4 * (1 << bits) if bits <= 8 else b""
    row = (size * bits + 31) // 32 * 4
    mask_row = (size + 31) // 32 * 4
    return header + palette + b"\x80" * row * size + b"\0" * mask_row * size


def png(size, depth=8, colour=6):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    channels = {0: 1, 2: 3, 6: 4}[colour]
    raw = b"".join(b"\0" + b"\x80" * (size * channels * depth // 8) for _ in range(size))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, depth, colour, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


def icon(images, entry_bits=None):
    """An .ico of images [(size, bits, data)]; entry_bits overrides the bit
    counts that the directory claims."""
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for index, (size, bits, data) in enumerate(images):
        claimed = entry_bits[index] if entry_bits else bits
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, claimed, len(data), offset)
        offset += len(data)
    return out + b"".join(data for _, _, data in images)


def bmp_image(size, bits):
    return (size, bits, bitmap(size, bits))


def png_image(size, depth=8, colour=6):
    return (size, 32 if (depth, colour) == (8, 6) else 0, png(size, depth, colour))


GOOD = icon([bmp_image(16, 32), bmp_image(32, 32)])

# name: (file bytes, words that the reason must hold; None = accepted)
CASES = {
    "16 and 32 of 32 bpp": (GOOD, None),
    "16 and 32 of 32 bpp among others": (
        icon([bmp_image(48, 32), bmp_image(16, 8), bmp_image(16, 32), bmp_image(32, 32), png_image(256)]), None),
    "PNG images of 32 bpp": (icon([png_image(16), png_image(32)]), None),
    "48x48 only": (icon([bmp_image(48, 32)]), "no 16x16 and no 32x32"),
    "8 bpp only": (icon([bmp_image(16, 8), bmp_image(32, 8)]), "no 16x16 and no 32x32"),
    "32x32 of 24 bpp": (icon([bmp_image(16, 32), bmp_image(32, 24)]), "no 32x32"),
    "16x16 missing": (icon([bmp_image(32, 32)]), "no 16x16"),
    "PNG of 24 bpp (RGB)": (icon([png_image(16, 8, 2), png_image(32)]), "no 16x16"),
    "directory says 32 bpp, image is 8": (
        icon([bmp_image(16, 8), bmp_image(32, 32)], entry_bits=[32, 32]), "directory entry says"),
    "image cut off": (GOOD[:-100], "beyond the end"),
    "directory cut off": (GOOD[:20], "cut off"),
    "no images": (struct.pack("<HHH", 0, 1, 0), "no image"),
    "a cursor": (b"\0\0\2\0" + GOOD[4:], "not an icon file"),
    "a PNG file": (png(32), "not an icon file"),
    "empty file": (b"", "too short"),
}


def check(path):
    return subprocess.run([sys.executable, CHECKER, path], stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, text=True)


class IconCheckTest(unittest.TestCase):
    def test_cases(self):
        with tempfile.TemporaryDirectory() as folder:
            for name, (data, reason) in CASES.items():
                with self.subTest(name):
                    path = os.path.join(folder, "icon.ico")
                    with open(path, "wb") as f:
                        f.write(data)
                    result = check(path)
                    if reason is None:
                        self.assertEqual((result.returncode, result.stderr), (0, ""))
                    else:
                        self.assertEqual(result.returncode, 1, result.stderr)
                        self.assertIn(reason, result.stderr)
                        self.assertIn(path, result.stderr)

    def test_the_shipped_icon_passes(self):
        self.assertEqual(check(SHIPPED_ICON).returncode, 0)

    def test_a_missing_file_fails(self):
        result = check(os.path.join(tempfile.gettempdir(), "no-such-icon.ico"))
        self.assertEqual(result.returncode, 1)
        self.assertIn("cannot read", result.stderr)


if __name__ == "__main__":
    CHECKER, SHIPPED_ICON = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1] + sys.argv[3:])
