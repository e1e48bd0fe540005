#!/usr/bin/env python3
"""Checks the python27.zip that a Windows build made from the kit's Lib/:
made again, it has the same bytes; it holds compiled modules only, with the
byte-code magic of Python 2.7, and none of what is left out.

    python_zip_test.py PYTHON2.7 COMPILE_APPLICATION.py KIT_LIB BUILT_ZIP EPOCH
"""
import os
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile

PYTHON2, SCRIPT, LIB, BUILT, EPOCH = sys.argv[1:6]
MAGIC = b"\x03\xf3\x0d\x0a"
# The build's time as a zip entry holds it, in steps of two seconds.
BUILD_TIME = time.gmtime(int(EPOCH))[:6]
BUILD_TIME = BUILD_TIME[:5] + (BUILD_TIME[5] // 2 * 2,)


class PythonZipTest(unittest.TestCase):
    def test_a_second_build_gives_the_same_bytes(self):
        with tempfile.TemporaryDirectory() as folder:
            again = os.path.join(folder, "python27.zip")
            subprocess.run([PYTHON2, "-S", "-E", SCRIPT, "library-zip", LIB, again, EPOCH],
                           check=True)
            with open(BUILT, "rb") as first, open(again, "rb") as second:
                self.assertEqual(first.read(), second.read())

    def test_holds_compiled_modules_only(self):
        with zipfile.ZipFile(BUILT) as archive:
            names = archive.namelist()
            self.assertEqual(names, sorted(names))
            for needed in ("os.pyc", "encodings/__init__.pyc", "encodings/cp1252.pyc",
                           "encodings/mbcs.pyc", "json/__init__.pyc", "ctypes/__init__.pyc",
                           "codecs.pyc", "zipfile.pyc"):
                self.assertIn(needed, names)
            for name in names:
                parts = name.split("/")
                self.assertTrue(name.endswith(".pyc"), name)
                self.assertFalse({"test", "tests", "site-packages"} & set(parts), name)
                self.assertFalse(parts[0].startswith("plat-"), name)
                info = archive.getinfo(name)
                self.assertEqual(info.date_time, BUILD_TIME, name)
                self.assertEqual(archive.read(name)[:8], MAGIC + b"\0\0\0\0", name)

    def test_every_module_of_the_kit_is_in_it(self):
        expected = set()
        for folder, subfolders, files in os.walk(LIB):
            subfolders[:] = [s for s in subfolders
                             if s not in ("test", "tests", "site-packages", "idlelib", "lib-tk",
                                          "ensurepip") and not s.startswith("plat-")]
            for name in files:
                if name.endswith(".py"):
                    relative = os.path.relpath(os.path.join(folder, name), LIB)
                    expected.add(relative.replace(os.sep, "/")[:-3] + ".pyc")
        with zipfile.ZipFile(BUILT) as archive:
            self.assertEqual(set(archive.namelist()), expected)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
