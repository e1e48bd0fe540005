"""Lays the Python code into the folder morvex_desktop runs it from,
compiled, so that the installed folder never compiles and never writes: the
application's code, and the kit's library. The one writer of byte code.

    python2.7 compile_application.py build OUTPUT FOLDER...
    python2.7 compile_application.py uses-tk FOLDER...
    python2.7 compile_application.py runtime SETTINGS OUTPUT [CHECK_APP_FOLDER]
    python2.7 compile_application.py check-modules SETTINGS
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

runtime: the interpreter's Python parts of the Windows folder, from the
kit, in OUTPUT: python27.zip, the standard library as the interpreter finds
it beside python27.dll, every module compiled (zipimport cannot write .pyc
files itself) and dated at the build's time; DLLs/, the extension modules
with the DLLs they import, and the Visual C++ runtime's assembly when one
of them asks for it; lib-tk/, compiled, with Tk. SETTINGS (JSON, written by
cmake/morvex_python_runtime.cmake) names the kit, the application's folders,
"stdlib": IMPORTED lays in only the modules the application reaches
(module_graph.py), ALL every one, but for the folders of LEFT_OUT and the
other platforms' plat-*. Writes the report SETTINGS names, and warns of
the application's imports the build cannot follow and, with
CHECK_APP_FOLDER, of the DLLs its extension modules import that the folder
will lack.

check-modules: refuses names of "include" and "exclude" that are in neither
the kit nor the application; prints each import of the application's code
that an excluded name leaves out, FILE:LINE a line.

left-out: prints the library's folders that no application folder carries,
one a line (the POSIX folder's lib/python2.7 leaves them out too).

Runs under Python 2.7: every 2.7 release shares one byte-code format. The
output is reproducible: a zero timestamp in every .pyc, no build path in
any file.
"""
import ast
import filecmp
import imp
import json
import marshal
import modulefinder
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import zipfile

import module_graph

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


def library_modules(lib, folder=""):
    """(name in the zip, path) of every module of the library, sorted: of
    lib/folder alone when folder is given (lib-tk)."""
    top = os.path.join(lib, folder) if folder else lib
    found = []
    for parent, subfolders, names in os.walk(top):
        subfolders[:] = [name for name in subfolders if name not in LEFT_OUT and
                         (folder or name != "lib-tk") and not name.startswith("plat-")]
        for name in names:
            if name.endswith(".py"):
                path = os.path.join(parent, name)
                found.append((os.path.relpath(path, top).replace(os.sep, "/"), path))
    return sorted(found)


def library_zip(modules, output, epoch):
    """python27.zip of the (name, path) modules. Written beside OUTPUT and
    renamed into place, so an interrupted build never leaves half a zip."""
    date = time.gmtime(int(epoch))[:6]
    partial = output + ".partial"
    archive = zipfile.ZipFile(partial, "w", zipfile.ZIP_DEFLATED)
    for name, path in modules:
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


def pe_imports(path):
    """The names of the DLLs a PE file imports, lower case; empty for a file
    that is no PE image."""
    data = read(path)
    try:
        header = struct.unpack_from("<I", data, 0x3C)[0]
        if data[header:header + 4] != "PE\0\0":
            return []
        sections, optional_size = struct.unpack_from("<H12xH", data, header + 6)
        optional = header + 24
        magic = struct.unpack_from("<H", data, optional)[0]
        directory = optional + (112 if magic == 0x20B else 96) + 8
        rva = struct.unpack_from("<I", data, directory)[0]
        table = []
        for index in range(sections):
            entry = optional + optional_size + 40 * index
            size, address, _, raw = struct.unpack_from("<IIII", data, entry + 8)
            table.append((address, size, raw))

        def offset(address):
            for start, size, raw in table:
                if start <= address < start + size:
                    return address - start + raw
            raise ValueError(address)

        names = []
        at = offset(rva) if rva else None
        while at is not None:
            name_rva = struct.unpack_from("<I", data, at + 12)[0]
            if not name_rva:
                break
            name_at = offset(name_rva)
            names.append(data[name_at:data.index("\0", name_at)].lower())
            at += 20
        return names
    except (struct.error, ValueError):
        return []


def with_their_dlls(dlls, names):
    """names (files of the kit's DLLs/) and the DLLs of that folder that they
    import, directly or through each other."""
    present = dict((name.lower(), name) for name in os.listdir(dlls))
    wanted = list(names)
    for name in wanted:
        for imported_dll in pe_imports(os.path.join(dlls, name)):
            if imported_dll in present and present[imported_dll] not in wanted:
                wanted.append(present[imported_dll])
    return sorted(wanted)


TK_DLLS = ("_tkinter.pyd", "tcl85.dll", "tk85.dll")


def all_dlls(dlls, tk):
    """The kit's DLLs/ but for tests, debug symbols and the helper that only
    Windows 9x needed; Tk's go in with Tk alone."""
    return sorted(name for name in os.listdir(dlls)
                  if not name.startswith("_test") and not name.endswith((".pdb", "_test.pyd"))
                  and name != "tclpip85.dll" and (tk or name not in TK_DLLS))


def lay_runtime(settings, output):
    """The interpreter's Python parts of the folder, in OUTPUT: python27.zip,
    DLLs/ and lib-tk/, and the report of why each module is there."""
    lib, dlls, tk = settings["lib"], settings["dlls"], settings["tk"]
    imported_only = settings["stdlib"] == "IMPORTED"
    finder = module_graph.follow(lib, dlls, tk, settings["application"], settings["include"],
                                 settings["exclude"])
    reached = set(os.path.normpath(module.__file__) for module in finder.modules.values()
                  if module.__file__)

    def chosen(candidates):
        if not imported_only:
            return candidates
        return [(name, path) for name, path in candidates if os.path.normpath(path) in reached]

    shutil.rmtree(output, ignore_errors=True)
    os.makedirs(os.path.join(output, "DLLs"))
    laid = []
    if os.path.isfile(os.path.join(lib, "os.py")):
        modules = chosen(library_modules(lib))
        library_zip(modules, os.path.join(output, "python27.zip"), settings["epoch"])
        laid += [("python27.zip", name + "c", path) for name, path in modules]
    if tk:
        for name, path in chosen(library_modules(lib, "lib-tk")):
            write(os.path.join(output, "lib-tk", name + "c"), byte_code(path, name))
            laid.append(("lib/lib-tk", name + "c", path))
    if os.path.isdir(dlls):
        names = all_dlls(dlls, tk)
        if imported_only:
            names = with_their_dlls(dlls, [os.path.basename(path) for path in reached
                                           if os.path.dirname(path) == os.path.normpath(dlls)])
        asks_for_runtime = False
        for name in names:
            data = read(os.path.join(dlls, name))
            write(os.path.join(output, "DLLs", name), data)
            asks_for_runtime = asks_for_runtime or "Microsoft.VC90.CRT" in data
            laid.append(("DLLs", name, os.path.join(dlls, name)))
        assembly = settings.get("assembly")
        if assembly and asks_for_runtime:
            shutil.copytree(assembly, os.path.join(output, "DLLs", os.path.basename(assembly)))
    write(settings["report"] + ".partial", report(settings, finder, laid, output))
    os.rename(settings["report"] + ".partial", settings["report"])
    warn_application(settings, finder)
    check_extensions(settings)
def shown(settings, path):
    """A path as the report shows it: the kit's relative to the kit."""
    kit = os.path.dirname(os.path.normpath(settings["lib"]))
    path = os.path.normpath(path)
    return os.path.relpath(path, kit) if path.startswith(kit + os.sep) else path


def is_application(settings, path):
    return any(os.path.normpath(path).startswith(os.path.normpath(folder) + os.sep)
               for folder in settings["application"])


def report(settings, finder, laid, output):
    """application-modules.txt: what was laid in and why, and what the
    build could not see."""
    by_path = dict((os.path.normpath(m.__file__), name) for name, m in finder.modules.items()
                   if m.__file__)
    zip_path = os.path.join(output, "python27.zip")
    sizes = {}
    if os.path.isfile(zip_path):
        with zipfile.ZipFile(zip_path) as archive:
            sizes = dict((info.filename, info.compress_size) for info in archive.infolist())
    lines = ["Python modules and extension modules laid into the application folder",
             "(MORVEX_STDLIB=%s), with their sizes in the folder and one chain of imports"
             % settings["stdlib"],
             "that brought each: \"a <- b\" reads \"a, imported by b\".", ""]
    total = 0
    rows = []
    for place, name, path in laid:
        size = sizes.get(name) if place == "python27.zip" else os.path.getsize(path)
        total += size or 0
        module = by_path.get(os.path.normpath(path))
        why = module_graph.chain(finder, module) if module else (
            "a DLL the extension modules import" if place == "DLLs" else "MORVEX_STDLIB=ALL")
        rows.append("%-13s %-40s %9d  %s" % (place, name, size or 0, why))
    lines.append("== Laid in: %d files, %d bytes" % (len(rows), total))
    lines += rows
    lines += ["", "== Imports that resolve to nothing (other systems' modules left out)"]
    for name, importers in module_graph.missing(finder):
        lines.append("%-40s imported by %s" % (name, ", ".join(importers)))
    lines += ["", "== Imports the build cannot follow: name what they import in "
              "MORVEX_INCLUDE_MODULES"]
    for name in sorted(finder.modules):
        path = finder.modules[name].__file__
        if path and path.endswith(".py"):
            for line, what in module_graph.dynamic_imports(path):
                lines.append("%s:%d: %s (%s)" % (shown(settings, path), line, what, name))
    return "\n".join(lines) + "\n"


def warn_application(settings, finder):
    """Build warnings for what the application's own code imports in ways the
    build cannot follow or that resolve to nothing."""
    paths = dict((name, m.__file__) for name, m in finder.modules.items()
                 if m.__file__ and m.__file__.endswith(".py") and
                 is_application(settings, m.__file__))
    for name in sorted(paths):
        for line, what in module_graph.dynamic_imports(paths[name]):
            sys.stderr.write("warning: %s:%d: an import through %s, which the build cannot "
                             "follow: name the module in MORVEX_INCLUDE_MODULES\n"
                             % (paths[name], line, what))
    for missing, importers in module_graph.missing(finder):
        for importer in importers:
            if importer in paths:
                for line in module_graph.import_lines(paths[importer], missing) or [0]:
                    sys.stderr.write("warning: %s:%d: imports %s, which is in neither the kit "
                                     "nor the application (MORVEX_INCLUDE_MODULES takes a module "
                                     "of the kit)\n" % (paths[importer], line, missing))


def check_extensions(settings):
    """Warns of the DLLs that the application's extension modules import and
    that will be missing: check_app_folder, run on the modules with the
    interpreter beside them, as the folder will hold them."""
    tool = settings.get("check_app_folder")
    found = [(name, path) for folder in settings["application"] for name, path in files(folder)
             if name.lower().endswith((".pyd", ".dll", ".manifest"))]
    if not tool or not any(name.lower().endswith(".pyd") for name, path in found):
        return
    staging = tempfile.mkdtemp()
    try:
        shutil.copyfile(settings["python27_dll"], os.path.join(staging, "python27.dll"))
        for name, path in found:
            write(os.path.join(staging, "modules", name), read(path))
        process = subprocess.Popen([tool, staging, "--system-runtime"], stdout=subprocess.PIPE)
        for line in process.communicate()[0].splitlines():
            if line.strip():
                sys.stderr.write("warning: the application's extension modules: %s\n" % line)
    finally:
        shutil.rmtree(staging, ignore_errors=True)


def check_modules(settings):
    """At configure: refuses a name of MORVEX_INCLUDE_MODULES or
    MORVEX_EXCLUDE_MODULES that is in neither the kit nor the application;
    warns of each import of the application's own code that an excluded name
    leaves out."""
    finder = module_graph.Finder(module_graph.search_path(settings["lib"], settings["tk"],
                                                          settings["application"]),
                                 module_graph.extension_modules(settings["dlls"]), [])
    unknown = []
    for variable in ("include", "exclude"):
        for name in settings[variable]:
            try:
                parent = None
                for part in name[:-2].split(".") if name.endswith(".*") else name.split("."):
                    found = finder.find_module(part, parent and parent.__path__, parent)
                    if found[0]:
                        found[0].close()
                    parent = modulefinder.Module((parent.__name__ + "." if parent else "") + part)
                    parent.__path__ = [found[1]] if found[2][2] == imp.PKG_DIRECTORY else None
            except (ImportError, TypeError):
                unknown.append("MORVEX_%s_MODULES names %s, which is in neither the kit nor the "
                               "application" % (variable.upper(), name))
    if unknown:
        raise Refused("; ".join(unknown))
    finder.excluded = settings["exclude"]
    for folder in settings["application"]:
        for name, path in module_graph.module_names(folder):
            for module in module_graph.imported_names(path):
                if finder.is_excluded(module):
                    for line in module_graph.import_lines(path, module):
                        sys.stdout.write("%s:%d: imports %s, which MORVEX_EXCLUDE_MODULES leaves "
                                         "out\n" % (path, line, module))


def imported(path):
    """The top-level names of the modules a module imports; empty for one
    that does not parse (the build reports it)."""
    return set(name.split(".")[0] for name in module_graph.imported_names(path))


def uses_tk(folders):
    return any(imported(path) & TK_MODULES
               for folder in folders for name, path in files(folder) if name.endswith(".py"))


def main(arguments):
    command = arguments[0] if arguments else ""
    try:
        if command == "build" and len(arguments) >= 3:
            build(arguments[1], arguments[2:])
        elif command in ("runtime", "check-modules") and len(arguments) >= 2:
            with open(arguments[1]) as f:
                settings = json.load(f)
            if command == "runtime" and len(arguments) in (3, 4):
                settings["check_app_folder"] = arguments[3] if len(arguments) == 4 else None
                lay_runtime(settings, arguments[2])
            elif command == "check-modules":
                check_modules(settings)
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
