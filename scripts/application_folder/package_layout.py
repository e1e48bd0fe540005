"""The packages' part of the layout: the folders laid out like site-packages
(the staged requirements', MORVEX_PACKAGE_DIRS), followed as a library;
their modules reached laid into modules/ with their data, the DLLs they
carry apart beside the program, their native code checked, their names
kept apart from the application's, and which distribution a file is of."""
import os
import re
import sys

import byte_code
import imports
import packages
import pe_files
import rules
from byte_code import Refused
from laid import Laid, copy


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
