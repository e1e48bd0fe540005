"""The application's third-party packages: installed with pip for Windows
x86-64 CPython 2.7 into a staging folder, then read back from any folder
laid out like site-packages (a staging folder, or a copy of a Windows
machine's Lib/site-packages): its distributions with their licences, what
its .pth files do, and the DLLs a distribution carries apart from its
modules. Plain reading of files: nothing of the packages is imported."""
import csv
import hashlib
import json
import os
import re
import shutil
import subprocess

from byte_code import Refused

# What pip is asked to install for: the interpreter python.org's Windows
# x86-64 Python 2.7 is. Its tags also take pure Python 2 wheels.
TARGET = ["--platform", "win_amd64", "--python-version", "27", "--implementation", "cp",
          "--abi", "cp27m", "--only-binary=:all:"]
# Nothing of the host's pip lingers: no wheel cache, no version check, no
# byte code (the layout writes its own), no prompt on a build machine.
QUIET = ["--disable-pip-version-check", "--no-cache-dir", "--no-compile", "--no-input",
         "--progress-bar", "off"]
# Options of a requirements file that would add a source of packages: pip
# honours them even after --no-index on its command line.
SOURCE_OPTIONS = ("index-url", "extra-index-url", "find-links")
INCLUDE_OPTIONS = ("-r", "--requirement", "-c", "--constraint")
SKIPPED_SUFFIXES = (".pyc", ".pyo")
MODULE_SUFFIXES = (".py", ".pyd", ".so")
TAIL_LINES = 6
# pip evaluates its dependencies' environment markers for the host, never
# for --platform: this evaluates them, with pip's own code, for the target.
WINDOWS_MARKERS = """
import json, sys
from pip._vendor.packaging.markers import InvalidMarker, Marker
target = {"os_name": "nt", "sys_platform": "win32", "platform_system": "Windows",
          "platform_machine": "AMD64", "python_version": "2.7", "python_full_version": "2.7.18",
          "implementation_name": "cpython", "platform_python_implementation": "CPython",
          "extra": ""}
def holds(marker):
    try:
        return Marker(marker).evaluate(target)
    except InvalidMarker:
        return False
json.dump([holds(marker) for marker in json.load(sys.stdin)], sys.stdout)
"""


# -- staging with pip

def canonical(name):
    """A project's name as pip compares names: lower case, each run of
    "-", "_" and "." one "-"."""
    return re.sub(r"[-_.]+", "-", name).lower()


def logical_lines(path):
    """(line number, text) of a requirements file's lines as pip reads them:
    continued lines joined, comments and blank lines dropped."""
    with open(path) as f:
        physical = f.read().splitlines()
    found, pending, start = [], "", 0
    for number, line in enumerate(physical, 1):
        if not pending:
            start = number
        if line.endswith("\\"):
            pending += line[:-1]
            continue
        text = re.sub(r"(^|\s+)#.*$", "", pending + line).strip()
        pending = ""
        if text:
            found.append((start, text))
    return found


def names_a_source(text):
    """Whether a requirements line adds a source of packages beyond the wheel
    folders: an index or links option (also as optparse's abbreviation or
    with its value attached), or a URL other than a file's."""
    option = re.split(r"[\s=]", text, 1)[0]
    if option.startswith(("-i", "-f")) and not option.startswith("--"):
        return True
    if option.startswith("--") and len(option) > 2 and any(
            name.startswith(option[2:]) for name in SOURCE_OPTIONS):
        return True
    return re.search(r"\b(?!file:)[a-zA-Z][a-zA-Z0-9+.-]*://", text) is not None


def included_file(text, path):
    """The file a -r or -c line includes, relative to the including file;
    None for any other line, or for a URL (which names_a_source refuses)."""
    parts = re.split(r"[\s=]+", text, 1)
    if parts[0] not in INCLUDE_OPTIONS or len(parts) < 2 or "://" in parts[1]:
        return None
    return os.path.join(os.path.dirname(os.path.abspath(path)), parts[1])


def other_sources(requirements, seen=None):
    """(file, line number, line) of every line of the requirements files, and
    of the files they include, that names a source of packages of its own."""
    seen = set() if seen is None else seen
    found = []
    for path in requirements:
        if os.path.abspath(path) in seen or not os.path.isfile(path):
            continue  # pip itself says which file it cannot open
        seen.add(os.path.abspath(path))
        for number, text in logical_lines(path):
            if names_a_source(text):
                found.append((path, number, text))
            include = included_file(text, path)
            if include:
                found += other_sources([include], seen)
    return found


def pip_command(requirements, wheel_dirs, staging, python):
    """(the command, its environment) that installs the requirements into
    staging. With wheel folders pip is isolated from the user's and the
    machine's settings: no PIP_* variable, no configuration file (an
    os.devnull PIP_CONFIG_FILE skips them all, which --isolated alone does
    not), no PYTHON* variable; without, pip's own configuration decides."""
    command = [python, "-m", "pip", "install", "--target", staging] + TARGET + QUIET
    environment = dict(os.environ)
    if wheel_dirs:
        command[1:1] = ["-E"]
        command += ["--isolated", "--no-index"]
        for folder in wheel_dirs:
            command += ["--find-links", os.path.abspath(folder)]
        environment = dict((key, value) for key, value in os.environ.items()
                           if not key.startswith("PIP_"))
        environment["PIP_CONFIG_FILE"] = os.devnull
    for path in requirements:
        command += ["-r", os.path.abspath(path)]
    return command, environment


def listed_after(lines, header):
    """The names of the requirements pip lists, indented by four, under its
    line that starts with header."""
    names, listing = [], False
    for line in lines:
        if line.lstrip().startswith("ERROR: "):
            listing = line.lstrip().startswith("ERROR: " + header)
        elif listing and re.match(r"    [A-Za-z0-9]", line):
            name = re.match(r"\s*([A-Za-z0-9][A-Za-z0-9._-]*)", line).group(1)
            names += [name] if name not in names else []
    return names


def pip_failure(lines, wheel_dirs):
    """What pip could not do, from its output, as the first sentence of the
    refusal: the requirements it names, or its own last error."""
    where = ("in the wheel folders %s" % ", ".join(wheel_dirs) if wheel_dirs
             else "through pip's configured index")
    missing = []
    for line in lines:
        found = re.search(r"(?:Could not find a version that satisfies the requirement|"
                          r"No matching distribution found for) (\S+)", line)
        if found and found.group(1) not in missing:
            missing.append(found.group(1))
    kinds = [
        (missing, "pip found no wheel of %s for Windows x86-64 CPython 2.7 (cp27m win_amd64, "
                  "or pure Python 2) " + where),
        (listed_after(lines, "THESE PACKAGES DO NOT MATCH THE HASHES"),
         "the wheel pip found for %s does not match its --hash in the requirements"),
        (listed_after(lines, "Hashes are required"),
         "%s has no --hash: once any requirement has one, pip wants one for every package, "
         "dependencies too"),
        (listed_after(lines, "In --require-hashes mode, all requirements must have their "
                             "versions pinned"),
         "%s is not pinned with ==, as pip's hash-checking mode wants")]
    for names, text in kinds:
        if names:
            return text % ", ".join(names)
    errors = [line.lstrip()[len("ERROR: "):] for line in lines
              if line.lstrip().startswith("ERROR: ")]
    return "pip failed: %s" % (errors[-1] if errors else "see its output")


def stage(requirements, wheel_dirs, staging, python):
    """Installs the requirements files, their dependencies too, for Windows
    x86-64 CPython 2.7 into a fresh staging folder with python's pip: from
    the wheel folders alone when some are given. Returns the pip command
    run; a failure of pip stops the build naming what it could not
    install, with pip's last lines."""
    wheel_dirs = list(wheel_dirs or [])
    for folder in wheel_dirs:
        if not os.path.isdir(folder):
            raise Refused("The wheel folder %s is no folder" % folder)
    if wheel_dirs:
        sources = other_sources(requirements)
        if sources:
            raise Refused("The requirements name sources of packages of their own, while the "
                          "wheel folders are to be the only one: %s"
                          % "; ".join("%s:%d: %s" % source for source in sources))
    if os.path.exists(staging):
        shutil.rmtree(staging)
    forget(staging)
    command, environment = pip_command(requirements, wheel_dirs, staging, python)
    try:
        process = subprocess.Popen(command, env=environment, stdout=subprocess.PIPE,
                                   stderr=subprocess.STDOUT)
    except OSError as error:
        raise Refused("Cannot run %s for pip: %s" % (python, error))
    lines = process.communicate()[0].splitlines()
    if process.returncode:
        # pip's notice of Python 2.7's end says nothing of this build.
        tail = [line.strip() for line in lines
                if line.strip() and not line.startswith("DEPRECATION:")][-TAIL_LINES:]
        raise Refused("Cannot stage the requirements %s: %s. pip's last lines (exit %d):\n    %s"
                      % (", ".join(requirements), pip_failure(lines, wheel_dirs),
                         process.returncode, "\n    ".join(tail)))
    missing = left_out_for_windows(staging, python)
    if missing:
        names = sorted(set(requirement_name(requirement) for _, requirement in missing))
        raise Refused("pip left out what the staged packages need on Windows alone, as it "
                      "judges their conditions for this host: %s. Name %s in the requirements"
                      % (", ".join("%s requires [%s]" % pair for pair in missing),
                         ", ".join(names)))
    return command


def requirement_name(requirement):
    """The project a Requires-Dist value names."""
    return re.match(r"\s*([A-Za-z0-9][A-Za-z0-9._-]*)", requirement).group(1)


def left_out_for_windows(staging, python):
    """(distribution, Requires-Dist value) of each dependency of a staged
    distribution whose condition holds on Windows x86-64 CPython 2.7 but
    that is not staged: what pip skipped because the host is no Windows.
    Conditions on an extra are taken as false (no extra asked for)."""
    staged = set(canonical(distribution["name"]) for distribution in distributions(staging))
    conditional = []
    for distribution in distributions(staging):
        fields = metadata(os.path.join(distribution["info"], "METADATA"))
        for requirement in fields.get("requires-dist", []):
            if ";" in requirement and canonical(requirement_name(requirement)) not in staged:
                conditional.append((distribution["name"], requirement))
    if not conditional:
        return []
    process = subprocess.Popen([python, "-E", "-c", WINDOWS_MARKERS], stdin=subprocess.PIPE,
                               stdout=subprocess.PIPE)
    answer = process.communicate(json.dumps([r.split(";", 1)[1] for _, r in conditional]))[0]
    if process.returncode:
        raise Refused("%s could not judge the staged packages' conditions with pip's code"
                      % python)
    return [pair for pair, holds in zip(conditional, json.loads(answer)) if holds]


def version_key(version):
    """A sort key of a version: its numbers as numbers."""
    return [(0, int(part), "") if part.isdigit() else (1, 0, part)
            for part in re.split(r"[^A-Za-z0-9]+", version) if part]


def wheels(wheel_dirs):
    """{canonical project name: (wheel path, its SHA-256 hex)} of every .whl
    file of the folders; of a project with several wheels, its highest
    version's (the first found among equals), as pip would choose."""
    found = {}
    for folder in wheel_dirs:
        for name in sorted(os.listdir(folder)) if os.path.isdir(folder) else ():
            parts = name.split("-")
            path = os.path.join(folder, name)
            if not name.lower().endswith(".whl") or len(parts) < 5 or not os.path.isfile(path):
                continue
            key, version = canonical(parts[0]), version_key(parts[1])
            if key not in found or version > found[key][0]:
                found[key] = (version, path)
    return dict((key, (path, sha256(path))) for key, (_, path) in found.items())


def sha256(path):
    """The SHA-256 hex digest of a file's bytes."""
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


# -- reading a folder laid out like site-packages

def read_text(path):
    """A text file's lines, or [] when it is not there."""
    if not os.path.isfile(path):
        return []
    with open(path, "rb") as f:
        return f.read().decode("utf-8", "replace").splitlines()


def metadata(path):
    """The header fields of a METADATA or PKG-INFO file: name -> [values],
    a value's continuation lines left out (a long License field's text)."""
    fields = {}
    for line in read_text(path):
        if not line.strip():
            break
        if line[0] not in " \t":
            name, _, value = line.partition(":")
            fields.setdefault(name.strip().lower(), []).append(value.strip())
    return fields


def licence(fields):
    """The licence as the metadata states it: its License field when that
    says something, else its licence classifiers, else "unknown"."""
    stated = [value for value in fields.get("license", [])
              if value and value.upper() != "UNKNOWN"]
    if stated:
        return stated[0]
    classifiers = [value[len("License :: "):] for value in fields.get("classifier", [])
                   if value.startswith("License :: ")]
    return "; ".join(classifiers) or "unknown"


def inside(site, path):
    """A path relative to site with "/", or None when it leads out of site."""
    relative = os.path.normpath(path.replace("\\", "/")).replace(os.sep, "/")
    if os.path.isabs(relative) or relative == ".." or relative.startswith("../"):
        return None
    return relative


def recorded_files(site, info):
    """The files the distribution installed, relative to site, sorted, from
    RECORD (relative to site) or installed-files.txt (relative to the info
    folder); None when neither is there. Byte code and what lies outside
    site (scripts) left out."""
    if os.path.isfile(os.path.join(info, "RECORD")):
        with open(os.path.join(info, "RECORD"), "rb") as f:
            paths = [row[0] for row in csv.reader(f) if row]
    elif os.path.isfile(os.path.join(info, "installed-files.txt")):
        base = os.path.relpath(info, site)
        paths = [os.path.join(base, line.strip().replace("\\", "/"))
                 for line in read_text(os.path.join(info, "installed-files.txt")) if line.strip()]
    else:
        return None
    found = set(inside(site, path) for path in paths)
    return sorted(path for path in found if path and not path.endswith(SKIPPED_SUFFIXES))


def present_module(site, top):
    """Whether site holds a module or a package of that top-level name."""
    return (os.path.isfile(os.path.join(site, top, "__init__.py")) or
            any(os.path.isfile(os.path.join(site, top + suffix)) for suffix in MODULE_SUFFIXES))


def tops_of(site, paths):
    """The top-level modules and packages that paths (relative to site, or
    to a source tree for SOURCES.txt) give, those that site holds."""
    found = []
    for path in paths:
        first = path.replace("\\", "/").split("/")[0]
        stem, suffix = os.path.splitext(first)
        top = stem if "/" not in path and suffix in MODULE_SUFFIXES else first
        if top not in found and present_module(site, top):
            found.append(top)
    return sorted(found)


def top_level(site, info, files, name):
    """The distribution's top-level names: as top_level.txt gives them (an
    entry inside a folder, pywin32's win32\\lib\\win32con, by its module's
    name, imported through the folder's .pth line), else those its files
    or SOURCES.txt give, else a module of site named as the distribution."""
    listed = [line.strip() for line in read_text(os.path.join(info, "top_level.txt"))
              if line.strip()]
    if listed:
        return sorted(set(re.split(r"[\\/]", entry)[-1] for entry in listed))
    sources = files if files is not None else [
        line.strip() for line in read_text(os.path.join(info, "SOURCES.txt")) if line.strip()]
    found = tops_of(site, sources)
    guess = name.replace("-", "_")
    return found or [top for top in (guess, guess.lower()) if present_module(site, top)][:1]


def info_folders(site):
    """(path, metadata file) of each .dist-info and .egg-info of site; an
    .egg-info that distutils wrote is a file, the metadata itself."""
    found = []
    for name in sorted(os.listdir(site)) if os.path.isdir(site) else ():
        path = os.path.join(site, name)
        if name.endswith(".dist-info") and os.path.isdir(path):
            found.append((path, os.path.join(path, "METADATA")))
        elif name.endswith(".egg-info"):
            found.append((path, os.path.join(path, "PKG-INFO") if os.path.isdir(path) else path))
    return found


def read_distributions(site):
    """The distributions installed in site, sorted by name regardless of
    case: dicts of name, version, license, info (the .dist-info or
    .egg-info), top_level and files (relative to site; None when the
    distribution recorded none, as setup.py's own install does not:
    SOURCES.txt is what its source held, not what it installed)."""
    found = []
    for info, metadata_file in info_folders(site):
        fields = metadata(metadata_file)
        base = os.path.basename(info).rsplit(".", 1)[0].split("-")
        name = (fields.get("name") or [base[0]])[0]
        version = (fields.get("version") or [base[1] if len(base) > 1 else ""])[0]
        files = recorded_files(site, info) if os.path.isdir(info) else None
        found.append({"name": name, "version": version, "license": licence(fields),
                      "info": info, "files": files,
                      "top_level": top_level(site, info, files, name)})
    return sorted(found, key=lambda distribution: canonical(distribution["name"]))


def folder_in(site, line):
    """A .pth folder line's folder relative to site with "/", matched to the
    names on disk regardless of case, as Windows finds it (pywin32 names
    Pythonwin for pythonwin); None when there is none inside site."""
    relative = inside(site, line)
    if relative is None or relative == ".":
        return None
    found = []
    for part in relative.split("/"):
        parent = os.path.join(site, *found)
        names = os.listdir(parent) if os.path.isdir(parent) else []
        matches = [n for n in names if n == part] or [n for n in names if n.lower() == part.lower()]
        if not matches or not os.path.isdir(os.path.join(parent, matches[0])):
            return None
        found.append(matches[0])
    return "/".join(found)


def namespace_of(line):
    """The namespace package a setuptools -nspkg.pth line makes: the names
    it joins to the site folder (*('a', 'b') gives a.b), else the first
    name it sets in sys.modules; None when it names none."""
    joined = re.search(r"\*\(\s*((?:['\"][^'\"]+['\"]\s*,?\s*)+)\)", line)
    if joined:
        return ".".join(re.findall(r"['\"]([^'\"]+)['\"]", joined.group(1)))
    set_by = re.search(r"sys\.modules\.setdefault\(\s*['\"]([^'\"]+)['\"]", line)
    return set_by.group(1) if set_by else None


def import_line_answer(name, line):
    """Why the build answers a .pth import line, with the namespace package
    it makes if any: (why, namespace), or (None, None) for a line it does
    not answer."""
    if name.endswith("-nspkg.pth"):
        namespace = namespace_of(line)
        if namespace:
            return "the namespace package %s is laid" % namespace, namespace
    elif "pywin32_system32" in line or line.split() == ["import", "pywin32_bootstrap"]:
        return "its DLLs are laid where the loader finds them", None
    return None, None


def read_pth_lines(site):
    """What site's .pth files do, read in sorted order as the site module
    reads them: {"folders": the folders their lines put on sys.path, relative
    to site with "/", each once (a line naming no folder inside site left
    out), "namespaces": the namespace packages their -nspkg.pth lines make,
    "answered": (file, line number, why) of each import line the build
    answers, "warnings": (file, line number, line) of every other}."""
    result = {"folders": [], "namespaces": [], "answered": [], "warnings": []}
    names = sorted(n for n in os.listdir(site) if n.endswith(".pth")) if os.path.isdir(site) else []
    for name in names:
        for number, line in enumerate(read_text(os.path.join(site, name)), 1):
            line = line.rstrip()
            if not line or line.startswith("#"):
                continue
            if line.startswith(("import ", "import\t")):
                why, namespace = import_line_answer(name, line)
                if why:
                    result["answered"].append((name, number, why))
                else:
                    result["warnings"].append((name, number, line))
                if namespace and namespace not in result["namespaces"]:
                    result["namespaces"].append(namespace)
                continue
            folder = folder_in(site, line)
            if folder and folder not in result["folders"]:
                result["folders"].append(folder)
    return result


def system_dlls(site):
    """The DLLs a distribution carries outside the folders of its modules:
    those of each top-level folder of site that is no package and that no
    .pth line puts on sys.path (pywin32's pywin32_system32). Sorted, relative
    to site with "/"."""
    on_path = set(pth_lines(site)["folders"])
    found = []
    for name in sorted(os.listdir(site)) if os.path.isdir(site) else ():
        folder = os.path.join(site, name)
        if (not os.path.isdir(folder) or name in on_path or
                os.path.isfile(os.path.join(folder, "__init__.py"))):
            continue
        found += [name + "/" + dll for dll in sorted(os.listdir(folder))
                  if dll.lower().endswith(".dll") and os.path.isfile(os.path.join(folder, dll))]
    return sorted(found)


def search_folders(sites):
    """Each site-packages folder with the folders its .pth files name, in
    order, as a normal interpreter's site module would put them on sys.path."""
    path = []
    for site in sites:
        path += [site] + [os.path.join(site, folder) for folder in pth_lines(site)["folders"]]
    return path


# What a site folder holds is read once a run: the layout asks at many steps.
_read = {}


def once(reader, site):
    key = (reader.__name__, os.path.normpath(site))
    if key not in _read:
        _read[key] = reader(site)
    return _read[key]


def forget(site):
    """Drops what was read of a site folder that is made anew."""
    for key in [key for key in _read if key[1] == os.path.normpath(site)]:
        del _read[key]


def distributions(site):
    """read_distributions(site), read once a run."""
    return once(read_distributions, site)


def pth_lines(site):
    """read_pth_lines(site), read once a run."""
    return once(read_pth_lines, site)
