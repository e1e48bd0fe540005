#!/usr/bin/env python3
"""The installed MorvexStartup package, used as a project of our own would.

Installs this build (every component) into a temporary prefix, configures
tests/downstream against it (with the same toolchain file for a cross
build), builds it, installs its runtime component as an application folder
and runs the launcher that morvex_add_launcher made there (under Wine for a
Windows build): the program of its trailer must get the trailer's tokens and
the launcher's own argument. Then checks that `cpack` packs exactly the
runtime component of this build, the application folder, into a ZIP named
with the version.

    downstream_test.py --build BUILD --source tests/downstream --cmake CMAKE
                       --cpack CPACK --version X.Y.Z [--toolchain FILE --wine RUNNER]
"""
import os
import shutil
import subprocess
import tempfile
import unittest
import zipfile

import test_support
from test_support import ARGS, windows


def as_seen(path):
    return windows(path) if ARGS.wine else path


def run(command, **kwargs):
    result = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, timeout=600, **kwargs)
    if result.returncode != 0:
        raise AssertionError("%s exited with %d:\n%s" % (
            " ".join(command), result.returncode, result.stdout.decode(errors="replace")))
    return result


def tree(folder):
    """Every file and folder under folder, as relative paths with "/"."""
    entries = set()
    for root, dirs, files in os.walk(folder):
        for name in dirs + files:
            entries.add(os.path.relpath(os.path.join(root, name), folder).replace(os.sep, "/"))
    return entries


class DownstreamTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.mkdtemp(prefix="morvex-downstream-")
        cls.prefix = os.path.join(cls.root, "prefix")
        run([ARGS.cmake, "--install", ARGS.build, "--prefix", cls.prefix])

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.root, ignore_errors=True)

    def install_component(self, component):
        folder = tempfile.mkdtemp(dir=self.root, prefix=component + "-")
        run([ARGS.cmake, "--install", ARGS.build, "--prefix", folder, "--component", component])
        return tree(folder)

    def test_components_split_the_install(self):
        suffix = ".exe" if ARGS.wine else ""
        package = "lib/cmake/MorvexStartup/"
        tools = {"tools", "tools/launcher" + suffix, "tools/make_launcher" + suffix}
        if ARGS.toolchain:
            tools |= {"tools/host", "tools/host/make_launcher"}
        development = {"lib", "lib/cmake", "lib/cmake/MorvexStartup", package + "morvex_add_launcher.cmake",
                       package + "MorvexStartupConfig.cmake", package + "MorvexStartupConfigVersion.cmake"}
        self.assertEqual(self.install_component("tools"), tools)
        self.assertEqual(self.install_component("development"), development)
        runtime = self.install_component("runtime")
        program = "morvex_desktop" + suffix
        top = {entry for entry in runtime if "/" not in entry}
        if ARGS.wine and program in runtime:
            self.assertEqual(top, {program, "launcher.exe", "python27.dll", "python27.zip",
                                   "DLLs", "modules"})
        self.assertIn("launcher" + suffix, runtime)
        # A build without the bootstrapper has no application packages.
        self.assertEqual("modules" in runtime, program in runtime)
        self.assertFalse({entry for entry in runtime if entry.startswith("tools")})
        self.assertFalse({entry for entry in runtime if entry.startswith("lib/cmake")})
        self.assertEqual(tree(self.prefix), runtime | tools | development)

    def test_downstream_launcher_starts_its_program(self):
        source = os.path.join(self.root, "source")
        shutil.copytree(ARGS.source, source)
        build = os.path.join(self.root, "build")
        app = os.path.join(self.root, "Down App")
        report = os.path.join(self.root, "notes.txt")
        configure = [ARGS.cmake, "-S", source, "-B", build, "-DAPP_DIR=" + as_seen(app),
                     "-DREPORT=" + as_seen(report)]
        if ARGS.toolchain:
            # The toolchain searches packages under its own root only; the
            # package's folder is named directly.
            configure += ["--toolchain", ARGS.toolchain,
                          "-DMorvexStartup_DIR=" + os.path.join(self.prefix, "lib/cmake/MorvexStartup")]
        else:
            configure += ["-DCMAKE_PREFIX_PATH=" + self.prefix]
        run(configure)
        run([ARGS.cmake, "--build", build])
        run([ARGS.cmake, "--install", build, "--prefix", app, "--component", "runtime"])
        suffix = ".exe" if ARGS.wine else ""
        self.assertEqual(tree(app), {"Notes" + suffix, "note_arguments" + suffix})

        launcher = os.path.join(app, "Notes" + suffix)
        run(([ARGS.wine] if ARGS.wine else []) + [launcher, "own argument"])
        written = test_support.wait_for_file(report)
        self.assertIsNotNone(written, "the launcher's program wrote nothing")
        self.assertEqual(written.decode().splitlines(), ["from-trailer", "two words", "own argument"])

    def test_zip_holds_exactly_the_application_folder(self):
        packages = os.path.join(self.root, "packages")
        # cpack builds the project first, in the folder where it runs.
        run([ARGS.cpack, "--config", os.path.join(ARGS.build, "CPackConfig.cmake"), "-B", packages],
            cwd=ARGS.build)
        zips = [name for name in os.listdir(packages) if name.endswith(".zip")]
        self.assertEqual(len(zips), 1, zips)
        top = zips[0][:-len(".zip")]
        self.assertTrue(top.startswith("morvex-desktop-" + ARGS.version + "-"), zips[0])
        with zipfile.ZipFile(os.path.join(packages, zips[0])) as archive:
            names = archive.namelist()
        self.assertTrue(all(name.startswith(top + "/") for name in names), names[:5])
        packed = set()
        for name in names:
            parts = name[len(top) + 1:].rstrip("/").split("/")
            packed |= {"/".join(parts[:i]) for i in range(1, len(parts) + 1) if parts[0]}
        self.assertEqual(packed, self.install_component("runtime"))


def add_arguments(parser):
    parser.add_argument("--build", required=True)
    parser.add_argument("--source", required=True)
    parser.add_argument("--cmake", required=True)
    parser.add_argument("--cpack", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--toolchain")
    parser.add_argument("--wine")


if __name__ == "__main__":
    test_support.main(add_arguments)
