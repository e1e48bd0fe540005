"""BUILD/application-modules.txt, what the release engineer reads before
shipping: every file laid into the folder, its size there, its kind and why
it is there, then what the application imports that resolves to nothing and
what the build cannot follow. The application's own such imports are build
warnings too."""
import os
import sys

import byte_code
import imports


def shown(plan, path):
    """A path as the report shows it: the kit's relative to the kit."""
    kit = os.path.normpath(plan.get("kit") or "")
    path = os.path.normpath(path)
    return os.path.relpath(path, kit) if kit and path.startswith(kit + os.sep) else path


def is_application(plan, path):
    return any(os.path.normpath(path).startswith(os.path.normpath(folder) + os.sep)
               for folder in plan["application"])


def size(table, folder, row):
    if row.destination.startswith("python27.zip/") and table.sizes:
        return table.sizes.get(row.destination[len("python27.zip/"):], 0)
    return os.path.getsize(os.path.join(folder, row.destination))


def text(plan, finder, table, folder):
    rows = ["%-50s %9d  %-18s %s" % (row.destination, size(table, folder, row), row.kind, row.why)
            for row in table]
    total = sum(size(table, folder, row) for row in table)
    setting = " (MORVEX_STDLIB=%s)" % plan["stdlib"] if plan["platform"] == "windows" else ""
    lines = ["Files laid into the application folder%s but for the programs," % setting,
             "with their sizes in the folder, their kind and why each is there; for a module,",
             "one chain of imports that brought it: \"a <- b\" reads \"a, imported by b\".", "",
             "== Laid in: %d files, %d bytes" % (len(rows), total)] + rows
    if finder is None:
        return "\n".join(lines) + "\n"
    lines += ["", "== Imports that resolve to nothing (other systems' modules left out)"]
    for name, importers in imports.missing(finder):
        lines.append("%-40s imported by %s" % (name, ", ".join(importers)))
    lines += ["", "== Imports the build cannot follow: name what they import in "
              "MORVEX_INCLUDE_MODULES"]
    for name in sorted(finder.modules):
        path = finder.modules[name].__file__
        if path and path.endswith(".py"):
            for line, what in imports.dynamic_imports(path):
                lines.append("%s:%d: %s (%s)" % (shown(plan, path), line, what, name))
    return "\n".join(lines) + "\n"


def write(plan, finder, table, folder):
    byte_code.write(plan["report"] + ".partial", text(plan, finder, table, folder).encode("utf-8"))
    os.rename(plan["report"] + ".partial", plan["report"])


def warn_application(plan, finder):
    """Build warnings for what the application's own code imports in ways the
    build cannot follow or that resolve to nothing."""
    if finder is None:
        return
    paths = dict((name, m.__file__) for name, m in finder.modules.items()
                 if m.__file__ and m.__file__.endswith(".py") and is_application(plan, m.__file__))
    for name in sorted(paths):
        for line, what in imports.dynamic_imports(paths[name]):
            sys.stderr.write("warning: %s:%d: an import through %s, which the build cannot "
                             "follow: name the module in MORVEX_INCLUDE_MODULES\n"
                             % (paths[name], line, what))
    for missing, importers in imports.missing(finder):
        for importer in importers:
            if importer in paths:
                for line in imports.import_lines(paths[importer], missing) or [0]:
                    sys.stderr.write("warning: %s:%d: imports %s, which is in neither the kit "
                                     "nor the application (MORVEX_INCLUDE_MODULES takes a module "
                                     "of the kit)\n" % (paths[importer], line, missing))
