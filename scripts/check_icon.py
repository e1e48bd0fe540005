#!/usr/bin/env python3
"""Checks that a file can serve as the icon of the Windows morvex_desktop:
a valid .ico file holding a 16x16 and a 32x32 image of 32 bits per pixel
(what the taskbar, the title bar and the shell ask for).

    check_icon.py ICON

Exit 0 when it can; otherwise exit 1 with the reason on standard error.
Each image is judged by its own header (a bitmap's BITMAPINFOHEADER or a
PNG's IHDR), which is what Windows draws from, and must agree with its
directory entry.
"""
import struct
import sys

PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"
REQUIRED_SIZES = (16, 32)


def image_format(data):
    """(width, height, bits per pixel) from an image's own header, or a
    string saying why it has none."""
    if data.startswith(PNG_SIGNATURE):
        if len(data) < 33 or data[12:16] != b"IHDR":
            return "a PNG image without its IHDR header"
        width, height, depth, colour = struct.unpack(">IIBB", data[16:26])
        # Only 8-bit RGBA is 32 bits per pixel.
        channels = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}.get(colour)
        if channels is None:
            return "a PNG image of unknown colour type %d" % colour
        return width, height, depth * channels
    if len(data) < 40:
        return "an image shorter than its bitmap header"
    size, width, height, planes, bits = struct.unpack("<IiiHH", data[:16])
    if size < 40 or planes != 1:
        return "an image that is neither a bitmap nor a PNG"
    # An icon bitmap is twice its height: the colour image, then the mask.
    return width, height // 2, bits


def icon_images(icon):
    """The (width, height, bits per pixel) of each image, or raises
    ValueError saying why the file is not a valid icon."""
    if len(icon) < 6:
        raise ValueError("too short for an icon header")
    reserved, kind, count = struct.unpack("<HHH", icon[:6])
    if reserved != 0 or kind != 1:
        raise ValueError("not an icon file (no .ico header)")
    if count == 0:
        raise ValueError("an icon file with no image")
    if len(icon) < 6 + 16 * count:
        raise ValueError("its directory of %d images is cut off" % count)
    images = []
    for index in range(count):
        entry = icon[6 + 16 * index:22 + 16 * index]
        width, height, _, _, _, bits, length, offset = struct.unpack("<BBBBHHII", entry)
        width, height = width or 256, height or 256
        if length == 0 or offset + length > len(icon):
            raise ValueError("image %d lies beyond the end of the file" % (index + 1))
        found = image_format(icon[offset:offset + length])
        if isinstance(found, str):
            raise ValueError("image %d is %s" % (index + 1, found))
        if found[:2] != (width, height) or bits not in (0, found[2]):
            raise ValueError("image %d is %dx%d of %d bpp, but its directory entry says %dx%d of %d bpp"
                             % ((index + 1,) + found + (width, height, bits)))
        images.append(found)
    return images


def describe(images):
    return ", ".join("%dx%d of %d bpp" % image for image in images)


def check(path):
    """None when the file at path can be the program's icon, else why not."""
    try:
        with open(path, "rb") as f:
            icon = f.read()
    except OSError as error:
        return "cannot read %s: %s" % (path, error.strerror)
    try:
        images = icon_images(icon)
    except ValueError as error:
        return "%s is not a valid icon: %s" % (path, error)
    missing = [size for size in REQUIRED_SIZES if (size, size, 32) not in images]
    if missing:
        return "%s has no %s image of 32 bits per pixel (it holds %s); the icon needs a 16x16 " \
               "and a 32x32 image of 32 bpp" % (path, " and no ".join(
                   "%dx%d" % (size, size) for size in missing), describe(images))
    return None


def main():
    if len(sys.argv) != 2:
        sys.stderr.write("usage: check_icon.py ICON\n")
        return 2
    problem = check(sys.argv[1])
    if problem:
        sys.stderr.write(problem + "\n")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
