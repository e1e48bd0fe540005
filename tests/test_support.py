"""What the end-to-end drivers share: their command line and entry, running
a program to its end, under Wine when asked, and waiting for the report that
tests/report_child writes.
"""
import argparse
import glob
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

# The driver's own options, filled in by main() before any test runs.
ARGS = argparse.Namespace()


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


def run(wine, program, args, cwd=None, env=None, user=None):
    """Runs a program to its end, through the runner wine when given. Its
    output goes to files, not pipes: under Wine a child inherits the pipes
    and would hold them open after the program has ended."""
    command = ([wine, program] if wine else [program]) + list(args)
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


# Wine's own Visual C++ 2008 runtime in every prefix it makes, under
# drive_c/windows: the side-by-side assembly, its manifest, and the copies
# in system32.
WINE_VC90_RUNTIME = ("winsxs/amd64_microsoft.vc90.crt_*",
                     "winsxs/manifests/amd64_microsoft.vc90.crt_*", "system32/msvc[rpm]90.dll")


def clean_machine_prefix(source_prefix, where, runner=None):
    """A copy of the Wine prefix source_prefix, made in the folder where,
    without Wine's own Visual C++ 2008 runtime: a Windows machine that has
    nothing but Windows, where python.org's python27.dll loads only with the
    runtime carried in the application folder. Given the runner (a build's
    wine-run), a source prefix that is not there yet is made first. Programs
    run in the copy with WINE_RUN_PREFIX set to the path returned."""
    if runner and not os.path.exists(os.path.join(source_prefix, ".ready")):
        subprocess.run(runner.split() + ["cmd", "/c", "exit"], stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       env=dict(os.environ, WINE_RUN_PREFIX=source_prefix), timeout=300)
    prefix = os.path.join(where, "clean-machine-prefix")
    shutil.copytree(source_prefix, prefix, symlinks=True)
    windows = os.path.join(prefix, "drive_c", "windows")
    for pattern in WINE_VC90_RUNTIME:
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


def end_wine_session(prefix):
    """Ends the wineserver of a prefix made for a run, before the prefix is
    removed: left to end by itself, it would write its registry files into
    the folder after it is gone."""
    server = shutil.which("wineserver") or "/usr/lib/wine/wineserver"
    subprocess.run([server, "-k"], env=dict(os.environ, WINEPREFIX=prefix),
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   timeout=60)


def tree(folder):
    """Every file and folder under folder, as relative paths with "/"."""
    entries = set()
    for root, dirs, files in os.walk(folder):
        for name in dirs + files:
            entries.add(os.path.relpath(os.path.join(root, name), folder).replace(os.sep, "/"))
    return entries
