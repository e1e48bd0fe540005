"""At configure: what the build needs to know of the folder before it is
laid, from the settings as CMake holds them. Checks them, refusing what
cannot be laid; decides whether the folder carries Tk; resolves the names
of MORVEX_INCLUDE_MODULES once, by the rule that lays them; and writes two
files: the plan that the layout step reads, and a CMake file that configure
includes (the Tk decision, the files the layout depends on, the warnings)."""
import json
import os

import byte_code
import imports
import packages
import rules
from byte_code import Refused

ENTRY = "morvex/desktop/main.py"
SCRIPTS = os.path.dirname(os.path.abspath(__file__))


def existing(paths, variable, kind, base):
    found = []
    for path in paths:
        path = os.path.normpath(os.path.join(base, path))
        if not (os.path.isdir(path) if kind == "folder" else os.path.isfile(path)):
            raise Refused("%s names %s, which is no %s" % (variable, path, kind))
        found.append(path)
    return found


def application_folders(folders, base):
    found = existing(folders, "MORVEX_APPLICATION_DIRS", "folder", base)
    if not any(os.path.isfile(os.path.join(folder, ENTRY)) for folder in found):
        raise Refused("No %s in MORVEX_APPLICATION_DIRS (%s): morvex_desktop starts the "
                      "application by importing morvex.desktop.main" % (ENTRY, ";".join(found)))
    return found


def application_modules(folders):
    return [(name, path) for folder in folders for name, path in byte_code.files(folder)
            if name.endswith(".py")]


def carries_tk(setting, kit, modules, statuses):
    """Whether the Windows folder carries Tk: MORVEX_TK ON or OFF, or AUTO,
    when a module of the application imports Tkinter or a companion."""
    if setting not in ("AUTO", "ON", "OFF"):
        raise Refused("MORVEX_TK=%s: AUTO, ON or OFF" % setting)
    tk = setting == "ON"
    if setting == "AUTO":
        tk = any(imports.imported_tops(path) & rules.TK_MODULES for _, path in modules)
        statuses.append("Tk in the application folder: %s (MORVEX_TK=AUTO: the application %s)"
                        % ("ON" if tk else "OFF", "imports Tkinter" if tk else "imports no Tkinter"))
    for name in rules.TK_KIT_FILES if tk else ():
        if not os.path.exists(os.path.join(kit, name)):
            raise Refused("Tk is to be in the folder, but the kit %s has no %s" % (kit, name))
    return tk


def runtime_files(folder):
    """The Visual C++ 2008 runtime's files in the release engineer's folder,
    matched without regard to case, as Windows names them."""
    if not folder:
        return []
    present = dict((name.lower(), name) for name in os.listdir(folder)) \
        if os.path.isdir(folder) else {}
    if "msvcr90.dll" not in present:
        raise Refused("MORVEX_VC90_RUNTIME_DIR=%s holds no msvcr90.dll: name the folder of the "
                      "Visual C++ 2008 SP1 x64 runtime files" % folder)
    return [os.path.join(folder, present[name]) for name in rules.RUNTIME_FILES if name in present]


def resolved(finder, variable, names, later=None):
    """The modules the names stand for; a name that stands for nothing is
    refused, or, where later is a list, kept there for the build to resolve
    once the packages are staged."""
    found, unknown = [], []
    for name in names:
        modules = imports.resolve(finder, name)
        if modules is None and later is not None:
            later.append(name)
        elif modules is None:
            unknown.append("MORVEX_%s_MODULES names %s, which is in neither the kit nor the "
                           "application" % (variable, name))
        else:
            found += [module for module in modules if module not in found]
    if unknown:
        raise Refused("; ".join(unknown))
    return found


def requirement_files(paths):
    """The requirements files and those their -r lines name, which pip reads
    too: a change to any stages the packages again."""
    found, pending = [], list(paths)
    while pending:
        path = pending.pop(0)
        if path in found or not os.path.isfile(path):
            continue
        found.append(path)
        with open(path) as f:
            for line in f:
                words = line.split()
                if len(words) == 2 and words[0] in ("-r", "--requirement"):
                    pending.append(os.path.join(os.path.dirname(path), words[1]))
    return found


def package_settings(plan, settings):
    """The third-party packages: the requirements files with the folders of
    wheels they are taken from, staged by pip at build, and folders laid out
    like site-packages. The files they depend on, for the build."""
    plan["requirements"] = existing(settings.requirements, "MORVEX_REQUIREMENTS", "file",
                                    settings.base)
    plan["wheel_dirs"] = existing(settings.wheel_dir, "MORVEX_WHEEL_DIRS", "folder", settings.base)
    plan["package_dirs"] = existing(settings.package_dir, "MORVEX_PACKAGE_DIRS", "folder",
                                    settings.base)
    plan["staging"] = settings.output + "-packages"
    staging = requirement_files(plan["requirements"]) if plan["requirements"] else []
    for folder in plan["wheel_dirs"] if staging else ():
        staging += [os.path.join(folder, n) for n in sorted(os.listdir(folder))
                    if n.endswith(".whl")]
    laid = [path for folder in plan["package_dirs"] for _, path in byte_code.files(folder)]
    return staging, laid


def kit_files(plan):
    """The kit's files that the layout reads."""
    kit = plan["kit"]
    found = [plan["runtime"]]
    tops = [(plan["lib"], (".py",)), (plan["dlls"], ("",))]
    if plan["tk"]:
        tops.append((os.path.join(kit, "tcl"), ("",)))
    if not os.path.isfile(os.path.join(plan["lib"], "os.py")):
        found.append(os.path.join(kit, "python27.zip"))
    for top, endings in tops:
        for parent, subfolders, names in os.walk(top):
            subfolders.sort()
            found += [os.path.join(parent, name) for name in sorted(names)
                      if name.endswith(endings)]
    return found


def make(settings):
    """(the plan, the CMake file's text) for the settings that
    __main__.py reads off its command line."""
    statuses, warnings = [], []
    folders = application_folders(settings.application, settings.base)
    modules = application_modules(folders)
    windows = settings.platform == "windows"
    kit = settings.kit
    stdlib = settings.stdlib
    if stdlib not in ("IMPORTED", "ALL"):
        raise Refused("MORVEX_STDLIB=%s: IMPORTED or ALL" % stdlib)
    plan = {"platform": settings.platform, "application": folders, "stdlib": stdlib,
            "epoch": int(settings.epoch), "output": settings.output, "report": settings.report,
            "runtime": settings.runtime, "kit": kit, "tk": False, "include": [],
            "exclude": list(settings.exclude), "vc90": []}
    if windows:
        plan["lib"], plan["dlls"] = os.path.join(kit, "Lib"), os.path.join(kit, "DLLs")
        if stdlib == "IMPORTED" and not os.path.isfile(os.path.join(plan["lib"], "os.py")):
            warnings.append("MORVEX_STDLIB=IMPORTED needs the kit's Lib/ to follow imports; the "
                            "kit %s has none, so the folder carries its python27.zip whole" % kit)
            plan["stdlib"] = "ALL"
        plan["tk"] = carries_tk(settings.tk, kit, modules, statuses)
        plan["vc90"] = runtime_files(settings.vc90_dir)
        staging, laid = package_settings(plan, settings)
        finder = imports.resolver(plan["lib"], plan["dlls"], plan["tk"], folders,
                                  packages.search_folders(plan["package_dirs"]))
        plan["include_staged"] = []
        plan["include"] = resolved(finder, "INCLUDE", settings.include,
                                   plan["include_staged"] if plan["requirements"] else None)
        resolved(finder, "EXCLUDE", settings.exclude, [] if plan["requirements"] else None)
        for path, line, name in imports.excluded_imports(finder, plan["exclude"], modules):
            warnings.append("%s:%d: imports %s, which MORVEX_EXCLUDE_MODULES leaves out"
                            % (path, line, name))
        depends = kit_files(plan) + laid
    else:
        staging = []
        plan["lib"] = settings.stdlib_dir
        depends = [settings.runtime]
        for parent, subfolders, names in os.walk(settings.stdlib_dir):
            subfolders[:] = sorted(s for s in subfolders if s not in rules.POSIX_LEFT_OUT)
            depends += [os.path.join(parent, n) for n in sorted(names)
                        if n not in rules.POSIX_LEFT_OUT and not n.endswith(".pyo")]
    depends += plan["vc90"] + [path for folder in folders for _, path in byte_code.files(folder)]
    return plan, cmake_file(plan, folders, modules, depends, staging, statuses, warnings,
                            settings)


def quoted(text):
    return '"%s"' % text.replace("\\", "\\\\").replace('"', '\\"').replace("$", "\\$")


def cmake_file(plan, folders, modules, depends, staging, statuses, warnings, settings):
    scripts = sorted(os.path.join(SCRIPTS, name) for name in os.listdir(SCRIPTS)
                     if name.endswith(".py"))
    lines = ["# Written at configure by scripts/application_folder plan: what the build",
             "# needs of the application folder before it is laid. Not to be edited.",
             "set(MORVEX_FOLDER_TK %s)" % ("ON" if plan["tk"] else "OFF"),
             "set(MORVEX_FOLDER_STDLIB %s)" % plan["stdlib"],
             "set(MORVEX_FOLDER_DEPENDS"] + ["  " + quoted(p) for p in scripts + depends] + [")"]
    # The packages are staged again when a requirements file or a wheel
    # changes, and only then.
    lines += ["set(MORVEX_FOLDER_STAGING_DEPENDS"] + ["  " + quoted(p) for p in staging] + [")"]
    # A file added to the application's folders configures again; so does
    # an edit of a module whose imports configure has read.
    lines += ["file(GLOB_RECURSE _morvex_folder_files CONFIGURE_DEPENDS %s)"
              % quoted(folder + "/*") for folder in folders + plan.get("package_dirs", [])]
    read = scripts[:]
    if settings.tk == "AUTO" or settings.exclude:
        read += [path for _, path in modules]
    lines += ["set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS"] + \
             ["  " + quoted(p) for p in read] + [")"]
    lines += ["message(STATUS %s)" % quoted(text) for text in statuses]
    lines += ["message(WARNING %s)" % quoted(text) for text in warnings]
    return "\n".join(lines) + "\n"


def write(path, data):
    byte_code.write(path + ".new", data)
    if not os.path.isfile(path) or byte_code.read(path) != data:
        os.rename(path + ".new", path)
    else:
        os.remove(path + ".new")


def write_plan(settings):
    plan, text = make(settings)
    write(settings.plan, json.dumps(plan, indent=1, sort_keys=True).encode("utf-8") + b"\n")
    write(settings.cmake_file, text.encode("utf-8"))
