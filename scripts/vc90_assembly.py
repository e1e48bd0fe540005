#!/usr/bin/env python3
"""Writes the manifest of the private Microsoft.VC90.CRT assembly that a
Windows DLL asks for, with the identity read from the DLL's own embedded
manifest: the loader takes an assembly only when name, version,
processorArchitecture and publicKeyToken match that request exactly.

    vc90_assembly.py DLL [FILE...]

Prints the manifest, listing each FILE by its name, and exits 0. Exits 3,
printing nothing, when the DLL asks for no such assembly; exits 1 with the
reason on standard error when DLL is no readable PE file or its manifest is
no XML.
"""
import os
import struct
import sys
import xml.etree.ElementTree as ElementTree

ASSEMBLY = "Microsoft.VC90.CRT"
RT_MANIFEST = 24
RESOURCE_DIRECTORY = 2
IDENTITY = ("type", "name", "version", "processorArchitecture", "publicKeyToken")
NO_SUCH_ASSEMBLY = 3


def unpack(layout, data, offset):
    """struct.unpack_from that names a cut-off file as such."""
    if offset < 0 or offset + struct.calcsize(layout) > len(data):
        raise ValueError("the file is cut off")
    return struct.unpack_from(layout, data, offset)


def sections(image):
    """(resource directory RVA, [(RVA, size, file offset)...]) of a PE image."""
    if image[:2] != b"MZ":
        raise ValueError("no executable image (no MZ header)")
    (header,) = unpack("<I", image, 0x3C)
    if image[header:header + 4] != b"PE\0\0":
        raise ValueError("no PE header")
    count, _, _, _, optional_size = unpack("<HIIIH", image, header + 6)
    optional = header + 24
    (magic,) = unpack("<H", image, optional)
    directories = {0x10B: 96, 0x20B: 112}.get(magic)
    if directories is None:
        raise ValueError("an optional header of unknown kind")
    (directory_count,) = unpack("<I", image, optional + directories - 4)
    resources = 0
    if directory_count > RESOURCE_DIRECTORY:
        (resources, _) = unpack("<II", image, optional + directories + 8 * RESOURCE_DIRECTORY)
    table = []
    for index in range(count):
        size, rva, raw_size, raw = unpack("<IIII", image, optional + optional_size + 40 * index + 8)
        table.append((rva, max(size, raw_size), raw))
    return resources, table


def file_offset(rva, table):
    for start, size, raw in table:
        if start <= rva < start + size:
            return raw + rva - start
    raise ValueError("an address outside every section")


def manifests(image):
    """The bytes of every RT_MANIFEST resource of a PE image."""
    resources, table = sections(image)
    if not resources:
        return []
    base = file_offset(resources, table)

    def entries(directory):
        named, numbered = unpack("<HH", image, base + directory + 12)
        return [unpack("<II", image, base + directory + 16 + 8 * index)
                for index in range(named + numbered)]

    found = []
    for kind, types in entries(0):
        if kind != RT_MANIFEST or not types & 0x80000000:
            continue
        for _, names in entries(types & 0x7FFFFFFF):
            if not names & 0x80000000:
                continue
            for _, language in entries(names & 0x7FFFFFFF):
                if language & 0x80000000:
                    continue
                rva, size = unpack("<II", image, base + language)
                start = file_offset(rva, table)
                if start + size > len(image):
                    raise ValueError("a manifest beyond the end of the file")
                found.append(image[start:start + size])
    return found


def local(tag):
    return tag.rsplit("}", 1)[-1]


def requested_identity(image):
    """The attributes of the first Microsoft.VC90.CRT assembly that the
    image's manifests depend on, or None."""
    for manifest in manifests(image):
        text = manifest.rstrip(b"\0 \r\n\t")
        try:
            root = ElementTree.fromstring(text)
        except ElementTree.ParseError as error:
            raise ValueError("its manifest is no XML: %s" % error)
        for element in root.iter():
            if local(element.tag) != "dependentAssembly":
                continue
            for identity in element:
                if local(identity.tag) == "assemblyIdentity" and \
                        identity.get("name", "").lower() == ASSEMBLY.lower():
                    return identity.attrib
    return None


def assembly_manifest(identity, files):
    def quoted(value):
        return value.replace("&", "&amp;").replace('"', "&quot;").replace("<", "&lt;")

    attributes = " ".join('%s="%s"' % (name, quoted(identity[name]))
                          for name in IDENTITY if name in identity)
    lines = ['<?xml version="1.0" encoding="UTF-8" standalone="yes"?>',
             '<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">',
             "  <noInheritable/>",
             "  <assemblyIdentity %s/>" % attributes]
    lines += ['  <file name="%s"/>' % quoted(os.path.basename(name)) for name in files]
    lines.append("</assembly>")
    return "\r\n".join(lines) + "\r\n"


def main(arguments):
    if not arguments:
        sys.stderr.write(__doc__)
        return 1
    dll, files = arguments[0], arguments[1:]
    try:
        with open(dll, "rb") as f:
            identity = requested_identity(f.read())
    except (OSError, ValueError) as error:
        sys.stderr.write("%s: %s\n" % (dll, error))
        return 1
    if identity is None:
        return NO_SUCH_ASSEMBLY
    missing = [name for name in IDENTITY[1:] if name not in identity]
    if missing:
        sys.stderr.write("%s: its request for %s names no %s\n" %
                         (dll, ASSEMBLY, ", ".join(missing)))
        return 1
    sys.stdout.write(assembly_manifest(identity, files))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
