#!/usr/bin/env python3
"""The application's code as the build takes it (MORVEX_APPLICATION_DIRS,
MORVEX_TK): a build of this project of its own, configured like the one
that runs the test, for an application that imports no Tkinter.

    application_build_test.py --source SOURCE --cmake CMAKE [--define NAME=VALUE...]
"""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import test_support  # noqa: E402
from test_support import tree  # noqa: E402

APPLICATION = {
    "morvex/__init__.py": "",
    "morvex/desktop/__init__.py": "",
    "morvex/desktop/main.py": "import json\n\ndef main():\n    pass\n",
    "morvex/desktop/icons/app.txt": "data\n",
    "notes.py": "import os.path\n",
}
TK_FILES = {"DLLs/_tkinter.pyd", "DLLs/tcl85.dll", "DLLs/tk85.dll", "lib"}


def write(folder, files):
    for name, text in files.items():
        path = os.path.join(folder, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w") as f:
            f.write(text)


class ApplicationBuildTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.mkdtemp(prefix="morvex-application-")
        cls.application = os.path.join(cls.root, "application")
        write(cls.application, APPLICATION)
        cls.build = os.path.join(cls.root, "build")
        cls.windows = any(d.startswith("PYTHON27_WINDOWS_DIR=") for d in test_support.ARGS.define)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.root, ignore_errors=True)

    def cmake(self, *arguments):
        return subprocess.run([test_support.ARGS.cmake] + list(arguments), capture_output=True,
                              text=True, timeout=900)

    def configure(self, folders):
        defines = ["-D" + d for d in test_support.ARGS.define]
        return self.cmake("-S", test_support.ARGS.source, "-B", self.build, "-DMORVEX_TESTS=OFF",
                          "-DMORVEX_BENCHMARKS=OFF", "-DMORVEX_BOOTSTRAPPER=ON",
                          "-DMORVEX_APPLICATION_DIRS=" + ";".join(folders), *defines)

    def test_1_an_application_without_tkinter_gets_its_byte_code_and_no_tk(self):
        configured = self.configure([self.application])
        self.assertEqual(configured.returncode, 0, configured.stdout + configured.stderr)
        built = self.cmake("--build", self.build, "-j2")
        self.assertEqual(built.returncode, 0, built.stdout + built.stderr)
        folder = os.path.join(self.root, "installed")
        installed = self.cmake("--install", self.build, "--prefix", folder, "--component", "runtime")
        self.assertEqual(installed.returncode, 0, installed.stderr)
        modules = {name for name in tree(os.path.join(folder, "modules"))
                   if not name.startswith("python-source")}
        self.assertEqual(modules, {"morvex", "morvex/__init__.pyc", "morvex/desktop",
                                   "morvex/desktop/__init__.pyc", "morvex/desktop/main.pyc",
                                   "morvex/desktop/icons", "morvex/desktop/icons/app.txt",
                                   "notes.pyc"})
        if self.windows:
            self.assertEqual(TK_FILES & tree(folder), set())
            self.assertIn("Tk in the application folder: OFF", configured.stdout)

    def test_2_a_module_that_does_not_compile_stops_the_build(self):
        if not os.path.isdir(self.build):
            self.skipTest("needs the build of the test before")
        broken = os.path.join(self.application, "morvex", "desktop", "broken.py")
        write(self.application, {"morvex/desktop/broken.py": "def f():\n    pass\n  x = 1\n"})
        self.addCleanup(os.remove, broken)
        built = self.cmake("--build", self.build, "--target", "morvex_application")
        self.assertNotEqual(built.returncode, 0)
        self.assertIn(broken + ":3: unindent does not match any outer indentation level",
                      built.stdout + built.stderr)

    def test_3_configure_refuses_missing_folders_and_a_missing_entry_module(self):
        elsewhere = os.path.join(self.root, "elsewhere")
        write(elsewhere, {"morvex/desktop/other.py": ""})
        missing = os.path.join(self.root, "missing")
        for folders, says in (([self.application, missing], "names %s, which is no folder" % missing),
                              ([elsewhere], "No morvex/desktop/main.py in MORVEX_APPLICATION_DIRS")):
            with self.subTest(folders=folders):
                configured = self.configure(folders)
                self.assertNotEqual(configured.returncode, 0)
                self.assertIn(says, " ".join((configured.stdout + configured.stderr).split()))


def add_arguments(parser):
    parser.add_argument("--source", required=True, help="this project's source folder")
    parser.add_argument("--cmake", default="cmake")
    parser.add_argument("--define", action="append", default=[],
                        help="a cache setting of the build the test runs in, NAME=VALUE")


if __name__ == "__main__":
    test_support.main(add_arguments)
