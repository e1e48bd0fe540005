#!/usr/bin/env python3
"""Checks the python27.zip that a Windows build made from the kit's Lib/:
made again, it has the same bytes; it holds compiled modules only, with the
byte-code magic of Python 2.7, and none of what is left out; every codec,
and with MORVEX_STDLIB=ALL every module of the kit.

    python_zip_test.py PYTHON2.7 LAYOUT PLAN FOLDER CHECK_APP_FOLDER

LAYOUT is scripts/application_folder, PLAN and FOLDER what the build planned
and laid (BUILD/application-folder.json, BUILD/application-folder).
"""
import json
import os
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile

PYTHON2, LAYOUT, PLAN, FOLDER, CHECK_APP_FOLDER = sys.argv[1:6]
sys.path.insert(0, os.path.dirname(os.path.abspath(LAYOUT)))
from application_folder import rules  # noqa: E402

with open(PLAN) as f:
    SET = json.load(f)
LIB = SET["lib"]
BUILT = os.path.join(FOLDER, "python27.zip")
MAGIC = b"\x03\xf3\x0d\x0a"
# The build's time as a zip entry holds it, in steps of two seconds.
BUILD_TIME = time.gmtime(int(SET["epoch"]))[:6]
BUILD_TIME = BUILD_TIME[:5] + (BUILD_TIME[5] // 2 * 2,)


def kit_modules(only=None):
    expected = set()
    for folder, subfolders, files in os.walk(os.path.join(LIB, only) if only else LIB):
        subfolders[:] = [s for s in subfolders if rules.library_folder_kept(s)]
        for name in files:
            if name.endswith(".py"):
                relative = os.path.relpath(os.path.join(folder, name), LIB)
                expected.add(relative.replace(os.sep, "/")[:-3] + ".pyc")
    return expected


class PythonZipTest(unittest.TestCase):
    def test_a_second_build_gives_the_same_bytes(self):
        with tempfile.TemporaryDirectory() as folder:
            again = os.path.join(folder, "again")
            plan = dict(SET, report=os.path.join(folder, "report.txt"), output=again)
            with open(os.path.join(folder, "plan.json"), "w") as f:
                json.dump(plan, f)
            subprocess.run([PYTHON2, "-S", "-E", LAYOUT, "lay", f.name, CHECK_APP_FOLDER],
                           check=True)
            with open(BUILT, "rb") as first, open(os.path.join(again, "python27.zip"), "rb") as second:
                self.assertEqual(first.read(), second.read())
            self.assertEqual(sorted(os.listdir(os.path.join(FOLDER, "DLLs"))),
                             sorted(os.listdir(os.path.join(again, "DLLs"))))

    def test_holds_compiled_modules_only(self):
        with zipfile.ZipFile(BUILT) as archive:
            names = archive.namelist()
            self.assertEqual(names, sorted(names))
            for needed in ("os.pyc", "encodings/__init__.pyc", "encodings/cp1252.pyc",
                           "encodings/mbcs.pyc", "codecs.pyc", "copy_reg.pyc"):
                self.assertIn(needed, names)
            for name in names:
                parts = name.split("/")
                self.assertTrue(name.endswith(".pyc"), name)
                self.assertFalse(set(rules.LEFT_OUT) & set(parts), name)
                self.assertFalse(parts[0].startswith("plat-"), name)
                info = archive.getinfo(name)
                self.assertEqual(info.date_time, BUILD_TIME, name)
                self.assertEqual(archive.read(name)[:8], MAGIC + b"\0\0\0\0", name)

    def test_every_codec_and_with_all_every_module(self):
        with zipfile.ZipFile(BUILT) as archive:
            names = set(archive.namelist())
        self.assertLessEqual(kit_modules("encodings"), names)
        if SET["stdlib"] == "ALL":
            self.assertEqual(names, kit_modules())
        else:
            # What no application of the tests imports.
            self.assertNotIn("pydoc.pyc", names)
            self.assertLess(len(names), len(kit_modules()) / 2)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
