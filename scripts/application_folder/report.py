"""BUILD/application-modules.txt, what the release engineer reads before
shipping: every file laid into the folder, its size there, its kind and why
it is there, then what the application imports that resolves to nothing and
what the build cannot follow. The application's own such imports are build
warnings too."""
import os
import sys

import byte_code
import imports
import package_layout
import packages


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


def package_lines(table, folder, owner, distributions):
    """For each package laid in: its name and version, where it came from,
    its licence, its size in the folder and the chain that brought it."""
    lines = ["", "== Packages laid in (name version, from, licence, bytes in the folder, why)"]
    for distribution in distributions:
        rows = [row for row in table if row.source and owner(row.source) == distribution["name"]]
        if not rows:
            continue
        chains = [row.why for row in rows if row.kind in ("package module", "package extension")]
        chain = min(chains, key=lambda why: (why.count(" <- "), why)) if chains else ""
        lines.append("%s %s  from %s  licence: %s  %d bytes  %s" % (
            distribution["name"], distribution["version"], distribution["origin"],
            distribution["license"], sum(size(table, folder, row) for row in rows), chain))
    return lines


def pth_report(sites):
    """What the build did with each line of the packages' .pth files."""
    lines = ["", "== The packages' .pth files"]
    for site in sites:
        found = packages.pth_lines(site)
        lines += ["%s: folder %s: in the search-path file where it holds a file laid in"
                  % (site, folder) for folder in found["folders"]]
        lines += ["%s/%s:%d: %s" % (site, name, number, why)
                  for name, number, why in found["answered"]]
        lines += ["%s/%s:%d: never runs (a build warning): %s" % (site, name, number, line)
                  for name, number, line in found["warnings"]]
    return lines


def grouped(entries, owner):
    """(path, line text) entries as lines, the application's and the kit's
    first, then each package's under its name."""
    groups = {}
    for path, line in entries:
        groups.setdefault(owner(path), []).append(line)
    lines = groups.pop(None, [])
    for name in sorted(groups):
        lines += ["-- %s" % name] + ["   " + line for line in groups[name]]
    return lines


def text(plan, finder, table, folder, owner=lambda path: None, distributions=()):
    sizes = [size(table, folder, row) for row in table]
    rows = ["%-50s %9d  %-18s %s" % (row.destination, bytes, row.kind, row.why)
            for row, bytes in zip(table, sizes)]
    total = sum(sizes)
    setting = " (MORVEX_STDLIB=%s)" % plan["stdlib"] if plan["platform"] == "windows" else ""
    lines = ["Files laid into the application folder%s but for the programs," % setting,
             "with their sizes in the folder, their kind and why each is there; for a module,",
             "one chain of imports that brought it: \"a <- b\" reads \"a, imported by b\".", "",
             "== Laid in: %d files, %d bytes" % (len(rows), total)] + rows
    if finder is None:
        return "\n".join(lines) + "\n"
    lines += package_lines(table, folder, owner, distributions)
    if distributions:
        lines += pth_report(sorted(set(d["site"] for d in distributions)))
    lines += ["", "== Imports that resolve to nothing (other systems' modules left out)"]
    entries = []
    for name, importers in imports.missing(finder):
        for importer in importers:
            module = finder.modules.get(importer)
            path = module.__file__ if module is not None else None
            where = "%s:%s" % (shown(plan, path), ",".join(
                str(n) for n in imports.import_lines(path, name)) or "?") if path else importer
            entries.append((path, "%-40s imported by %s (%s)" % (name, importer, where)))
    lines += grouped(entries, lambda path: owner(path) if path else None)
    lines += ["", "== Imports the build cannot follow: name what they import in "
              "MORVEX_INCLUDE_MODULES"]
    entries = []
    for name in sorted(finder.modules):
        path = finder.modules[name].__file__
        if path and path.endswith(".py"):
            for line, what in imports.dynamic_imports(path):
                entries.append((path, "%s:%d: %s (%s)" % (shown(plan, path), line, what, name)))
    lines += grouped(entries, owner)
    return "\n".join(lines) + "\n"


def write(plan, finder, table, folder):
    owner, distributions = (lambda path: None), []
    if package_layout.package_sites(plan):
        owner = package_layout.package_owner(plan)
        distributions = package_layout.laid_distributions(plan)
    byte_code.write(plan["report"] + ".partial",
                    text(plan, finder, table, folder, owner, distributions).encode("utf-8"))
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
