"""The private Microsoft.VC90.CRT assembly that python27.dll and the kit's
extension modules ask for: its manifest carries exactly the identity that
python27.dll's own embedded manifest asks for (name, version,
processorArchitecture and publicKeyToken: the loader takes an assembly only
when all match), and lists its files."""
import os

from byte_code import Refused

IDENTITY = ("type", "name", "version", "processorArchitecture", "publicKeyToken")


def quoted(value):
    return value.replace("&", "&amp;").replace('"', "&quot;").replace("<", "&lt;")


def manifest(identity, files):
    """The assembly's manifest: identity as pe_files.asks_for gives it, the
    files by their names."""
    missing = [name for name, value in zip(IDENTITY, identity)[1:] if not value]
    if missing:
        raise Refused("python27.dll's request for the Visual C++ 2008 runtime names no %s"
                      % ", ".join(missing))
    attributes = " ".join('%s="%s"' % (name, quoted(value))
                          for name, value in zip(IDENTITY, identity) if value)
    lines = ['<?xml version="1.0" encoding="UTF-8" standalone="yes"?>',
             '<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">',
             "  <noInheritable/>",
             "  <assemblyIdentity %s/>" % attributes]
    lines += ['  <file name="%s"/>' % quoted(os.path.basename(name)) for name in files]
    lines.append("</assembly>")
    return "\n".join(lines) + "\n"
