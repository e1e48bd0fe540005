"""Makes python27.zip, the standard library as the Windows interpreter finds
it beside python27.dll, from a Windows Python 2.7 installation's Lib/.

    python2.7 make_python_zip.py LIB_FOLDER OUTPUT.zip [EPOCH]

Runs under Python 2.7: every 2.7 release shares one byte-code format, and
zipimport cannot write .pyc files itself, so each module goes in compiled
and nothing else does. Test suites, site-packages and the other platforms'
plat-* folders are left out. The archive is reproducible: entries sorted,
every entry dated at EPOCH (the build's time, in seconds since 1970; by
default, and at the earliest, 1980-01-01 00:00 UTC) and a zero timestamp in
every .pyc, so two builds give the same bytes.
"""
import imp
import marshal
import os
import struct
import sys
import time
import zipfile

LEFT_OUT = ("test", "tests", "site-packages", "idlelib", "lib-tk", "ensurepip")
# 1980-01-01, the earliest time a zip entry can carry.
ZIP_EARLIEST = 315532800


def wanted_folder(name):
    return name not in LEFT_OUT and not name.startswith("plat-")


def modules(lib):
    """(archive name, file) of every module, sorted by archive name."""
    found = []
    for folder, subfolders, files in os.walk(lib):
        subfolders[:] = [name for name in subfolders if wanted_folder(name)]
        for name in files:
            if name.endswith(".py"):
                path = os.path.join(folder, name)
                found.append((os.path.relpath(path, lib).replace(os.sep, "/"), path))
    return sorted(found)


def compiled(source, name):
    """A .pyc image: magic, a zero timestamp, then the marshalled code. The
    code carries the archive name, which tracebacks show."""
    code = compile(source.replace("\r\n", "\n"), name, "exec", 0, True)
    return imp.get_magic() + struct.pack("<I", 0) + marshal.dumps(code)


def main(lib, output, epoch=ZIP_EARLIEST):
    date = time.gmtime(max(int(epoch), ZIP_EARLIEST))[:6]
    partial = output + ".partial"
    archive = zipfile.ZipFile(partial, "w", zipfile.ZIP_DEFLATED)
    for name, path in modules(lib):
        with open(path, "rb") as f:
            source = f.read()
        try:
            image = compiled(source, name)
        except SyntaxError as error:
            sys.stderr.write("make_python_zip: %s does not compile: %s\n" % (path, error))
            return 1
        entry = zipfile.ZipInfo(name[:-3] + ".pyc", date)
        entry.compress_type = zipfile.ZIP_DEFLATED
        entry.external_attr = 0o644 << 16
        archive.writestr(entry, image)
    archive.close()
    # Renamed into place, so an interrupted build never leaves half a zip.
    if os.path.exists(output):
        os.remove(output)
    os.rename(partial, output)
    return 0


if __name__ == "__main__":
    if len(sys.argv) not in (3, 4) or sys.version_info[:2] != (2, 7):
        sys.stderr.write("usage: python2.7 make_python_zip.py LIB_FOLDER OUTPUT.zip [EPOCH]\n")
        sys.exit(2)
    sys.exit(main(*sys.argv[1:]))
