#!/usr/bin/env python3
"""End-to-end tests of the runtime the installed morvex_desktop's folder
carries: the compiled application's tracebacks and data files, the standard
library at work, Tk with the folder's own Tcl, the folder's Visual C++ 2008
runtime on a machine that has nothing but Windows, and what check_app_folder
names where the folder lacks something. The harness is
bootstrapper_harness.py.

    runtime_test.py --build BUILD --python27 PYTHON27 [--cmake CMAKE]
                    [--check-app-folder CHECK] [--wine RUNNER --box-reader READER
                    --wine-prefix PREFIX]
"""
import os
import shutil
import subprocess

import bootstrapper_harness as harness  # first: it puts tests/ on the path
from bootstrapper_harness import FIXTURES, fixture, fixture_text, native, read_bytes
import test_support
from test_support import tree, write_package

RUNTIME = "Microsoft.VC90.CRT"
LAYOUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts",
                      "application_folder")

# An application's source as the build compiles it (scripts/application_folder):
# a traceback through its frames, and a data file read beside the module.
COMPILED_APPLICATION = os.path.join(FIXTURES, "compiled_application")

# main()'s body where the folder's Visual C++ 2008 runtime is to be used.
RUNTIME_BODY = fixture_text("runtime_body.py")

# main()'s body for Tk: the Tcl and Tk libraries the folder's Tcl took.
TK_BODY = fixture_text("tk_body.py")
TK_FILES = ["DLLs/_tkinter.pyd", "DLLs/tcl85.dll", "DLLs/tk85.dll", "lib/tcl8.5/init.tcl",
            "lib/tk8.5/tk.tcl", "lib/lib-tk/Tkinter.pyc"]


class RuntimeTest(harness.BootstrapperTest):
    # -- the application and the library ---------------------------------

    def test_compiled_application_keeps_source_lines_and_data_files(self):
        folder = self.app_folder()
        source = os.path.join(self.root, "application-source")
        shutil.copytree(COMPILED_APPLICATION, source,
                        ignore=shutil.ignore_patterns("__pycache__", "*.pyc"))
        os.rmdir(os.path.join(folder, "modules"))
        subprocess.run([test_support.ARGS.python27, "-S", "-E", "-B", LAYOUT, "compile", folder,
                        source], check=True)
        files = tree(folder)
        run = self.run_app(folder)
        self.assertEqual([run.code, run.boxes, run.errors], [0, b"", b""])
        lines = [line.strip() for line in run.stdout.decode().splitlines()]
        self.assertEqual(lines[0], "hello from beside the module")
        self.assertIn('File "python-source/morvex/desktop/helper.py", line 2, in fail', lines)
        self.assertIn("raise ValueError('from the helper')", lines)
        self.assertEqual(tree(folder), files)

    def test_standard_library_works_silently(self):
        codecs = ["utf-8", "cp1252"] + (["mbcs"] if harness.WINDOWS else [])
        body = fixture_text("standard_library_body.py").replace("CODECS", repr(codecs))
        folder = self.app_folder()
        write_package(folder, fixture(body))
        self.assert_clean_exit(self.run_app(folder))

    def test_tk_takes_the_folders_own_tcl(self):
        if not harness.WINDOWS:
            self.skipTest("Tk is carried in the Windows folder")
        missing = [name for name in TK_FILES if not os.path.exists(os.path.join(self.installed, name))]
        if missing:
            self.skipTest("this build carries no Tk (MORVEX_TK): %s" % missing)
        # Another Tcl installation, whole and working, that the user's
        # environment points at.
        other = os.path.join(self.root, "other-tcl")
        if not os.path.isdir(other):
            for library in ("tcl8.5", "tk8.5"):
                shutil.copytree(os.path.join(self.installed, "lib", library),
                                os.path.join(other, library))
        planted = {name + "_LIBRARY": test_support.windows(os.path.join(other, library))
                   for name, library in (("TCL", "tcl8.5"), ("TK", "tk8.5"), ("TIX", "tcl8.5"))}
        cases = [("clean machine", "app", self.clean_machine()),
                 ("outside the ANSI code page", "Snow \u2603 App", {}),
                 ("another Tcl's variables", "app", planted)]
        for case, name, env in cases:
            with self.subTest(case=case):
                folder = self.app_folder(name)
                write_package(folder, fixture(TK_BODY))
                run = self.run_app(folder, env=env)
                self.assert_clean_exit(run)
                lines = run.stdout.decode().splitlines()
                _, tcl, tk = lines[-3].split()
                self.assertEqual(lines[-2], "environment []")
                if name == "app":
                    self.assertEqual([tcl, tk], [native(folder) + "/lib/tcl8.5",
                                                 native(folder) + "/lib/tk8.5"])
                else:
                    # The folder by its short form, which Tcl takes from its DLL's path.
                    self.assertTrue(tcl.endswith("/lib/tcl8.5") and "?" not in tcl, tcl)
                    self.assertEqual(tk, tcl[:-len("tcl8.5")] + "tk8.5")

    # -- on a machine that has nothing but Windows -------------------------

    def clean_machine(self):
        """The environment of a run on a machine without the Visual C++ 2008
        runtime: a copy of the runs' own Wine prefix without Wine's, made once."""
        cls = type(self)
        if not hasattr(cls, "clean_prefix"):
            source = os.environ.get("WINE_RUN_PREFIX") or test_support.ARGS.wine_prefix
            if not source:
                self.skipTest("the Wine prefix of the runs is not known (--wine-prefix)")
            cls.clean_prefix = test_support.copy_prefix(source, cls.root, harness.WINE)
        return {"WINE_RUN_PREFIX": cls.clean_prefix}

    def runtime_folder(self, variant):
        """An application folder as installed ("with runtime": the assembly
        beside python27.dll and in DLLs/), or "without runtime" (in neither),
        with the manifest beside python27.dll naming "another version", or
        "without sqlite3.dll"."""
        folder = self.app_folder()
        assembly = os.path.join(folder, RUNTIME)
        if variant == "without runtime":
            for place in (folder, os.path.join(folder, "DLLs")):
                shutil.rmtree(os.path.join(place, RUNTIME), ignore_errors=True)
            return folder
        if not os.path.isdir(assembly):
            self.skipTest("this build carries no runtime (-DMORVEX_VC90_RUNTIME_DIR)")
        if variant == "another version":
            # A new file: the installed one is linked, not copied.
            manifest = os.path.join(assembly, RUNTIME + ".manifest")
            text = read_bytes(manifest)
            os.remove(manifest)
            with open(manifest, "wb") as f:
                f.write(text.replace(b' version="9.0.21022.8"', b' version="9.0.30729.9247"'))
        elif variant == "without sqlite3.dll":
            os.remove(os.path.join(folder, "DLLs", "sqlite3.dll"))
        return folder

    def test_clean_machine_starts_the_folder_only_with_its_runtime(self):
        if not harness.WINDOWS:
            self.skipTest("the Visual C++ 2008 runtime is a matter of the Windows folder")
        # Without the assembly python27.dll asks for, exactly, the loader
        # refuses the program before any of its code runs: no report, no box.
        # With it, python27.dll and the extension modules (which import
        # MSVCR90.dll too) load the folder's own runtime.
        for variant, code in (("without runtime", 53), ("another version", 53),
                              ("with runtime", 0)):
            with self.subTest(variant=variant):
                folder = self.runtime_folder(variant)
                write_package(folder, fixture(RUNTIME_BODY))
                run = self.run_app(folder, env=self.clean_machine())
                self.assertEqual(run.boxes, b"")
                self.assertEqual(run.code, code)
                if code:
                    self.assertIsNone(run.report)
                    continue
                self.assert_clean_exit(run)
                runtime = test_support.windows(os.path.join(folder, RUNTIME, "msvcr90.dll"))
                self.assertIn(b"runtime from " + runtime.lower().encode(), run.stdout.splitlines())

    def test_check_app_folder_names_what_the_folder_lacks(self):
        tool = test_support.ARGS.check_app_folder
        if not harness.WINDOWS or not tool:
            self.skipTest("checks a Windows folder with check_app_folder (--check-app-folder)")
        needs_runtime = b"python27.dll needs Microsoft.VC90.CRT 9.0.21022.8 amd64 (MSVCR90.dll): "
        # (folder, exit status, the start of a line it must print, and what
        # else that line says)
        cases = [
            ("with runtime", 0, None, None),
            ("without runtime", 1, needs_runtime, b"no private assembly in the folder"),
            ("another version", 1, needs_runtime, b"9.0.30729.9247"),
            ("without sqlite3.dll", 1, b"DLLs/_sqlite3.pyd needs sqlite3.dll: ",
             b"not in the folder"),
        ]
        for variant, code, start, says in cases:
            with self.subTest(variant=variant):
                folder = self.runtime_folder(variant)
                checked = subprocess.run([tool, folder], capture_output=True, timeout=60)
                self.assertEqual(checked.returncode, code, checked.stdout + checked.stderr)
                if start:
                    lines = [line for line in checked.stdout.splitlines()
                             if line.startswith(start) and says in line]
                    self.assertEqual(len(lines), 1, checked.stdout)


if __name__ == "__main__":
    harness.main()
