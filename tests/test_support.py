"""What the end-to-end drivers share: their command line and entry, running
a program to its end, under Wine when asked, waiting for the report that
tests/report_child writes, the PE bytes of a signature, the application
package that morvex_desktop imports, and Wine's prefixes and wineserver.
"""
import argparse
import glob
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest

# The driver's own options, filled in by main() before any test runs.
ARGS = argparse.Namespace()
ABSENCE_WAIT = 2.0  # seconds to watch for a child that must not start


def main(add_arguments, configure=None):
    """Runs the calling driver's tests. add_arguments(parser) declares the
    driver's own options, which are parsed into ARGS; configure(ARGS), when
    given, sees them before the first test. The rest of the command line
    (-v, test names) goes to unittest."""
    parser = argparse.ArgumentParser()
    add_arguments(parser)
    _, rest = parser.parse_known_args(namespace=ARGS)
    if configure:
        configure(ARGS)
    unittest.main(module="__main__", argv=[sys.argv[0]] + rest, verbosity=2)


def windows(path):
    """The path as a Windows program under Wine sees it (drive Z:)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def host_path(path):
    """The path as the driver's programs see it: under Wine (--wine), drive Z:."""
    return windows(path) if ARGS.wine else path


def exe(name):
    """A program's file name on the driver's host: .exe under Wine."""
    return name + ".exe" if ARGS.wine else name


def run(program, args, cwd=None, env=None, user=None):
    """Runs a program to its end, through the runner --wine when given. Its
    output goes to files, not pipes: under Wine a child inherits the pipes
    and would hold them open after the program has ended."""
    command = ([ARGS.wine, program] if ARGS.wine else [program]) + list(args)
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        result = subprocess.run(command, cwd=cwd, env=env, user=user, stdin=subprocess.DEVNULL,
                                stdout=out, stderr=err, timeout=120)
        out.seek(0)
        err.seek(0)
        result.stdout, result.stderr = out.read(), err.read()
    return result


def wait_for(path, seconds=30.0):
    """The child's report once it is there, or None after seconds: the
    launcher does not wait for its child, so neither can the caller."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if os.path.exists(path):
            with open(path, encoding="utf-8") as report:
                return json.load(report)
        time.sleep(0.05)
    return None


def stage_child(test, child, prefix):
    """A fresh folder for one test, removed after it, holding a copy of the
    reporting child: (folder, child's copy, where it reports)."""
    folder = tempfile.mkdtemp(prefix=prefix)
    test.addCleanup(shutil.rmtree, folder, ignore_errors=True)
    copy = os.path.join(folder, os.path.basename(child))
    shutil.copy(child, copy)
    return folder, copy, os.path.join(folder, "report.json")


def wait_for_file(path, seconds=30.0):
    """The bytes of a file that another process writes once it is there
    (with its writer given a moment to finish), or None after seconds."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if os.path.exists(path):
            time.sleep(0.2)
            with open(path, "rb") as f:
                return f.read()
        time.sleep(0.05)
    return None


def write_launcher(stub, launcher, command, terminated=True, at=None):
    """A concrete launcher made by hand, without make_launcher: a copy of
    the stub, then "#!", command (text as UTF-8, or bytes) and the 0x00
    terminator, at offset at when given (the file is sparse in between)."""
    shutil.copy(stub, launcher)
    with open(launcher, "r+b") as image:
        image.seek(at if at is not None else os.path.getsize(launcher))
        command = command.encode() if isinstance(command, str) else command
        image.write(b"#!" + command + (b"\0" if terminated else b""))
    return launcher


# Just enough of the PE format to find a signature's certificate table.

def security_entry(image):
    """The file offset of the security data directory entry of a PE image."""
    header = struct.unpack_from("<I", image, 0x3C)[0]
    magic = struct.unpack_from("<H", image, header + 24)[0]
    return header + 24 + (96 if magic == 0x10B else 112) + 4 * 8


def certificate_table(image):
    """(offset, size) of the certificate table named by a PE image, or None."""
    offset, size = struct.unpack_from("<II", image, security_entry(image))
    return (offset, size) if offset and size else None


def write_package(folder, main, where="modules"):
    """The package morvex.desktop, which morvex_desktop imports, under
    folder/where (an application folder's modules/ by default): main.py of
    the source main, and empty __init__.py files."""
    package = os.path.join(folder, where, "morvex", "desktop")
    os.makedirs(package, exist_ok=True)
    for name, text in (("../__init__.py", ""), ("__init__.py", ""), ("main.py", main)):
        with open(os.path.join(package, name), "w") as f:
            f.write(text)


def controlled_environment(extra=None):
    """PATH only, plus the settings of the sanitizers and of Wine; never the
    PYTHON* variables of the machine, which the interpreter would honour."""
    env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin")}
    if ARGS.wine:
        # In the C locale Wine keeps only the low 7 bits of each byte of a
        # non-ASCII argument ("cafe\u0301" arrives as "cafC)").
        env["LANG"] = "C.UTF-8"
    for name in os.environ:
        if name in ("ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "HOME") or \
                name.startswith("WINE"):
            env[name] = os.environ[name]
    env.update(extra or {})
    return env


# Wine's own Visual C++ 2008 runtime in every prefix it makes, under
# drive_c/windows: the side-by-side assembly, its manifest, and the copies
# in system32.
WINE_VC90_RUNTIME = ("winsxs/amd64_microsoft.vc90.crt_*",
                     "winsxs/manifests/amd64_microsoft.vc90.crt_*", "system32/msvc[rpm]90.dll")


def copy_prefix(source_prefix, where, runner=None, clean=True):
    """A copy of the Wine prefix source_prefix, made in the folder where;
    when clean, without Wine's own Visual C++ 2008 runtime: a Windows
    machine that has nothing but Windows, where python.org's python27.dll
    loads only with the runtime carried in the application folder. Given the
    runner (a build's wine-run), a source prefix that is not there yet is
    made first. Programs run in the copy with WINE_RUN_PREFIX set to the
    path returned."""
    if runner and not os.path.exists(os.path.join(source_prefix, ".ready")):
        subprocess.run(runner.split() + ["cmd", "/c", "exit"], stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       env=dict(os.environ, WINE_RUN_PREFIX=source_prefix), timeout=300)
    prefix = os.path.join(where, "clean-machine-prefix" if clean else "machine-prefix")
    shutil.copytree(source_prefix, prefix, symlinks=True)
    windows = os.path.join(prefix, "drive_c", "windows")
    for pattern in WINE_VC90_RUNTIME if clean else ():
        found = glob.glob(os.path.join(windows, pattern))
        if not found:
            raise RuntimeError("%s has no %s: the copy would not be a clean machine" %
                               (source_prefix, pattern))
        for path in found:
            if os.path.isdir(path):
                shutil.rmtree(path)
            else:
                os.remove(path)
    return prefix


def wineserver(prefix, option, timeout=60):
    """Runs the wineserver of a prefix with option: -k ends the prefix's
    session, -w waits until every program of it has ended. It is the one
    beside the wine that scripts/wine-run starts."""
    wine = shutil.which("wine64") or shutil.which("wine") or "/usr/lib/wine/wine64"
    subprocess.run([os.path.join(os.path.dirname(wine), "wineserver"), option],
                   env=dict(os.environ, WINEPREFIX=prefix), stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=timeout)


def end_wine_session(prefix):
    """Ends the wineserver of a prefix made for a run, before the prefix is
    removed: left to end by itself, it would write its registry files into
    the folder after it is gone."""
    wineserver(prefix, "-k")


def tree(folder):
    """Every file and folder under folder, as relative paths with "/"."""
    entries = set()
    for root, dirs, files in os.walk(folder):
        for name in dirs + files:
            entries.add(os.path.relpath(os.path.join(root, name), folder).replace(os.sep, "/"))
    return entries
