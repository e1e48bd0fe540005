"""Makes the Windows Installer package (MSI) of an application folder with
wixl, the same bytes from every build of one commit.

    python3 msi_package.py FOLDER PACKAGE.msi --wixl WIXL --name NAME
        --publisher TEXT --version X.Y.Z --upgrade-code GUID --epoch SECONDS
        [--icon PROGRAM] [--shortcut PROGRAM NAME]...

The package installs every file and folder under FOLDER, in the order of
their names, into INSTALLDIR (default: Program Files\\NAME), per machine,
and makes a Start-menu shortcut NAME to each PROGRAM given (relative to
FOLDER, working in its folder). PROGRAM of --icon gives the entry in the
installed programs its icon, and the shortcuts to it theirs. A newer
version replaces an older one; an older one is refused.

The package's texts (NAME, the publisher, the shortcuts' names and the
folder's file names) must be ASCII: wixl writes its database with no code
page of its own, which Windows reads in the machine's ANSI code page (and
wixl 0.101 fails on characters outside Windows-1252).

Every code follows from the upgrade code, so a rebuild gives the same one:
the product code from the version's first three numbers (the ones Windows
Installer compares), each component's from its path. wixl takes neither a
package code nor a time, so they are fixed after it wrote the package: the
summary's times and the compound file's own are EPOCH, and the package code
follows from the package's bytes.
"""
import argparse
import hashlib
import os
import struct
import subprocess
import sys
import uuid
import xml.etree.ElementTree as ET

WIX = "http://schemas.microsoft.com/wix/2006/wi"
ICON = "ProductIcon"
# The package code of a package's bytes: a name in this namespace.
PACKAGE_CODES = uuid.UUID("5d0d6d3e-6f1c-4f4b-9a51-2b5f4e0c7a19")


def guid(namespace, name):
    return "{%s}" % str(uuid.uuid5(namespace, name)).upper()


def identifier(kind, path):
    """A table key for a path: wixl's own keys are no valid identifiers for
    every name a folder can hold."""
    return kind + hashlib.sha1(path.encode("utf-8")).hexdigest()


def contents(folder):
    """The files, and the folders that hold nothing, under folder: paths
    with "/", in the order of their names."""
    files, empty = [], []
    for where, folders, names in os.walk(folder):
        folders.sort()
        relative = os.path.relpath(where, folder).replace(os.sep, "/")
        prefix = "" if relative == "." else relative + "/"
        files += [prefix + name for name in sorted(names)]
        if not folders and not names and prefix:
            empty.append(prefix[:-1])
    return sorted(files), sorted(empty)


def wix_source(args, source, files, empty):
    """The WiX source of the package, its files named relative to the
    source's own folder, as wixl wants them."""
    upgrade = uuid.UUID(args.upgrade_code)
    # A package must name its manufacturer: without a publisher, the product.
    manufacturer = args.publisher or args.name
    product = ET.Element("Product", Id=guid(upgrade, "product " + ".".join(
        (args.version.split(".") + ["0", "0"])[:3])), Name=args.name, Language="1033",
        Version=args.version, Manufacturer=manufacturer, UpgradeCode="{%s}" % str(upgrade).upper())
    ET.SubElement(product, "Package", InstallerVersion="500", Compressed="yes",
                  InstallScope="perMachine", Description=args.name, Manufacturer=manufacturer)
    ET.SubElement(product, "MajorUpgrade", DowngradeErrorMessage=(
        "A newer version of [ProductName] is already installed: remove it to install this one."))
    ET.SubElement(product, "Media", Id="1", Cabinet="files.cab", EmbedCab="yes")
    # Windows takes an icon's kind from its key's extension.
    icon = ICON + os.path.splitext(args.icon)[1]
    if args.icon:
        ET.SubElement(product, "Icon", Id=icon, SourceFile=source + args.icon)
        ET.SubElement(product, "Property", Id="ARPPRODUCTICON", Value=icon)
    ET.SubElement(product, "Property", Id="ARPNOMODIFY", Value="1")
    # The entry's InstallLocation, which Windows Installer leaves empty.
    ET.SubElement(product, "CustomAction", Id="SetInstallLocation", Property="ARPINSTALLLOCATION",
                  Value="[INSTALLDIR]", Execute="immediate", Impersonate="yes")
    sequence = ET.SubElement(product, "InstallExecuteSequence")
    ET.SubElement(sequence, "Custom", Action="SetInstallLocation", Sequence="1001")  # after CostFinalize

    target = ET.SubElement(product, "Directory", Id="TARGETDIR", Name="SourceDir")
    root = ET.SubElement(ET.SubElement(target, "Directory", Id="ProgramFiles64Folder"),
                         "Directory", Id="INSTALLDIR", Name=args.name)
    ET.SubElement(target, "Directory", Id="ProgramMenuFolder")
    folders = {"": root}

    def folder(path):
        if path not in folders:
            parent, _, name = path.rpartition("/")
            folders[path] = ET.SubElement(folder(parent), "Directory",
                                          Id=identifier("d", path), Name=name)
        return folders[path]

    feature = ET.SubElement(product, "Feature", Id="Complete", Level="1")
    shortcuts = dict(zip(args.shortcut[1::2], args.shortcut[::2]))
    for path in sorted(files + empty):
        parent = path.rpartition("/")[0]
        component = ET.SubElement(folder(path if path in empty else parent), "Component",
                                  Id=identifier("c", path), Guid=guid(upgrade, "component " + path),
                                  Win64="yes")
        ET.SubElement(feature, "ComponentRef", Id=component.get("Id"))
        if path in empty:
            ET.SubElement(component, "CreateFolder")
            continue
        ET.SubElement(component, "File", Id=identifier("f", path), Source=source + path,
                      KeyPath="yes")
        for name in sorted(name for name, program in shortcuts.items() if program == path):
            shortcut = ET.SubElement(component, "Shortcut", Id=identifier("s", name),
                                     Directory="ProgramMenuFolder", Name=name,
                                     Target="[#%s]" % identifier("f", path),
                                     WorkingDirectory=folder(parent).get("Id"))
            if path == args.icon:
                shortcut.set("Icon", icon)
    missing = (set(shortcuts.values()) | {args.icon}) - set(files) - {""}
    if missing:
        raise SystemExit("msi_package: no %s in %s" % (", ".join(sorted(missing)), args.folder))

    wix = ET.Element("Wix", xmlns=WIX)
    wix.append(product)
    ET.indent(wix)
    return ET.ElementTree(wix)


# The compound file that holds the package (MS-CFB): a header, then sectors
# chained by the FAT; streams under 4096 bytes live in the mini stream, in
# 64-byte sectors chained by the mini FAT.
def sector_chain(fat, start):
    chain = []
    while start < 0xFFFFFFFA:
        chain.append(start)
        start = fat[start]
    return chain


def compound_file(data):
    """The directory entries' offsets in data, and a function giving the
    (offset, length) pieces of an entry's stream."""
    size = 1 << struct.unpack_from("<H", data, 0x1E)[0]
    fat_sectors, directory, _, cutoff, mini_fat, _, difat_next = struct.unpack_from("<7I", data, 0x2C)
    at = lambda sector: (sector + 1) * size  # noqa: E731
    difat = list(struct.unpack_from("<109I", data, 0x4C))
    while difat_next < 0xFFFFFFFA:
        entries = struct.unpack_from("<%dI" % (size // 4), data, at(difat_next))
        difat, difat_next = difat + list(entries[:-1]), entries[-1]
    fat = []
    for sector in difat[:fat_sectors]:
        fat += struct.unpack_from("<%dI" % (size // 4), data, at(sector))
    offsets = [at(sector) + i for sector in sector_chain(fat, directory) for i in range(0, size, 128)]
    mini_fat_entries = []
    for sector in sector_chain(fat, mini_fat):
        mini_fat_entries += struct.unpack_from("<%dI" % (size // 4), data, at(sector))
    # The mini stream is the root entry's stream.
    root_start = struct.unpack_from("<I", data, offsets[0] + 116)[0]
    mini_stream = [at(sector) for sector in sector_chain(fat, root_start)]

    def pieces(entry):
        start, length = struct.unpack_from("<IQ", data, entry + 116)
        if length >= cutoff:
            return [(at(sector), size) for sector in sector_chain(fat, start)], length
        return [(mini_stream[s * 64 // size] + s * 64 % size, 64)
                for s in sector_chain(mini_fat_entries, start)], length
    return offsets, pieces


def filetime(epoch):
    return (epoch + 11644473600) * 10000000


def fix_package(path, epoch):
    """Fixes what wixl takes from the clock: the summary's package code,
    created and saved times, and the compound file's entries' times."""
    with open(path, "rb") as f:
        data = bytearray(f.read())
    offsets, pieces = compound_file(data)
    summary = None
    for entry in offsets:
        name_length = struct.unpack_from("<H", data, entry + 64)[0]
        name = data[entry:entry + max(name_length - 2, 0)].decode("utf-16-le")
        # Its created and modified times, where it has them.
        for field in (entry + 100, entry + 108):
            if struct.unpack_from("<Q", data, field)[0]:
                struct.pack_into("<Q", data, field, filetime(epoch))
        if name == "\x05SummaryInformation":
            summary = entry
    chunks, length = pieces(summary)
    stream = bytearray(b"".join(data[at:at + size] for at, size in chunks)[:length])
    # The property set: a header, one section of (id, offset) pairs.
    section = struct.unpack_from("<I", stream, 44)[0]
    code = None
    for i in range(struct.unpack_from("<I", stream, section + 4)[0]):
        pid, offset = struct.unpack_from("<II", stream, section + 8 + 8 * i)
        value = section + offset
        kind = struct.unpack_from("<I", stream, value)[0]
        if pid in (12, 13) and kind == 64:  # created, last saved: VT_FILETIME
            struct.pack_into("<Q", stream, value + 4, filetime(epoch))
        elif pid == 9 and kind == 30:  # the package code: VT_LPSTR "{GUID}"
            code = value + 8
            stream[code:code + 38] = b"{%s}" % (b"0" * 36)

    def write_stream():
        left = bytes(stream)
        for at, size in chunks:
            data[at:at + min(size, len(left))] = left[:size]
            left = left[size:]
    write_stream()
    if code is None:
        raise SystemExit("msi_package: %s has no package code in its summary" % path)
    stream[code:code + 38] = guid(PACKAGE_CODES, hashlib.sha256(data).hexdigest()).encode()
    write_stream()
    with open(path, "wb") as f:
        f.write(data)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("folder")
    parser.add_argument("package")
    for option in ("wixl", "name", "publisher", "version", "upgrade_code", "epoch"):
        parser.add_argument("--" + option.replace("_", "-"), required=True)
    parser.add_argument("--icon", default="")
    parser.add_argument("--shortcut", nargs=2, action="extend", default=[],
                        metavar=("PROGRAM", "NAME"))
    args = parser.parse_args()
    epoch = int(args.epoch)

    files, empty = contents(args.folder)
    texts = [("the product name", args.name), ("the publisher", args.publisher)] + \
        [("a shortcut's name", name) for name in args.shortcut[1::2]] + \
        [("a file's name", path) for path in files + empty]
    for what, text in texts:
        if not text.isascii():
            return "msi_package: %s, %r, is not ASCII, as the MSI's texts must be" % (what, text)
    # The cabinet keeps each file's time.
    for path in files + empty:
        os.utime(os.path.join(args.folder, path), (epoch, epoch))
    wxs = os.path.splitext(os.path.abspath(args.package))[0] + ".wxs"
    source = os.path.relpath(args.folder, os.path.dirname(wxs)).replace(os.sep, "/") + "/"
    wix_source(args, source, files, empty).write(wxs, encoding="utf-8", xml_declaration=True)
    if os.path.exists(args.package):
        os.remove(args.package)
    result = subprocess.run([args.wixl, "-a", "x64", "-o", args.package, wxs],
                            env=dict(os.environ, TZ="UTC"))
    if result.returncode != 0:
        return "msi_package: wixl failed (%d) on %s" % (result.returncode, wxs)
    fix_package(args.package, epoch)
    return 0


if __name__ == "__main__":
    sys.exit(main())
