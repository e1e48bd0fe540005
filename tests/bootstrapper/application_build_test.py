#!/usr/bin/env python3
"""The application's code as the build takes it (MORVEX_APPLICATION_DIRS,
MORVEX_TK, MORVEX_STDLIB): a build of this project of its own, configured
like the one that runs the test, for an application that imports no
Tkinter, and, for Windows, one whose imports the build must follow to lay
in the modules it needs, run on a clean machine.

    application_build_test.py --source SOURCE --cmake CMAKE [--define NAME=VALUE...]
                              [--wine WINE_RUN --wine-prefix PREFIX --kit KIT]
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
import zipfile

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

# An application that reaches the library in every way the build must see:
# top-level imports that bring extension modules and their DLLs (sqlite3),
# one whose extension module imports Python modules from C (cElementTree),
# one import inside a function only, one by a name in data, which
# MORVEX_INCLUDE_MODULES names, and an extension module of its own with a
# DLL beside it. It writes which of them worked.
IMPORTS = {
    "morvex/__init__.py": "",
    "morvex/desktop/__init__.py": "",
    "morvex/desktop/main.py": """import ctypes, hashlib, importlib, json, sqlite3, sys
import xml.etree.cElementTree as ET
import ownext


def late():
    import decimal
    return decimal.Decimal("1.5") + 1


def main():
    fraction = importlib.import_module("fractions").Fraction
    works = {
        "json": json.loads('{"a": 1}')["a"] == 1,
        "sqlite3": sqlite3.connect(":memory:").execute("select 40 + 2").fetchone()[0] == 42,
        "cElementTree": ET.fromstring("<a><b/></a>")[0].tag == "b",
        "ctypes": ctypes.sizeof(ctypes.c_void_p) == 8,
        "hashlib": hashlib.sha256(b"x").hexdigest()[:8] == "2d711642",
        "function": str(late()) == "2.5",
        "dynamic": fraction(1, 2) * 2 == 1,
        "extension": ownext.answer() == 42,
    }
    with open(sys.argv[1], "w") as f:
        json.dump(works, f)
""",
    "helper.c": "__declspec(dllexport) int helper_answer(void) { return 42; }\n",
    "ownext.c": """#include <Python.h>
__declspec(dllimport) int helper_answer(void);
static PyObject* answer(PyObject* self, PyObject* args) { return PyInt_FromLong(helper_answer()); }
static PyMethodDef methods[] = {{"answer", answer, METH_NOARGS, NULL}, {NULL, NULL, 0, NULL}};
PyMODINIT_FUNC initownext(void) { Py_InitModule("ownext", methods); }
""",
}
# An application of third-party packages, pywin32 first: each import and
# call it makes, and whether it worked, into the file its argument names.
PACKAGES = {
    "morvex/__init__.py": "",
    "morvex/desktop/__init__.py": "",
    "morvex/desktop/main.py": """import json, os, sys
import win32api, win32con, win32gui, pywintypes
import win32com.client
from win32com.client import gencache
import psutil, yaml, six


def main():
    works = {
        "win32api": win32api.GetCurrentProcessId() == os.getpid(),
        "win32con": win32con.MB_OK == 0,
        "win32gui": win32gui.GetDesktopWindow() != 0,
        "pywintypes": issubclass(pywintypes.error, Exception),
        "Dispatch": win32com.client.Dispatch("WScript.Shell").ExpandEnvironmentStrings(
            "%SystemRoot%") != "%SystemRoot%",
        "EnsureDispatch": gencache.EnsureDispatch("Scripting.FileSystemObject") is not None,
        "psutil": psutil.Process().pid == os.getpid(),
        "yaml": yaml.__with_libyaml__ and yaml.load("a: 1", Loader=yaml.CLoader) == {"a": 1},
        "six": six.PY2,
    }
    if len(sys.argv) > 2:
        import certifi
        works["certifi"] = os.path.isfile(certifi.where())
    with open(sys.argv[1], "w") as f:
        json.dump(works, f)
""",
}
# The shared packages' wheels and their SHA-256 (their PACKAGES.md).
WHEELS = {"pywin32==224": "82750bc8fc3c5561391dd55ef560112d5ae339b0859385a4f92fb5a966327611",
          "psutil==5.6.2": "d4aabb287a22acea0e97153eb66913efb4e8f155dbceb076cf2d494122d9ac62",
          "PyYAML==3.13": "918e56a60f6d2f338e0849e28d3ef3faf02c86e45570fbce4a783609e220571d",
          "six==1.16.0": "a88e04d3dcb69205cf05e9906516486974af51ac2ad1a4f5a255b3b195d8e6e5"}
DYNAMIC_LINE = 1 + [line.strip() for line in IMPORTS["morvex/desktop/main.py"].splitlines()].index(
    'fraction = importlib.import_module("fractions").Fraction')


def rules():
    """The layout's rules of what the folder carries of the kit."""
    sys.path.insert(0, os.path.join(test_support.ARGS.source, "scripts"))
    from application_folder import rules
    return rules


def library_modules(lib):
    """The byte code of every module the kit's Lib/ holds, as python27.zip
    names it."""
    found = set()
    for root, dirs, files in os.walk(lib):
        dirs[:] = [d for d in dirs if rules().library_folder_kept(d)]
        found |= {os.path.relpath(os.path.join(root, name), lib).replace(os.sep, "/") + "c"
                  for name in files if name.endswith(".py")}
    return found


def write(folder, files):
    for name, text in files.items():
        path = os.path.join(folder, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w") as f:
            f.write(text)


class ApplicationBuildTest(unittest.TestCase):
    """Each case stands alone: the build of the plain application is made
    once, by the first case that needs it, in a folder of its own; the
    others configure folders of their own."""

    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.mkdtemp(prefix="morvex-application-")
        cls.application = os.path.join(cls.root, "application")
        write(cls.application, APPLICATION)
        cls.windows = any(d.startswith("PYTHON27_WINDOWS_DIR=") for d in test_support.ARGS.define)

    @classmethod
    def tearDownClass(cls):
        if hasattr(cls, "prefix"):
            test_support.end_wine_session(cls.prefix)
        shutil.rmtree(cls.root, ignore_errors=True)

    def clean_machine(self):
        """A Wine prefix of a machine with nothing but Windows, made once."""
        cls = type(self)
        if not hasattr(cls, "prefix"):
            cls.prefix = test_support.copy_prefix(test_support.ARGS.wine_prefix, self.root,
                                                  test_support.ARGS.wine)
        return cls.prefix

    def cmake(self, *arguments):
        return subprocess.run([test_support.ARGS.cmake] + list(arguments), capture_output=True,
                              text=True, timeout=900)

    def configure(self, build, folders, *settings):
        defines = ["-D" + d for d in test_support.ARGS.define]
        return self.cmake("-S", test_support.ARGS.source, "-B", os.path.join(self.root, build),
                          "-DMORVEX_TESTS=OFF", "-DMORVEX_BENCHMARKS=OFF",
                          "-DMORVEX_BOOTSTRAPPER=ON", "-DMORVEX_STDLIB=IMPORTED",
                          "-DMORVEX_INCLUDE_MODULES=",
                          "-DMORVEX_APPLICATION_DIRS=" + ";".join(folders), *defines, *settings)

    def plain_build(self):
        """The build of APPLICATION, made once: (its folder, configure's
        output, the installed folder)."""
        cls = type(self)
        if not hasattr(cls, "plain"):
            configured = self.configure("plain", [self.application])
            self.assertEqual(configured.returncode, 0, configured.stdout + configured.stderr)
            build = os.path.join(self.root, "plain")
            built = self.cmake("--build", build, "-j2")
            self.assertEqual(built.returncode, 0, built.stdout + built.stderr)
            folder = os.path.join(self.root, "installed")
            installed = self.cmake("--install", build, "--prefix", folder, "--component", "runtime")
            self.assertEqual(installed.returncode, 0, installed.stderr)
            cls.plain = (build, configured.stdout, folder)
        return cls.plain

    def test_an_application_without_tkinter_gets_its_byte_code_and_no_tk(self):
        _, configured, folder = self.plain_build()
        modules = {name for name in tree(os.path.join(folder, "modules"))
                   if not name.startswith("python-source")}
        self.assertEqual(modules, {"morvex", "morvex/__init__.pyc", "morvex/desktop",
                                   "morvex/desktop/__init__.pyc", "morvex/desktop/main.pyc",
                                   "morvex/desktop/icons", "morvex/desktop/icons/app.txt",
                                   "notes.pyc"})
        if self.windows:
            self.assertEqual(TK_FILES & tree(folder), set())
            self.assertIn("Tk in the application folder: OFF", configured)

    def test_a_module_that_does_not_compile_stops_the_build(self):
        build, _, _ = self.plain_build()
        broken = os.path.join(self.application, "morvex", "desktop", "broken.py")
        write(self.application, {"morvex/desktop/broken.py": "def f():\n    pass\n  x = 1\n"})
        self.addCleanup(os.remove, broken)
        built = self.cmake("--build", build, "--target", "morvex_application_folder")
        self.assertNotEqual(built.returncode, 0)
        self.assertIn(broken + ":3: unindent does not match any outer indentation level",
                      built.stdout + built.stderr)

    def test_configure_refuses_missing_folders_and_a_missing_entry_module(self):
        elsewhere = os.path.join(self.root, "elsewhere")
        write(elsewhere, {"morvex/desktop/other.py": ""})
        missing = os.path.join(self.root, "missing")
        cases = [([self.application, missing], (), "names %s, which is no folder" % missing),
                 ([elsewhere], (), "No morvex/desktop/main.py in MORVEX_APPLICATION_DIRS")]
        if self.windows:
            cases.append(([self.application], ("-DMORVEX_INCLUDE_MODULES=json;no_such.*",),
                          "MORVEX_INCLUDE_MODULES names no_such.*, which is in neither the kit "
                          "nor the application"))
        for folders, settings, says in cases:
            with self.subTest(folders=folders, settings=settings):
                configured = self.configure("refused", folders, *settings)
                self.assertNotEqual(configured.returncode, 0)
                self.assertIn(says, " ".join((configured.stdout + configured.stderr).split()))

    # -- the library the folder carries (Windows) ---------------------------

    def imports_application(self):
        """IMPORTS, with ownext.pyd and helper.dll built by MinGW-w64."""
        folder = os.path.join(self.root, "imports")
        if not os.path.isdir(folder):
            write(folder, IMPORTS)
            gcc = "x86_64-w64-mingw32-gcc"
            kit = test_support.ARGS.kit
            for command in ([gcc, "-shared", "-o", "helper.dll", "helper.c"],
                            [gcc, "-shared", "-o", "ownext.pyd", "-DMS_WIN64", "-I" + kit + "/include",
                             "ownext.c", "helper.dll", kit + "/libs/libpython27.a"]):
                subprocess.run(command, cwd=folder, check=True)
            for name in ("helper.c", "ownext.c"):
                os.remove(os.path.join(folder, name))
        return folder

    def build_and_install(self, stdlib, name):
        """IMPORTS built with the setting, in a folder of its own: (the
        installed folder, the build's output, the build's folder)."""
        configured = self.configure(name + "-build", [self.imports_application()],
                                    "-DMORVEX_STDLIB=" + stdlib,
                                    "-DMORVEX_INCLUDE_MODULES=fractions")
        self.assertEqual(configured.returncode, 0, configured.stdout + configured.stderr)
        build = os.path.join(self.root, name + "-build")
        built = self.cmake("--build", build, "-j2")
        self.assertEqual(built.returncode, 0, built.stdout + built.stderr)
        folder = os.path.join(self.root, name)
        installed = self.cmake("--install", build, "--prefix", folder, "--component", "runtime")
        self.assertEqual(installed.returncode, 0, installed.stderr)
        return folder, built.stdout + built.stderr, build

    def test_imported_lays_in_what_the_application_reaches(self):
        if not test_support.ARGS.wine:
            self.skipTest("the Windows folder, under Wine (--wine)")
        folder, output, build = self.build_and_install("IMPORTED", "imported")
        main = os.path.join(self.root, "imports", "morvex", "desktop", "main.py")
        # The import by a name in data, a warning of the build and a line of
        # its report; fractions there because MORVEX_INCLUDE_MODULES names it.
        self.assertIn("warning: %s:%d: an import through importlib.import_module" %
                      (main, DYNAMIC_LINE), output)
        with open(os.path.join(build, "application-modules.txt")) as f:
            report = f.read()
        self.assertIn("%s:%d: importlib.import_module (morvex.desktop.main)" % (main, DYNAMIC_LINE),
                      report)
        self.assertRegex(report, r"python27\.zip/fractions\.pyc +\d+  library module +fractions "
                                 r"<- MORVEX_INCLUDE_MODULES")
        self.assertRegex(report, r"DLLs/_sqlite3\.pyd +\d+  extension module +_sqlite3 <- "
                                 r"sqlite3\.dbapi2 <- sqlite3 <- morvex\.desktop\.main <- "
                                 r"the application")
        self.assertRegex(report, r"DLLs/sqlite3\.dll +\d+  DLL +imported by DLLs/_sqlite3\.pyd")
        # Only what is reached: no unittest, no Tk, no SSL.
        names = tree(folder)
        self.assertNotIn("DLLs/_ssl.pyd", names)
        self.assertEqual(TK_FILES & names, set())
        self.assertIn("DLLs/sqlite3.dll", names)
        # On a machine with nothing but Windows, every import works.
        prefix = self.clean_machine()
        works = os.path.join(self.root, "works.json")
        env = test_support.controlled_environment({"WINE_RUN_PREFIX": prefix})
        run = test_support.run(os.path.join(folder, "morvex_desktop.exe"),
                               [test_support.windows(works)], env=env)
        self.assertEqual(run.returncode, 0, run.stderr.decode(errors="replace")[-2000:])
        with open(works) as f:
            self.assertEqual(json.load(f), dict((name, True) for name in (
                "json", "sqlite3", "cElementTree", "ctypes", "hashlib", "function", "dynamic",
                "extension")))
        checked = subprocess.run([self.check_app_folder(build), folder], capture_output=True,
                                 text=True)
        self.assertEqual(checked.returncode, 0, checked.stdout + checked.stderr)

    # -- third-party packages (Windows) -------------------------------------

    def packages_folder(self):
        shared = os.path.join(test_support.ARGS.source, "..", "shared", "python-packages-win64")
        if not test_support.ARGS.wine or not os.path.isdir(shared):
            self.skipTest("the Windows folder under Wine, with ../shared/python-packages-win64")
        return os.path.abspath(shared)

    def requirements(self, name, hashes):
        path = os.path.join(self.root, name)
        with open(path, "w") as f:
            f.write("".join("%s --hash=sha256:%s\n" % item for item in hashes.items()))
        return path

    def build_packages(self, name, *settings):
        """PACKAGES built with the settings: (the installed folder, the
        build's output); None for the output of a build that failed."""
        application = os.path.join(self.root, "packages-app")
        write(application, PACKAGES)
        configured = self.configure(name + "-build", [application], "-DMORVEX_REQUIREMENTS=",
                                    "-DMORVEX_WHEEL_DIRS=", "-DMORVEX_PACKAGE_DIRS=", *settings)
        self.assertEqual(configured.returncode, 0, configured.stdout + configured.stderr)
        build = os.path.join(self.root, name + "-build")
        built = self.cmake("--build", build, "-j2")
        if built.returncode:
            return None, built.stdout + built.stderr
        folder = os.path.join(self.root, name)
        installed = self.cmake("--install", build, "--prefix", folder, "--component", "runtime")
        self.assertEqual(installed.returncode, 0, installed.stderr)
        return folder, built.stdout + built.stderr

    def assert_packages_work(self, folder, expected):
        """On a machine with nothing but Windows every import and call works,
        and the run leaves the folder as it was."""
        names = tree(folder)
        # Named in MORVEX_INCLUDE_MODULES, imported by nothing.
        self.assertIn("modules/win32/lib/win32timezone.pyc", names)
        for absent in ("modules/pythonwin", "modules/psutil/tests", "modules/win32/test",
                       "modules/win32/Demos", "modules/win32com/test", "modules/adodbapi"):
            self.assertNotIn(absent, names)
        checked = subprocess.run([self.check_app_folder(folder + "-build"),
                                  folder], capture_output=True, text=True)
        self.assertEqual(checked.returncode, 0, checked.stdout + checked.stderr)
        prefix = self.clean_machine()
        works = os.path.join(self.root, "packages-works.json")
        env = test_support.controlled_environment({"WINE_RUN_PREFIX": prefix})
        arguments = [test_support.windows(works)] + (["certifi"] if "certifi" in expected else [])
        run = test_support.run(os.path.join(folder, "morvex_desktop.exe"), arguments, env=env)
        self.assertEqual(run.returncode, 0, run.stderr.decode(errors="replace")[-2000:])
        with open(works) as f:
            self.assertEqual(json.load(f), dict((name, True) for name in expected))
        self.assertEqual(tree(folder), names)

    def test_packages_from_wheels_with_hashes_work_on_a_clean_machine(self):
        wheels = os.path.join(self.packages_folder(), "wheels")
        folder, output = self.build_packages(
            "wheels", "-DMORVEX_REQUIREMENTS=" + self.requirements("requirements.txt", WHEELS),
            "-DMORVEX_WHEEL_DIRS=" + wheels, "-DMORVEX_INCLUDE_MODULES=win32timezone")
        self.assertIsNotNone(folder, output)
        self.assert_packages_work(folder, ["win32api", "win32con", "win32gui", "pywintypes",
                                           "Dispatch", "EnsureDispatch", "psutil", "yaml", "six"])

    def test_packages_from_a_site_packages_folder(self):
        site = os.path.join(self.packages_folder(), "site-packages")
        folder, output = self.build_packages("site", "-DMORVEX_PACKAGE_DIRS=" + site,
                                             "-DMORVEX_INCLUDE_MODULES=win32timezone")
        self.assertIsNotNone(folder, output)
        self.assert_packages_work(folder, ["win32api", "win32con", "win32gui", "pywintypes",
                                           "Dispatch", "EnsureDispatch", "psutil", "yaml", "six",
                                           "certifi"])

    def test_a_wheel_whose_hash_differs_stops_the_build(self):
        wheels = os.path.join(self.packages_folder(), "wheels")
        wrong = dict(WHEELS, **{"six==1.16.0": "0" * 64})
        folder, output = self.build_packages(
            "wrong-hash", "-DMORVEX_REQUIREMENTS=" + self.requirements("wrong.txt", wrong),
            "-DMORVEX_WHEEL_DIRS=" + wheels)
        self.assertIsNone(folder)
        self.assertIn("six", output)
        self.assertIn("hash", output.lower())

    def test_all_lays_in_every_module(self):
        if not test_support.ARGS.wine:
            self.skipTest("the Windows folder (--wine)")
        folder, _, _ = self.build_and_install("ALL", "all")
        with zipfile.ZipFile(os.path.join(folder, "python27.zip")) as archive:
            names = set(archive.namelist())
        self.assertEqual(names, library_modules(os.path.join(test_support.ARGS.kit, "Lib")))
        kit_dlls = {"DLLs/" + name for name in os.listdir(os.path.join(test_support.ARGS.kit, "DLLs"))
                    if rules().kit_dll_kept(name, tk=False)}
        self.assertLessEqual(kit_dlls, tree(folder))
        self.assertEqual({"DLLs/" + name for name in rules().TK_DLLS} & tree(folder), set())

    def check_app_folder(self, build):
        for define in test_support.ARGS.define:
            if define.startswith("MORVEX_HOST_CHECK_APP_FOLDER="):
                return define.split("=", 1)[1]
        return os.path.join(build, "host-tools", "tools", "check_app_folder")


def add_arguments(parser):
    parser.add_argument("--wine", help="the build's wine-run: the folder runs under Wine")
    parser.add_argument("--wine-prefix", help="the runs' Wine prefix, copied for a clean machine")
    parser.add_argument("--kit", help="the Windows Python 2.7 kit, for the extension module")
    parser.add_argument("--source", required=True, help="this project's source folder")
    parser.add_argument("--cmake", default="cmake")
    parser.add_argument("--define", action="append", default=[],
                        help="a cache setting of the build the test runs in, NAME=VALUE")


if __name__ == "__main__":
    test_support.main(add_arguments)
