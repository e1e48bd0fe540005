#!/usr/bin/env python2.7
"""The application folder's rules as tables, under the build host's Python
2.7 and without a cross build: what a name of MORVEX_INCLUDE_MODULES or
MORVEX_EXCLUDE_MODULES stands for, what resolves to nothing and what is
left out as another system's, the imports the build cannot follow, what the
kit's C code imports, the kit's DLLs the folder leaves out, which DLLs an
extension module brings and what the runtime's manifest says. The last two
read the Windows kit's real files when it is there (PYTHON27_WINDOWS_DIR,
else ../shared/python27-win64 beside the sources).

    application_folder_rules_test.py --source SOURCE --check-app-folder TOOL
"""
import argparse
import os
import shutil
import sys
import tempfile
import textwrap
import unittest

ARGS = None


def write(folder, files):
    for name, text in files.items():
        path = os.path.join(folder, name)
        if not os.path.isdir(os.path.dirname(path)):
            os.makedirs(os.path.dirname(path))
        with open(path, "w") as f:
            f.write(textwrap.dedent(text))


# A small kit: its library, DLLs/ (empty files stand for extension
# modules, which are never read here) and an application.
LIB = {"copy_reg.py": "", "encodings/__init__.py": "", "encodings/utf_8.py": "import codecs\n",
       "codecs.py": "", "copy.py": "", "mod.py": "", "_strptime.py": "",
       "pkg/__init__.py": "", "pkg/a.py": "", "pkg/sub/__init__.py": "", "pkg/sub/b.py": "",
       "xml/__init__.py": "", "xml/etree/__init__.py": "", "xml/etree/ElementTree.py": "",
       "xml/etree/ElementPath.py": ""}
DLLS = {"_elementtree.pyd": "", "pyexpat.pyd": "", "_sqlite3.pyd": ""}
APP = {"morvex/__init__.py": "", "morvex/desktop/__init__.py": "",
       "morvex/desktop/main.py": """\
           import pkg.a
           import mod
           def main():
               import _elementtree, time
           if __name__ == "__main__":
               import doctest
           """,
       "morvex/desktop/other.py": """\
           try:
               import posix, pwd
           except ImportError:
               import Carbon.File
           import nosuch
           """}


# What setuptools writes into a *-nspkg.pth file for the namespace google.
NSPKG_LINE = ("import sys, types, os;has_mfs = sys.version_info > (3, 5);"
              "p = os.path.join(sys._getframe(1).f_locals['sitedir'], *('google',));"
              "ie = os.path.exists(os.path.join(p,'__init__.py'));"
              "m = not ie and not has_mfs and sys.modules.setdefault('google', "
              "types.ModuleType('google'));mp = (m or []) and m.__dict__.setdefault('__path__',[]);"
              "(p not in mp) and mp.append(p)\n")


class Rules(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.mkdtemp(prefix="morvex-rules-")
        cls.lib, cls.dlls, cls.app = (os.path.join(cls.root, n) for n in ("Lib", "DLLs", "app"))
        write(cls.lib, LIB)
        write(cls.dlls, DLLS)
        write(cls.app, APP)
        cls.main = os.path.join(cls.app, "morvex", "desktop", "main.py")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.root, ignore_errors=True)

    def follow(self, included=(), excluded=()):
        return imports.follow(self.lib, self.dlls, False, [self.app], list(included),
                              list(excluded))

    def test_what_a_name_stands_for(self):
        finder = imports.resolver(self.lib, self.dlls, False, [self.app])
        for name, modules in [
                ("mod", ["mod"]), ("mod.*", ["mod"]), ("pkg", ["pkg"]),
                ("pkg.*", ["pkg", "pkg.a", "pkg.sub", "pkg.sub.b"]),
                ("pkg.sub.*", ["pkg.sub", "pkg.sub.b"]), ("pkg.a", ["pkg.a"]),
                ("morvex.desktop.*", ["morvex.desktop", "morvex.desktop.main",
                                      "morvex.desktop.other"]),
                # A built-in module of python27.dll and an extension module of DLLs/.
                ("sys", ["sys"]), ("_sqlite3", ["_sqlite3"]),
                ("nothing", None), ("pkg.nothing", None), ("nothing.*", None), ("mod.x", None)]:
            self.assertEqual(imports.resolve(finder, name), modules, name)

    def test_what_an_excluded_name_leaves_out(self):
        finder = self.follow(excluded=["pkg.*", "mod"])
        for name, out in [("pkg", True), ("pkg.a", True), ("pkg.sub.b", True), ("pkgx", False),
                          ("mod", True), ("mod.x", False), ("module", False)]:
            self.assertEqual(finder.is_excluded(name), out, name)
        self.assertNotIn("pkg.a", finder.modules)
        # Configure warns of each import of the application's that it leaves out.
        warned = imports.excluded_imports(imports.resolver(self.lib, self.dlls, False, [self.app]),
                                          ["pkg.*"], [("morvex.desktop.main", self.main)])
        self.assertEqual(warned, [(self.main, 1, "pkg.a")])

    def test_what_is_followed_and_why(self):
        finder = self.follow(included=["pkg.sub.b"])
        for name, chain in [
                ("pkg.a", "pkg.a <- morvex.desktop.main <- the application"),
                # Inside a function, and what the kit's C code imports.
                ("pyexpat", "pyexpat <- _elementtree <- morvex.desktop.main <- the application"),
                ("xml.etree.ElementTree", "xml.etree.ElementTree <- _elementtree <- "
                                          "morvex.desktop.main <- the application"),
                ("_strptime", "_strptime <- time <- morvex.desktop.main <- the application"),
                ("copy_reg", "copy_reg <- the interpreter"),
                ("encodings.utf_8", "encodings.utf_8 <- every codec"),
                ("pkg.sub.b", "pkg.sub.b <- MORVEX_INCLUDE_MODULES")]:
            self.assertIn(name, finder.modules)
            self.assertEqual(imports.chain(finder, name), chain)
        # Only the program's own run imports what the main block does.
        self.assertNotIn("doctest", finder.badmodules)
        self.assertNotIn("doctest", finder.modules)

    def test_what_resolves_to_nothing_leaves_other_systems_out(self):
        self.assertEqual(imports.missing(self.follow()),
                         [("nosuch", ["morvex.desktop.other"])])

    def test_a_namespace_package_of_an_nspkg_line_is_followed(self):
        site = os.path.join(self.root, "site")
        write(site, {"google/protobuf/__init__.py": "import six\n", "six.py": "",
                     "protobuf-3.0-nspkg.pth": NSPKG_LINE})
        app = os.path.join(self.root, "nsapp")
        write(app, {"morvex/__init__.py": "", "morvex/desktop/__init__.py": "",
                    "morvex/desktop/main.py": "import google.protobuf\n"})
        plan = {"application": [app], "package_dirs": [site], "platform": "windows"}
        finder = imports.follow(self.lib, self.dlls, False, [app], [], [],
                                package_layout.package_path(plan),
                                package_layout.namespace_packages(plan))
        self.assertEqual(imports.chain(finder, "six"), "six <- google.protobuf <- "
                         "morvex.desktop.main <- the application")
        self.assertEqual(finder.modules["google"].__path__, [os.path.join(site, "google")])

    def test_imports_the_build_cannot_follow(self):
        path = os.path.join(self.root, "dynamic.py")
        write(self.root, {"dynamic.py": """\
            m = __import__("a")
            n = importlib.import_module("b")
            o = imp.load_source("c", "c.py")
            exec "import d"
            execfile("e.py")
            p = imp.load_dynamic("f", "f.pyd")
            q = getattr(m, "import_module")
            import_module("not through a module: a function of its own")
            """})
        self.assertEqual(imports.dynamic_imports(path),
                         [(1, "__import__"), (2, "importlib.import_module"),
                          (3, "imp.load_source"), (4, "exec"), (5, "execfile"),
                          (6, "imp.load_dynamic")])

    def test_the_kits_dlls_the_folder_leaves_out(self):
        for name, tk, kept in [("_ssl.pyd", False, True), ("sqlite3.dll", False, True),
                               ("_testcapi.pyd", True, False), ("_ctypes_test.pyd", True, False),
                               ("python27.pdb", True, False), ("tclpip85.dll", True, False),
                               ("_tkinter.pyd", False, False), ("tk85.dll", False, False),
                               ("_tkinter.pyd", True, True), ("tcl85.dll", True, True)]:
            self.assertEqual(rules.kit_dll_kept(name, tk), kept, (name, tk))
        for folder, kept in [("json", True), ("test", False), ("site-packages", False),
                             ("idlelib", False), ("plat-win", False), ("lib-tk", False)]:
            self.assertEqual(rules.library_folder_kept(folder), kept, folder)


class KitRules(unittest.TestCase):
    """The rules that read PE files, on the real kit's."""

    def setUp(self):
        kit = os.environ.get("PYTHON27_WINDOWS_DIR") or os.path.join(
            ARGS.source, "..", "shared", "python27-win64")
        if not os.path.isfile(os.path.join(kit, "python27.dll")):
            self.skipTest("no Windows Python 2.7 kit (PYTHON27_WINDOWS_DIR)")
        self.kit = os.path.abspath(kit)

    def test_which_dlls_an_extension_module_brings(self):
        plan = {"dlls": os.path.join(self.kit, "DLLs")}
        for names, brought in [
                (["_sqlite3.pyd"], {"_sqlite3.pyd": None, "sqlite3.dll": "_sqlite3.pyd"}),
                (["_tkinter.pyd"], {"_tkinter.pyd": None, "tcl85.dll": "_tkinter.pyd",
                                    "tk85.dll": "_tkinter.pyd"}),
                (["_socket.pyd", "select.pyd"], {"_socket.pyd": None, "select.pyd": None})]:
            self.assertEqual(dict(layout.with_their_dlls(plan, names, ARGS.check_app_folder)),
                             brought, names)

    def test_what_the_runtimes_manifest_says(self):
        dll = os.path.join(self.kit, "python27.dll")
        sqlite = os.path.join(self.kit, "DLLs", "sqlite3.dll")
        facts = pe_files.describe(ARGS.check_app_folder, [dll, sqlite])
        self.assertEqual(facts[dll]["machine"], "0x8664")
        self.assertIn("KERNEL32.dll", facts[dll]["imports"])
        identity = pe_files.asks_for(facts[dll], rules.RUNTIME_ASSEMBLY)
        self.assertEqual(identity, ("win32", "Microsoft.VC90.CRT", "9.0.21022.8", "amd64",
                                    "1fc8b3b9a1e18e3b"))
        self.assertEqual(
            runtime_assembly.manifest(identity, ["/vc90/msvcr90.dll", "/vc90/msvcp90.dll"]),
            '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
            '<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">\n'
            '  <noInheritable/>\n'
            '  <assemblyIdentity type="win32" name="Microsoft.VC90.CRT" version="9.0.21022.8" '
            'processorArchitecture="amd64" publicKeyToken="1fc8b3b9a1e18e3b"/>\n'
            '  <file name="msvcr90.dll"/>\n  <file name="msvcp90.dll"/>\n</assembly>\n')
        # A file that is no PE image says so.
        facts = pe_files.describe(ARGS.check_app_folder, [os.path.join(self.kit, "LICENSE.txt")])
        self.assertTrue(facts.values()[0]["error"])


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--source", required=True)
    parser.add_argument("--check-app-folder", required=True)
    ARGS, rest = parser.parse_known_args()
    sys.path.insert(0, os.path.join(ARGS.source, "scripts", "application_folder"))
    import imports  # noqa: E402
    import layout  # noqa: E402
    import package_layout  # noqa: E402
    import pe_files  # noqa: E402
    import rules  # noqa: E402
    import runtime_assembly  # noqa: E402
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
