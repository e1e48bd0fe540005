"""The one writer of byte code: the application's modules for modules/ and
the library's for python27.zip and lib-tk. Every .pyc has a zero timestamp
and names its source by a path inside the folder, never a build path, so
two builds give the same bytes."""
import imp
import marshal
import os
import struct
import time
import zipfile

# Where the application's sources go, under modules/: what its byte code
# names as its file, so tracebacks find their lines through sys.path.
SOURCE_FOLDER = "python-source"
# Byte code of a developer's own runs, never laid in.
SKIPPED_SUFFIXES = (".pyc", ".pyo")


class Refused(Exception):
    """What stops the build, with the reason as its text."""


def files(folder):
    """(relative name with "/", path) of every file of folder to lay out,
    sorted: not hidden files and folders (version control, editors), not
    byte code."""
    found = []
    for parent, subfolders, names in os.walk(folder):
        subfolders[:] = [name for name in subfolders
                         if not name.startswith(".") and name != "__pycache__"]
        for name in names:
            if name.startswith(".") or name.endswith(SKIPPED_SUFFIXES):
                continue
            path = os.path.join(parent, name)
            found.append((os.path.relpath(path, folder).replace(os.sep, "/"), path))
    return sorted(found)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def write(path, data):
    folder = os.path.dirname(path)
    if not os.path.isdir(folder):
        os.makedirs(folder)
    with open(path, "wb") as f:
        f.write(data)


def source_text(path):
    text = read(path).replace(b"\r\n", b"\n")
    return text if text.endswith(b"\n") else text + b"\n"


def byte_code(path, name, text=None):
    """A .pyc image: magic, a zero timestamp (a .pyc without a source beside
    it is never compared with one), then the code of the file at path (or of
    text), whose file is name. A module that does not compile stops the
    build, naming file and line."""
    try:
        code = compile(source_text(path) if text is None else text, name, "exec", 0, True)
    except SyntaxError as error:
        raise Refused("%s:%s: %s" % (path, error.lineno, error.msg))
    except (TypeError, ValueError) as error:
        raise Refused("%s: %s" % (path, error))
    return imp.get_magic() + struct.pack("<I", 0) + marshal.dumps(code)


def library_zip(modules, output, epoch):
    """python27.zip of the (name, path) modules, every entry dated at the
    build's time."""
    date = time.gmtime(int(epoch))[:6]
    archive = zipfile.ZipFile(output, "w", zipfile.ZIP_DEFLATED)
    for name, path in modules:
        entry = zipfile.ZipInfo(name + "c", date)
        entry.compress_type = zipfile.ZIP_DEFLATED
        entry.external_attr = 0o644 << 16
        # The code names the module by its place in the zip, which
        # tracebacks show.
        archive.writestr(entry, byte_code(path, name))
    archive.close()
