"""Lays out the application folder, but for the two programs, in the plan's
output folder, as cmake --install copies it: lay() names the steps in order.
Each step adds its rows to one table of what is laid (destination in the
folder, source, kind, why), which the report prints."""
import collections
import os
import shutil
import subprocess
import sys
import zipfile

import byte_code
import imports
import package_layout
import packages
import pe_files
import report
import rules
import runtime_assembly
from byte_code import Refused
from laid import Laid, Table, copy, copy_tree

ZIP = "python27.zip"


# -- the steps, in the order lay() takes them

def compile_application(plan, folder, table):
    """Every file of the application's folders into modules/: modules as
    byte code whose source goes to modules/python-source/, which the byte
    code names, data files as they are. Two folders giving one name with
    different contents stop the build."""
    origin = {}
    modules = set(path for app in plan["application"] for _, path in imports.module_names(app))
    for app in plan["application"]:
        for name, path in byte_code.files(app):
            if name in origin:
                if byte_code.read(origin[name]) == byte_code.read(path):
                    continue
                raise Refused("%s and %s both give modules/%s" % (origin[name], path, name))
            origin[name] = path
            if name.endswith(".py") and path not in modules:
                copy(path, folder, "modules/" + name, "application file",
                     "no importable module: its folder is no package", table)
            elif name.endswith(".py"):
                source = byte_code.SOURCE_FOLDER + "/" + name
                byte_code.write(os.path.join(folder, "modules", name + "c"),
                                byte_code.byte_code(path, source))
                table.append(Laid("modules/" + name + "c", path, "application module",
                                  "MORVEX_APPLICATION_DIRS"))
                copy(path, folder, "modules/" + source, "application source",
                     "for tracebacks", table)
            else:
                copy(path, folder, "modules/" + name, "application data",
                     "MORVEX_APPLICATION_DIRS", table)


def follow_imports(plan):
    """The Finder after following the application's imports through the
    kit and the packages; None where the folder carries the whole library
    (POSIX)."""
    if plan["platform"] != "windows" or not os.path.isfile(os.path.join(plan["lib"], "os.py")):
        return None
    return imports.follow(plan["lib"], plan["dlls"], plan["tk"], plan["application"],
                          plan["include"] + package_layout.staged_includes(plan),
                          plan["exclude"] + package_layout.packages_left_out(plan),
                          package_layout.package_path(plan), package_layout.namespace_packages(plan))


def reached(plan, finder):
    """path -> module name of every module the folder carries, or None for
    all of them (MORVEX_STDLIB=ALL)."""
    if plan["stdlib"] != "IMPORTED":
        return None
    return dict((os.path.normpath(module.__file__), name)
                for name, module in finder.modules.items() if module.__file__)


def why(finder, chosen, path):
    name = chosen.get(os.path.normpath(path)) if chosen is not None else None
    return imports.chain(finder, name) if name else "MORVEX_STDLIB=ALL"


def library_modules(lib, folder=""):
    """(name in the zip, path) of every module of the library, sorted: of
    lib/folder alone when folder is given (lib-tk)."""
    top = os.path.join(lib, folder) if folder else lib
    found = []
    for parent, subfolders, names in os.walk(top):
        subfolders[:] = [name for name in subfolders
                         if rules.library_folder_kept(name, tk_apart=not folder)]
        for name in names:
            if name.endswith(".py"):
                path = os.path.join(parent, name)
                found.append((os.path.relpath(path, top).replace(os.sep, "/"), path))
    return sorted(found)


def lay_interpreter(plan, folder, finder, chosen, table):
    """The interpreter and its library: on Windows python27.dll and
    python27.zip beside it, the only place the interpreter looks for the
    library before the first import, holding the modules reached (or all);
    on POSIX the shared library and the whole library in lib/."""
    if plan["platform"] != "windows":
        runtime = plan["runtime"]
        copy(runtime, folder, "lib/" + os.path.basename(runtime), "interpreter", "the interpreter",
             table)
        copy_tree(plan["lib"], folder, "lib/" + os.path.basename(plan["lib"]),
                  rules.POSIX_LEFT_OUT + (".pyo",), "library", "the whole library", table)
        return
    copy(plan["runtime"], folder, "python27.dll", "interpreter", "the interpreter", table)
    if finder is None:
        copy(os.path.join(plan["kit"], ZIP), folder, ZIP, "library", "the kit's own", table)
        return
    modules = [(name, path) for name, path in library_modules(plan["lib"])
               if chosen is None or os.path.normpath(path) in chosen]
    byte_code.library_zip(modules, os.path.join(folder, ZIP), plan["epoch"])
    sizes = {}
    with zipfile.ZipFile(os.path.join(folder, ZIP)) as archive:
        sizes = dict((info.filename, info.compress_size) for info in archive.infolist())
    for name, path in modules:
        table.append(Laid(ZIP + "/" + name + "c", path, "library module",
                          why(finder, chosen, path)))
    table.sizes = sizes


def with_their_dlls(plan, names, tool):
    """names (files of the kit's DLLs/) with the DLLs of that folder that they
    import, directly or through each other: name -> the file that imports it
    first (None for the names themselves)."""
    present = dict((name.lower(), name) for name in os.listdir(plan["dlls"]))
    brought = collections.OrderedDict((name, None) for name in names)
    pending = list(names)
    while pending:
        paths = [os.path.join(plan["dlls"], name) for name in pending]
        facts = pe_files.describe(tool, paths)
        pending = []
        for path in paths:
            for imported in facts[path]["imports"]:
                name = present.get(imported.lower())
                if name and name not in brought:
                    brought[name] = os.path.basename(path)
                    pending.append(name)
    return brought


def lay_extension_modules(plan, folder, finder, chosen, tool, table):
    """DLLs/: the kit's extension modules reached (or all) with the DLLs they
    import, Tk's only with Tk."""
    if plan["platform"] != "windows" or not os.path.isdir(plan["dlls"]):
        return
    dlls = os.path.normpath(plan["dlls"])
    if chosen is None:
        names = [name for name in sorted(os.listdir(dlls)) if rules.kit_dll_kept(name, plan["tk"])]
    else:
        names = sorted(os.path.basename(path) for path in chosen if os.path.dirname(path) == dlls)
    brought = with_their_dlls(plan, names, tool)
    for name in sorted(brought):
        path = os.path.join(dlls, name)
        reason = ("imported by DLLs/" + brought[name] if brought[name] else why(finder, chosen, path))
        copy(path, folder, "DLLs/" + name, "extension module" if name.endswith(".pyd") else "DLL",
             reason, table)


def lay_runtime_assembly(plan, folder, tool, table):
    """The Visual C++ 2008 runtime as a private assembly beside python27.dll
    and, where a file of DLLs/ asks for it, in DLLs/ too, under the identity
    python27.dll asks for."""
    if plan["platform"] != "windows" or not plan["vc90"]:
        return
    laid_dlls = sorted(row.destination for row in table if row.destination.startswith("DLLs/"))
    paths = [os.path.join(folder, "python27.dll")] + [os.path.join(folder, d) for d in laid_dlls]
    facts = pe_files.describe(tool, paths)
    identity = pe_files.asks_for(facts[paths[0]], rules.RUNTIME_ASSEMBLY)
    if identity is None:
        sys.stdout.write("python27.dll asks for no %s assembly: MORVEX_VC90_RUNTIME_DIR is not "
                         "needed\n" % rules.RUNTIME_ASSEMBLY)
        return
    text = runtime_assembly.manifest(identity, plan["vc90"])
    places = [""] + ["DLLs/"] * any(pe_files.asks_for(facts[p], rules.RUNTIME_ASSEMBLY)
                                    for p in paths[1:])
    for place in places:
        assembly = place + rules.RUNTIME_ASSEMBLY
        asked = "python27.dll" if not place else "the extension modules"
        reason = "%s asks for %s %s" % (asked, rules.RUNTIME_ASSEMBLY, identity[2])
        byte_code.write(os.path.join(folder, assembly, rules.RUNTIME_ASSEMBLY + ".manifest"),
                        text.encode("utf-8"))
        table.append(Laid(assembly + "/" + rules.RUNTIME_ASSEMBLY + ".manifest",
                          plan["runtime"], "assembly manifest", reason))
        for path in plan["vc90"]:
            copy(path, folder, assembly + "/" + os.path.basename(path), "runtime DLL", reason,
                 table)
    sys.stdout.write("The application folder carries the Visual C++ 2008 runtime from %s as %s %s\n"
                     % (os.path.dirname(plan["vc90"][0]), rules.RUNTIME_ASSEMBLY, identity[2]))


def lay_tk(plan, folder, finder, chosen, table):
    """With Tk: the Tcl and Tk script libraries in lib/, where tcl85.dll
    looks for them relative to its own path (so python.org's FixTk, finding
    no tcl/ folder, sets no variable), and the kit's lib-tk compiled in
    lib/lib-tk, which the interpreter puts on sys.path itself."""
    if not plan["tk"]:
        return
    for library in rules.TK_LIBRARIES:
        copy_tree(os.path.join(plan["kit"], "tcl", library), folder, "lib/" + library,
                  rules.TK_LEFT_OUT, "Tcl library", "MORVEX_TK", table)
    for name, path in library_modules(plan["lib"], "lib-tk"):
        if chosen is None or os.path.normpath(path) in chosen:
            byte_code.write(os.path.join(folder, "lib", "lib-tk", name + "c"),
                            byte_code.byte_code(path, name))
            table.append(Laid("lib/lib-tk/" + name + "c", path, "library module",
                              why(finder, chosen, path)))


DEFAULT_SEARCH_PATH = ("python27.zip", "modules", "modules/win32modules/win32/lib")


def search_path_entries(plan, table):
    """The entries of the search-path file beside the program: none while the
    three it takes without one are all the folder needs; else those three,
    then the folders of the packages' .pth files that hold a file laid in,
    relative to the program's folder."""
    laid = set(os.path.dirname(row.destination) for row in table)
    extra = []
    for site in package_layout.package_sites(plan):
        for relative in packages.pth_lines(site)["folders"]:
            entry = "modules/" + relative
            if entry in laid and entry not in extra:
                extra.append(entry)
    return list(DEFAULT_SEARCH_PATH) + extra if extra else []


def lay_search_path_file(plan, folder, table):
    entries = search_path_entries(plan, table)
    if entries:
        byte_code.write(os.path.join(folder, "morvex_desktop.pth"),
                        "".join(entry + "\n" for entry in entries).encode("utf-8"))
        table.append(Laid("morvex_desktop.pth", None, "search-path file", "the folders needed"))


def check_folder(plan, folder, tool):
    """Build warnings of what Windows' loader will not find for the folder's
    PE files (check_app_folder); a Visual C++ runtime the folder does not
    carry counts as installed."""
    if plan["platform"] != "windows" or not tool:
        return
    options = [] if plan["vc90"] else ["--system-runtime"]
    process = subprocess.Popen([tool, folder] + options, stdout=subprocess.PIPE)
    lines = process.communicate()[0].decode("utf-8").splitlines()
    if process.returncode:
        for line in lines[:-1]:
            sys.stderr.write("warning: the application folder: %s\n" % line)


def lay(plan, tool):
    """Lays a fresh folder, so that a file removed from the sources is gone
    from it too; renamed into place, never left half made."""
    output = plan["output"]
    folder = output + ".partial"
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    table = Table()
    compile_application(plan, folder, table)
    finder = follow_imports(plan)
    chosen = reached(plan, finder) if finder else None
    package_layout.lay_packages(plan, folder, finder, tool, table)
    lay_interpreter(plan, folder, finder, chosen, table)
    lay_extension_modules(plan, folder, finder, chosen, tool, table)
    lay_runtime_assembly(plan, folder, tool, table)
    lay_tk(plan, folder, finder, chosen, table)
    lay_search_path_file(plan, folder, table)
    report.write(plan, finder, table, folder)
    report.warn_application(plan, finder)
    check_folder(plan, folder, tool)
    shutil.rmtree(output, ignore_errors=True)
    os.rename(folder, output)
