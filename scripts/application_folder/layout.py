"""Lays out the application folder, but for the two programs, in the plan's
output folder, as cmake --install copies it: lay() names the steps in order.
Each step adds its rows to one table of what is laid (destination in the
folder, source, kind, why), which the report prints."""
import collections
import os
import re
import shutil
import subprocess
import sys
import zipfile

import byte_code
import imports
import packages
import pe_files
import report
import rules
import runtime_assembly
from byte_code import Refused

Laid = collections.namedtuple("Laid", "destination source kind why")
ZIP = "python27.zip"


def copy(source, folder, destination, kind, why, table):
    """A file copied with its modification time, as an install copies it: a
    POSIX library's .pyc is valid only beside a source of the time it names."""
    target = os.path.join(folder, destination)
    byte_code.write(target, byte_code.read(source))
    times = os.stat(source)
    os.utime(target, (times.st_atime, times.st_mtime))
    table.append(Laid(destination, source, kind, why))


def copy_tree(source, folder, destination, left_out, kind, why, table):
    """The files of source under destination, every folder made even when
    empty, but for files and folders named in left_out."""
    for parent, subfolders, names in os.walk(source):
        subfolders[:] = sorted(name for name in subfolders if name not in left_out)
        relative = os.path.relpath(parent, source)
        target = destination if relative == "." else destination + "/" + relative.replace(
            os.sep, "/")
        if not os.path.isdir(os.path.join(folder, target)):
            os.makedirs(os.path.join(folder, target))
        for name in sorted(names):
            if name not in left_out and not name.endswith(left_out):
                copy(os.path.join(parent, name), folder, target + "/" + name, kind, why, table)


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
                          plan["include"] + staged_includes(plan),
                          plan["exclude"] + packages_left_out(plan),
                          package_path(plan), namespace_packages(plan))


def staged_includes(plan):
    """The names of MORVEX_INCLUDE_MODULES that only the staged packages can
    give, which configure could not resolve before pip ran: resolved now, by
    the same rule, and refused if they still stand for nothing."""
    if not plan.get("include_staged"):
        return []
    finder = imports.resolver(plan["lib"], plan["dlls"], plan["tk"], plan["application"],
                              package_path(plan))
    found = []
    for name in plan["include_staged"]:
        modules = imports.resolve(finder, name)
        if modules is None:
            raise Refused("MORVEX_INCLUDE_MODULES names %s, which is in neither the kit, the "
                          "application nor the packages" % name)
        found += modules
    return found


def namespace_packages(plan):
    """name -> folder of the namespace packages the packages' *-nspkg.pth
    files make."""
    found = {}
    for site in package_sites(plan):
        for name in packages.pth_lines(site)["namespaces"]:
            folder = os.path.join(site, *name.split("."))
            if os.path.isdir(folder):
                found.setdefault(name, folder)
    return found


def packages_left_out(plan):
    """rules.PACKAGES_LEFT_OUT but for what the application's own modules
    import or MORVEX_INCLUDE_MODULES names."""
    if not package_sites(plan):
        return []
    wanted = set(plan["include"])
    for app in plan["application"]:
        for _, path in imports.module_names(app):
            wanted |= imports.imported_names(path)
    return [name for name in rules.PACKAGES_LEFT_OUT
            if not any(w == name.rstrip(".*") or w.startswith(name.rstrip("*")) for w in wanted)]


def package_sites(plan):
    """The folders laid out like site-packages: the staged requirements',
    then MORVEX_PACKAGE_DIRS."""
    staged = [plan["staging"]] if plan.get("requirements") else []
    return staged + plan.get("package_dirs", [])


def package_path(plan):
    return packages.search_folders(package_sites(plan))


def site_of(plan, path):
    """(the package folder, the path relative to it with "/") of a file of
    the packages, or None."""
    path = os.path.normpath(path)
    for site in package_sites(plan):
        site = os.path.normpath(site)
        if path.startswith(site + os.sep):
            return site, os.path.relpath(path, site).replace(os.sep, "/")
    return None


def data_files(package_folder):
    """The files of a package's folder that are no module: those of its own
    folder that are no Python, and every file of its sub-folders that are no
    package (a .py there is no module an import finds); byte code never."""
    found = []
    for parent, subfolders, names in os.walk(package_folder):
        subfolders[:] = sorted(s for s in subfolders if not s.startswith(".") and
                               not os.path.isfile(os.path.join(parent, s, "__init__.py")))
        modules = (".py", ".pyd") if parent == package_folder else ()
        found += [os.path.join(parent, name) for name in sorted(names)
                  if not name.endswith((".pyc", ".pyo") + modules) and not name.startswith(".")]
    return found


def lay_packages(plan, folder, finder, tool, table):
    """The packages' modules reached, compiled into modules/ where they lay
    in their package folder (their sources for tracebacks), each reached
    package with its data files, and the DLLs a distribution carries apart
    (pywin32's pywin32_system32) beside the program, where Windows' loader
    and the package's own loader both find them."""
    if finder is None or not package_sites(plan):
        return
    check_module_names(plan)
    warn_of_pth_imports(plan)
    owners = distribution_owners(plan)
    reached = set()
    for name in sorted(finder.modules):
        module = finder.modules[name]
        place = site_of(plan, module.__file__) if module.__file__ else None
        if not place:
            continue
        site, relative = place
        if relative.endswith((".pyc", ".pyo")):
            raise Refused("%s is byte code without its source: the packages' byte code is "
                          "ignored, and %s is imported" % (module.__file__, name))
        reason = imports.chain(finder, name)
        reached.add(owners.get((site, top_name(relative))))
        if relative.endswith(".py") and not os.path.isfile(module.__file__):
            # A namespace package, empty: an __init__ of its own lets
            # "import NS.sub" find it without its .pth line.
            byte_code.write(os.path.join(folder, "modules", relative + "c"),
                            byte_code.byte_code(None, relative, text=b""))
            table.append(Laid("modules/" + relative + "c", None, "namespace package", reason))
        elif relative.endswith(".py"):
            source = byte_code.SOURCE_FOLDER + "/" + relative
            byte_code.write(os.path.join(folder, "modules", relative + "c"),
                            byte_code.byte_code(module.__file__, source))
            table.append(Laid("modules/" + relative + "c", module.__file__, "package module",
                              reason))
            copy(module.__file__, folder, "modules/" + source, "package source",
                 "for tracebacks", table)
        else:
            copy(module.__file__, folder, "modules/" + relative, "package extension", reason,
                 table)
        if module.__path__:
            for path in data_files(os.path.dirname(module.__file__)):
                data = site_of(plan, path)[1]
                copy(path, folder, "modules/" + data, "package data", "data of " + name, table)
    for site in package_sites(plan):
        for distribution in packages.distributions(site):
            if (site, distribution["name"]) not in reached:
                continue
            for relative in packages.system_dlls(site):
                copy(os.path.join(site, relative), folder, os.path.basename(relative),
                     "package DLL", "carried by " + distribution["name"], table)
    check_package_extensions(folder, tool, table)


def top_name(relative):
    """The top-level name of a path inside a package folder: its first
    folder, or a top-level module's name without its ending."""
    top = relative.split("/")[0]
    return os.path.splitext(top)[0] if "/" not in relative else top


def warn_of_pth_imports(plan):
    """A build warning for each import line of the packages' .pth files that
    the build does not answer: no such line runs in the folder, which reads
    no site module."""
    for site in package_sites(plan):
        for name, number, line in packages.pth_lines(site)["warnings"]:
            sys.stderr.write("warning: %s:%d: an import line of a .pth file, which never runs in "
                             "the folder (no site module): %s\n"
                             % (os.path.join(site, name), number, line))


def check_package_extensions(folder, tool, table):
    """The packages' extension modules as the folder holds them: one built
    for another machine or another Python stops the build; one that needs a
    C runtime the folder does not carry is a warning. Whether Windows' loader
    finds the rest of their DLLs, check_folder() tells."""
    laid = [row.destination for row in table if row.kind == "package extension"]
    facts = pe_files.describe(tool, [os.path.join(folder, d) for d in laid])
    for destination in laid:
        fact = facts[os.path.join(folder, destination)]
        if fact["error"] or fact["machine"] != "0x8664":
            raise Refused("%s is built for another machine (%s), not Windows x86-64" % (
                destination, "32-bit x86" if fact["machine"] == "0x014c" else
                fact["error"] or "machine " + fact["machine"]))
        for dll in fact["imports"]:
            if rules.other_python(dll):
                raise Refused("%s is built for another Python: it imports %s" % (destination, dll))
            if dll.lower() in rules.OTHER_C_RUNTIMES:
                sys.stderr.write("warning: %s needs %s, a C runtime the folder does not carry\n"
                                 % (destination, dll))


def distribution_owners(plan):
    """(package folder, top-level name) -> (package folder, distribution name)."""
    owners = {}
    for site in package_sites(plan):
        for distribution in packages.distributions(site):
            for top in distribution["top_level"]:
                owners[(os.path.normpath(site), top)] = (site, distribution["name"])
            for relative in distribution["files"] or ():
                owners.setdefault((os.path.normpath(site), top_name(relative)),
                                  (site, distribution["name"]))
    return owners


def package_owner(plan):
    """A function: a file's path -> the name of the distribution it belongs
    to, or None for a file of no package."""
    owners = distribution_owners(plan)

    def owner(path):
        place = site_of(plan, path) if path else None
        found = owners.get((place[0], top_name(place[1]))) if place else None
        return found[1] if found else None
    return owner


def laid_distributions(plan):
    """Every distribution of the package folders, with where it came from:
    its wheel and the wheel's SHA-256, or the folder."""
    wheels = packages.wheels(plan.get("wheel_dirs", [])) if plan.get("requirements") else {}
    found = []
    for site in package_sites(plan):
        for distribution in packages.distributions(site):
            wheel = wheels.get(re.sub(r"[-_.]+", "-", distribution["name"]).lower())
            if wheel:
                origin = "%s (SHA-256 %s)" % wheel
            elif site == plan.get("staging"):
                origin = "pip's index"
            else:
                origin = site
            found.append(dict(distribution, origin=origin, site=site))
    return found


def top_level_modules(folder):
    """name -> path of the modules and packages at the top of a folder."""
    found = {}
    for name in sorted(os.listdir(folder)) if os.path.isdir(folder) else ():
        path = os.path.join(folder, name)
        stem, ending = os.path.splitext(name)
        if ending in (".py", ".pyd") and os.path.isfile(path):
            found.setdefault(stem, path)
        elif os.path.isfile(os.path.join(path, "__init__.py")):
            found.setdefault(name, path)
    return found


def check_module_names(plan):
    """A module name that two packages, or a package and the application,
    both give stops the build: which one an import takes would depend on
    the order of sys.path."""
    given = {}
    for folder in plan["application"]:
        for name, path in top_level_modules(folder).items():
            given.setdefault(name, path)
    for folder in package_path(plan):
        for name, path in sorted(top_level_modules(folder).items()):
            if name in given:
                raise Refused("%s and %s both give the module %s" % (given[name], path, name))
            given[name] = path


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
    for site in package_sites(plan):
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
    lay_packages(plan, folder, finder, tool, table)
    lay_interpreter(plan, folder, finder, chosen, table)
    lay_extension_modules(plan, folder, finder, chosen, tool, table)
    lay_runtime_assembly(plan, folder, tool, table)
    lay_tk(plan, folder, finder, chosen, table)
    lay_search_path_file(plan, folder, table)
    if package_sites(plan):
        report.write(plan, finder, table, folder, package_owner(plan), laid_distributions(plan))
    else:
        report.write(plan, finder, table, folder)
    report.warn_application(plan, finder)
    check_folder(plan, folder, tool)
    shutil.rmtree(output, ignore_errors=True)
    os.rename(folder, output)


class Table(list):
    """The rows laid, with the sizes of python27.zip's entries as stored."""
    sizes = {}
