#!/usr/bin/python3
"""Prints the version information of a Windows program, one NAME=VALUE a
line: FixedFileVersion and FixedProductVersion (the numbers of the fixed
part, as 1.1.0.0), then every string of its string tables.

    /usr/bin/python3 version_info.py PROGRAM.exe

Debian's python3-pefile reads it, as Windows would; a program without
version information prints nothing and exits with 1.
"""
import sys

import pefile


def version_info(path):
    image = pefile.PE(path, fast_load=True)
    image.parse_data_directories([pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    fields = {}
    for fixed in getattr(image, "VS_FIXEDFILEINFO", []):
        for name, high, low in (("FixedFileVersion", fixed.FileVersionMS, fixed.FileVersionLS),
                                ("FixedProductVersion", fixed.ProductVersionMS,
                                 fixed.ProductVersionLS)):
            fields[name] = "%d.%d.%d.%d" % (high >> 16, high & 0xFFFF, low >> 16, low & 0xFFFF)
    for info in getattr(image, "FileInfo", []):
        for block in info:
            for table in getattr(block, "StringTable", []):
                for name, value in table.entries.items():
                    fields[name.decode("utf-8")] = value.decode("utf-8")
    return fields


def main(path):
    fields = version_info(path)
    for name, value in fields.items():
        print("%s=%s" % (name, value))
    return 0 if fields else 1


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.stderr.write("usage: /usr/bin/python3 version_info.py PROGRAM.exe\n")
        sys.exit(2)
    sys.exit(main(sys.argv[1]))
