"""Lays the Python code into the folder morvex_desktop runs it from,
compiled, so that the installed folder never compiles and never writes: the
application's code, and the kit's library. The one writer of byte code.

    python2.7 compile_application.py build OUTPUT FOLDER...
    python2.7 compile_application.py uses-tk FOLDER...
    python2.7 compile_application.py byte-code OUTPUT FOLDER
    python2.7 compile_application.py library-zip LIB OUTPUT.zip EPOCH
    python2.7 compile_application.py left-out

build: every module of the FOLDERs (their contents: packages, modules, data
files) becomes a .pyc in OUTPUT; its source goes to OUTPUT/python-source/,
which is what the byte code names as its file, so tracebacks find their
source lines through the modules/ entry of sys.path. There is no .py beside
a .pyc: Python 2.7 would compare the .pyc with the source's modification
time, which a ZIP extracted in another time zone or a copy that does not
keep times changes, and then compile again and try to write. Data files go
beside the byte code, where __file__ finds them. A module that does not
compile stops the build, naming the file and line.

uses-tk: prints "tk" when a module imports Tkinter or one of its companions.

byte-code: the modules of FOLDER as .pyc in OUTPUT and nothing else (the
kit's lib-tk).

library-zip: python27.zip, the standard library as the Windows interpreter
finds it beside python27.dll, from a Windows kit's Lib/: every module
compiled (zipimport cannot write .pyc files itself) and nothing else, but
for the folders of LEFT_OUT, lib-tk (laid apart, in lib/lib-tk, when the
folder carries Tk) and the other platforms' plat-*. Entries are sorted and
dated at EPOCH, the build's time in seconds since 1970 (at the earliest
1980, which a ZIP entry cannot precede).

left-out: prints the library's folders that no application folder carries,
one a line (the POSIX folder's lib/python2.7 leaves them out too).

Runs under Python 2.7: every 2.7 release shares one byte-code format. The
output is reproducible: a zero timestamp in every .pyc, no build path in
any file.
"""
import ast
import filecmp
import imp
import marshal
import os
import shutil
import struct
import sys
import time
import zipfile

SOURCE_FOLDER = "python-source"
# Left out of what is laid into the folder: byte code of a developer's own
# runs, and hidden files and folders (version control, editors).
SKIPPED_SUFFIXES = (".pyc", ".pyo")
# The library's folders that no application folder carries: its own tests,
# third-party packages and the tools of a Python installation.
LEFT_OUT = ("test", "tests", "site-packages", "idlelib", "ensurepip")
# Tkinter and the modules of lib-tk that import it.
TK_MODULES = frozenset([
    "_tkinter", "Tkinter", "Tkconstants", "Tkdnd", "Tix", "ttk", "tkMessageBox", "tkFileDialog",
    "tkSimpleDialog", "tkColorChooser", "tkCommonDialog", "tkFont", "ScrolledText", "Dialog",
    "FileDialog", "SimpleDialog", "Canvas", "FixTk", "turtle"])


class Refused(Exception):
    pass


def files(folder):
    """(relative name with "/", path) of every file to lay out, sorted."""
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


def source_text(path):
    text = read(path).replace("\r\n", "\n")
    return text if text.endswith("\n") else text + "\n"


def byte_code(path, name):
    """A .pyc image: magic, a zero timestamp (a .pyc without a source beside
    it is never compared with one), then the code, whose file is name."""
    try:
        code = compile(source_text(path), name, "exec", 0, True)
    except SyntaxError as error:
        raise Refused("%s:%s: %s" % (path, error.lineno, error.msg))
    except (TypeError, ValueError) as error:
        raise Refused("%s: %s" % (path, error))
    return imp.get_magic() + struct.pack("<I", 0) + marshal.dumps(code)


def write(path, data):
    folder = os.path.dirname(path)
    if not os.path.isdir(folder):
        os.makedirs(folder)
    with open(path, "wb") as f:
        f.write(data)


def lay_out(output, folders):
    origin = {}
    for folder in folders:
        for name, path in files(folder):
            if name in origin:
                if filecmp.cmp(origin[name], path, shallow=False):
                    continue
                raise Refused("%s and %s both give modules/%s" % (origin[name], path, name))
            origin[name] = path
            if name.endswith(".py"):
                source = SOURCE_FOLDER + "/" + name
                write(os.path.join(output, name + "c"), byte_code(path, source))
                write(os.path.join(output, source), read(path))
            else:
                write(os.path.join(output, name), read(path))


def build(output, folders):
    """Lays out a fresh OUTPUT, so that a file removed from the sources is
    gone from it too; renamed into place, never left half made."""
    partial = output + ".partial"
    shutil.rmtree(partial, ignore_errors=True)
    os.makedirs(partial)
    lay_out(partial, folders)
    shutil.rmtree(output, ignore_errors=True)
    os.rename(partial, output)


def library_modules(lib):
    """(name in the zip, path) of every module of the library, sorted."""
    found = []
    for folder, subfolders, names in os.walk(lib):
        subfolders[:] = [name for name in subfolders if name not in LEFT_OUT
                         and name != "lib-tk" and not name.startswith("plat-")]
        for name in names:
            if name.endswith(".py"):
                path = os.path.join(folder, name)
                found.append((os.path.relpath(path, lib).replace(os.sep, "/"), path))
    return sorted(found)


def library_zip(lib, output, epoch):
    """Written beside OUTPUT and renamed into place, so an interrupted build
    never leaves half a zip."""
    date = time.gmtime(int(epoch))[:6]
    partial = output + ".partial"
    archive = zipfile.ZipFile(partial, "w", zipfile.ZIP_DEFLATED)
    for name, path in library_modules(lib):
        entry = zipfile.ZipInfo(name + "c", date)
        entry.compress_type = zipfile.ZIP_DEFLATED
        entry.external_attr = 0o644 << 16
        # The code names the module by its place in the zip, which
        # tracebacks show.
        archive.writestr(entry, byte_code(path, name))
    archive.close()
    if os.path.exists(output):
        os.remove(output)
    os.rename(partial, output)


def imported(path):
    """The top-level names of the modules a module imports; empty for one
    that does not parse (the build reports it)."""
    try:
        tree = ast.parse(source_text(path), path)
    except (SyntaxError, TypeError, ValueError):
        return set()
    names = set()
    for node in ast.walk(tree):
        if isinstance(node, ast.Import):
            names.update(alias.name.split(".")[0] for alias in node.names)
        elif isinstance(node, ast.ImportFrom) and node.module and not node.level:
            names.add(node.module.split(".")[0])
    return names


def uses_tk(folders):
    return any(imported(path) & TK_MODULES
               for folder in folders for name, path in files(folder) if name.endswith(".py"))


def main(arguments):
    command = arguments[0] if arguments else ""
    try:
        if command == "build" and len(arguments) >= 3:
            build(arguments[1], arguments[2:])
        elif command == "byte-code" and len(arguments) == 3:
            for name, path in files(arguments[2]):
                if name.endswith(".py"):
                    write(os.path.join(arguments[1], name + "c"), byte_code(path, name))
        elif command == "library-zip" and len(arguments) == 4:
            library_zip(*arguments[1:])
        elif command == "left-out" and len(arguments) == 1:
            sys.stdout.write("".join(name + "\n" for name in LEFT_OUT))
        elif command == "uses-tk" and len(arguments) >= 2:
            if uses_tk(arguments[1:]):
                sys.stdout.write("tk\n")
        else:
            sys.stderr.write(__doc__)
            return 2
    except (Refused, EnvironmentError) as error:
        sys.stderr.write("compile_application: %s\n" % error)
        return 1
    return 0


if __name__ == "__main__":
    if sys.version_info[:2] != (2, 7):
        sys.stderr.write("compile_application.py runs under Python 2.7\n")
        sys.exit(2)
    sys.exit(main(sys.argv[1:]))
