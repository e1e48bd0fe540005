#!/usr/bin/env python2.7
"""The application folder's package rules as tables, under the build host's
Python 2.7: what a folder laid out like site-packages holds (distributions,
licences, top-level names, files), what its .pth files do, which DLLs a
distribution carries apart, the wheels of a folder, and staging
requirements with pip for Windows. The rows on real packages read
../shared/python-packages-win64 beside the sources (or --packages) and are
skipped without it; those that run pip are skipped with MORVEX_SKIP_PIP=1.

    package_rules_test.py --source SOURCE [--packages DIR]
"""
import argparse
import hashlib
import os
import shutil
import sys
import tempfile
import time
import unittest
import zipfile

ARGS = None
SETUPTOOLS_NSPKG = (
    "import sys, types, os;has_mfs = sys.version_info > (3, 5);p = os.path.join("
    "sys._getframe(1).f_locals['sitedir'], *(%s));importlib = has_mfs and "
    "__import__('importlib.util');has_mfs and __import__('importlib.machinery');"
    "m = has_mfs and sys.modules.setdefault(%s, importlib.util.module_from_spec("
    "importlib.machinery.PathFinder.find_spec(%s, [os.path.dirname(p)])));"
    "m = m or sys.modules.setdefault(%s, types.ModuleType(%s));"
    "mp = (m or []) and m.__dict__.setdefault('__path__',[]);(p not in mp) and mp.append(p)\n")
# A folder laid out like site-packages, with what the shared one lacks: a
# namespace package's .pth, a .pth import line the build does not answer,
# a licence given by classifiers alone, pip's record of a source install.
SITE = {
    "google_cloud-nspkg.pth":
        SETUPTOOLS_NSPKG % (("'google',",) + ("'google'",) * 4) +
        SETUPTOOLS_NSPKG % (("'google', 'cloud'",) + ("'google.cloud'",) * 4) +
        "import sys; sys.stdout.write('no namespace named here')\n",
    "local.pth": "# a comment line\n\nextra\nExtra\nnowhere\nlib\\sub\n"
                 "import tool; tool.setup()\n",
    "extra/z.dll": "", "lib/sub/w.dll": "", "libs/x.dll": "", "libs/Y.DLL": "",
    "libs/notes.txt": "", "pkg/__init__.py": "", "pkg/y.dll": "",
    "foo/__init__.py": "", "foo_mod.py": "",
    "foo-1.0.dist-info/METADATA":
        "Metadata-Version: 2.1\nName: foo\nVersion: 1.0\nLicense: UNKNOWN\n"
        "Classifier: License :: OSI Approved :: MIT License\n"
        "Classifier: Programming Language :: Python :: 2\n"
        "Classifier: License :: Other/Proprietary License\n\nLicense: not a header\n",
    "foo-1.0.dist-info/RECORD":
        "foo/__init__.py,sha256=x,0\nfoo/__init__.pyc,,\nfoo_mod.py,,\n"
        "foo-1.0.dist-info/RECORD,,\n../../Scripts/foo.exe,,\n",
    "bar-2.0-py2.7.egg-info/PKG-INFO": "Metadata-Version: 1.1\nName: bar\nVersion: 2.0\n"
                                       "License: \n",
    "bar-2.0-py2.7.egg-info/installed-files.txt": "..\\bar.py\n..\\bar.pyc\nPKG-INFO\n",
    "bar.py": ""}
PYWIN32_DLLS = ["pywin32_system32/pythoncom27.dll", "pywin32_system32/pythoncomloader27.dll",
                "pywin32_system32/pywintypes27.dll"]
# PACKAGES.md's SHA-256 of the shared wheels.
WHEELS = {
    "pywin32": ("pywin32-224-cp27-cp27m-win_amd64.whl",
                "82750bc8fc3c5561391dd55ef560112d5ae339b0859385a4f92fb5a966327611"),
    "psutil": ("psutil-5.6.2-cp27-cp27m-win_amd64.whl",
               "d4aabb287a22acea0e97153eb66913efb4e8f155dbceb076cf2d494122d9ac62"),
    "pyyaml": ("PyYAML-3.13-cp27-cp27m-win_amd64.whl",
               "918e56a60f6d2f338e0849e28d3ef3faf02c86e45570fbce4a783609e220571d"),
    "six": ("six-1.16.0-py2.py3-none-any.whl",
            "a88e04d3dcb69205cf05e9906516486974af51ac2ad1a4f5a255b3b195d8e6e5")}


def write(folder, files):
    for name, text in files.items():
        path = os.path.join(folder, name)
        if not os.path.isdir(os.path.dirname(path)):
            os.makedirs(os.path.dirname(path))
        with open(path, "wb") as f:
            f.write(text)


def wheel(folder, name, version, requires=()):
    """A pure Python 2 wheel of one empty package, as pip installs it."""
    info = "%s-%s.dist-info/" % (name, version)
    archive = zipfile.ZipFile(os.path.join(folder, "%s-%s-py2-none-any.whl" % (name, version)),
                              "w")
    archive.writestr(name + "/__init__.py", "")
    archive.writestr(info + "METADATA", "Metadata-Version: 2.1\nName: %s\nVersion: %s\n%s" % (
        name, version, "".join("Requires-Dist: %s\n" % r for r in requires)))
    archive.writestr(info + "WHEEL", "Wheel-Version: 1.0\nGenerator: test\n"
                                     "Root-Is-Purelib: true\nTag: py2-none-any\n")
    archive.writestr(info + "RECORD", "")
    archive.close()


class PackageRules(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.mkdtemp(prefix="morvex-packages-")
        cls.site = os.path.join(cls.root, "site")
        write(cls.site, SITE)
        shared = ARGS.packages or os.path.join(ARGS.source, "..", "shared",
                                               "python-packages-win64")
        cls.shared = os.path.abspath(shared) if os.path.isdir(shared) else None

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.root, ignore_errors=True)

    def sites(self, rows):
        """The rows whose folder is there, each with its folder's path:
        "shared" stands for the shared site-packages, "temp" for SITE."""
        places = {"temp": self.site}
        if self.shared:
            places["shared"] = os.path.join(self.shared, "site-packages")
        return [(places[row[0]],) + tuple(row[1:]) for row in rows if row[0] in places]

    def skip_shared_rows(self):
        """Once a test's other rows have passed: says that its rows on the
        shared packages were left out."""
        if not self.shared:
            self.skipTest("rows on the shared packages: no python-packages-win64 (--packages)")

    def test_the_distributions_of_a_site(self):
        # (site, name, version, licence, top-level names (all, or those at
        # least), files: None, or (those at least, those never)).
        rows = [
            ("shared", "certifi", "2016.2.28", "ISC", ["certifi"], None),
            ("shared", "psutil", "5.6.2", "BSD", ["psutil"],
             (["psutil/_psutil_windows.pyd", "psutil-5.6.2.dist-info/RECORD"],
              ["psutil/__init__.pyc"])),
            ("shared", "pywin32", "224", "PSF",
             set(["win32api", "pythoncom", "pywintypes", "win32con", "win32com", "win32ui"]),
             (["pywin32.pth", "win32/lib/win32con.py", "pywin32_system32/pywintypes27.dll"],
              ["../../Scripts/pywin32_postinstall.py", "win32/lib/win32con.pyc"])),
            # No top_level.txt: the names that RECORD's files give.
            ("shared", "PyYAML", "3.13", "MIT", ["_yaml", "yaml"], (["_yaml.pyd"], [])),
            # distutils' .egg-info is the metadata file alone.
            ("shared", "six", "1.10.0", "MIT", ["six"], None),
            ("temp", "bar", "2.0", "unknown", ["bar"],
             (["bar-2.0-py2.7.egg-info/PKG-INFO", "bar.py"], ["bar.pyc"])),
            ("temp", "foo", "1.0", "OSI Approved :: MIT License; Other/Proprietary License",
             ["foo", "foo_mod"],
             (["foo/__init__.py", "foo_mod.py", "foo-1.0.dist-info/RECORD"],
              ["foo/__init__.pyc", "../../Scripts/foo.exe"]))]
        found = {}
        for site, name, version, licence, tops, files in self.sites(rows):
            if site not in found:
                found[site] = packages.distributions(site)
                names = [d["name"] for d in found[site]]
                self.assertEqual(names, sorted(names, key=lambda n: n.lower()))
            distribution = dict((d["name"], d) for d in found[site])[name]
            self.assertEqual((distribution["version"], distribution["license"]),
                             (version, licence), name)
            self.assertTrue(os.path.exists(distribution["info"]), name)
            if isinstance(tops, set):
                self.assertEqual(tops - set(distribution["top_level"]), set(), name)
            else:
                self.assertEqual(distribution["top_level"], tops, name)
            if files is None:
                self.assertIsNone(distribution["files"], name)
            else:
                self.assertEqual(set(files[0]) - set(distribution["files"]), set(), name)
                self.assertEqual(set(files[1]) & set(distribution["files"]), set(), name)
        self.skip_shared_rows()

    def test_what_the_pth_files_do(self):
        rows = [
            # pywin32.pth names Pythonwin, whose folder is pythonwin, and
            # win32\lib, as Windows writes it.
            ("shared", {"folders": ["win32", "win32/lib", "pythonwin"], "namespaces": [],
                        "answered": [("pywin32.pth", 9,
                                      "its DLLs are laid where the loader finds them")],
                        "warnings": []}),
            ("temp", {"folders": ["extra", "lib/sub"], "namespaces": ["google", "google.cloud"],
                      "answered": [
                          ("google_cloud-nspkg.pth", 1, "the namespace package google is laid"),
                          ("google_cloud-nspkg.pth", 2,
                           "the namespace package google.cloud is laid")],
                      "warnings": [
                          ("google_cloud-nspkg.pth", 3,
                           "import sys; sys.stdout.write('no namespace named here')"),
                          ("local.pth", 7, "import tool; tool.setup()")]})]
        for site, expected in self.sites(rows):
            self.assertEqual(packages.pth_lines(site), expected, site)
        self.skip_shared_rows()

    def test_the_dlls_a_distribution_carries_apart(self):
        # Not those of a package, nor of a folder a .pth line puts on
        # sys.path (pythonwin's mfc90.dll, win32's perfmondata.dll).
        rows = [("shared", PYWIN32_DLLS), ("temp", ["libs/Y.DLL", "libs/x.dll"])]
        for site, expected in self.sites(rows):
            self.assertEqual(packages.system_dlls(site), expected, site)
        self.skip_shared_rows()

    def test_the_wheels_of_folders(self):
        folder = os.path.join(self.root, "wheels")
        # Of one project's wheels, the highest version's (1.10 above 1.9,
        # which sorts after it).
        write(folder, {"Foo.Bar-1.10-py2-none-any.whl": "new",
                       "foo_bar-1.9-py2-none-any.whl": "old", "notes.txt": ""})
        self.assertEqual(packages.wheels([folder]), {"foo-bar": (
            os.path.join(folder, "Foo.Bar-1.10-py2-none-any.whl"),
            hashlib.sha256(b"new").hexdigest())})
        self.skip_shared_rows()
        wheels = os.path.join(self.shared, "wheels")
        self.assertEqual(packages.wheels([wheels]), dict(
            (key, (os.path.join(wheels, name), digest)) for key, (name, digest) in WHEELS.items()))


class Staging(unittest.TestCase):
    """stage() running the host's pip against the shared wheels."""

    @classmethod
    def setUpClass(cls):
        shared = ARGS.packages or os.path.join(ARGS.source, "..", "shared",
                                               "python-packages-win64")
        cls.wheels = os.path.abspath(os.path.join(shared, "wheels"))
        cls.root = tempfile.mkdtemp(prefix="morvex-staging-")
        # Wheels that only a leak of the user's settings would find, and one
        # that needs a package on Windows alone.
        cls.other = os.path.join(cls.root, "other")
        os.makedirs(cls.other)
        wheel(cls.other, "certifi", "2099.1.1")
        wheel(cls.other, "needy", "1.0", ['six; sys_platform == "win32"', "PyYAML"])
        write(cls.root, {"pip.conf": "[global]\nfind-links = %s\n" % cls.other})

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.root, ignore_errors=True)

    def setUp(self):
        if os.environ.get("MORVEX_SKIP_PIP") == "1":
            self.skipTest("MORVEX_SKIP_PIP=1")
        if not os.path.isdir(self.wheels):
            self.skipTest("no shared wheels: no python-packages-win64 (--packages)")

    def stage(self, files, wheel_dirs, environment):
        """stage() of the first of files (written into a fresh folder) with
        the environment's variables set meanwhile: (the staging folder, the
        refusal's text or None)."""
        folder = tempfile.mkdtemp(dir=self.root)
        write(folder, files)
        saved = dict((key, os.environ.get(key)) for key in environment)
        os.environ.update(environment)
        try:
            packages.stage([os.path.join(folder, sorted(files)[0])], wheel_dirs,
                           os.path.join(folder, "staging"), sys.executable)
            return os.path.join(folder, "staging"), None
        except byte_code.Refused as error:
            return None, str(error)
        finally:
            for key, value in saved.items():
                if value is None:
                    os.environ.pop(key)
                else:
                    os.environ[key] = value

    def test_staging_requirements_for_windows(self):
        leak = {"PIP_FIND_LINKS": self.other, "PIP_CONFIG_FILE": os.path.join(self.root,
                                                                              "pip.conf")}
        wrong = "0" * 64
        # (requirements files, the first staged, extra wheel folders, the
        # environment, (what is staged as (name, version)) or the words the
        # refusal must hold).
        rows = [
            ({"a.txt": "pywin32==224\npsutil==5.6.2\nPyYAML==3.13\nsix\n"}, [], {},
             [("psutil", "5.6.2"), ("pywin32", "224"), ("PyYAML", "3.13"), ("six", "1.16.0")]),
            # The user's own pip settings would find a certifi.
            ({"a.txt": "certifi\n"}, [], leak, ["found no wheel of certifi"]),
            ({"a.txt": "six==1.16.0 --hash=sha256:%s\n" % wrong}, [], {},
             ["for six does not match its --hash"]),
            # pip judges the condition for this host, which is no Windows.
            ({"a.txt": "needy\n"}, [self.other], {},
             ["needy requires [six; sys_platform == \"win32\"]", "Name six in"]),
            # A source of its own in an included file, refused before pip runs.
            ({"a.txt": "six\n-r inner.txt\n", "inner.txt": "# index\n--extra-index-url "
                                                           "https://example.invalid/simple\n"},
             [], {}, ["inner.txt:2: --extra-index-url"])]
        started = time.time()
        for files, wheel_dirs, environment, expected in rows:
            staging, refusal = self.stage(files, [self.wheels] + wheel_dirs, environment)
            if isinstance(expected[0], tuple):
                self.assertIsNone(refusal, files)
                self.assertEqual([(d["name"], d["version"])
                                  for d in packages.distributions(staging)], expected)
                self.assertEqual(packages.system_dlls(staging), PYWIN32_DLLS)
            else:
                self.assertTrue(refusal, files)
                for words in expected:
                    self.assertIn(words, refusal)
        sys.stderr.write("(staging took %.1f s) " % (time.time() - started))


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--source", required=True)
    parser.add_argument("--packages", default="")
    ARGS, rest = parser.parse_known_args()
    sys.path.insert(0, os.path.join(ARGS.source, "scripts", "application_folder"))
    import byte_code  # noqa: E402
    import packages  # noqa: E402
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
