#!/usr/bin/env python3
"""End-to-end tests of what the installed morvex_desktop takes from its
environment and its folder: the installed folder unchanged by starts, the
PYTHON* variables and the current folder ignored, the arguments as sys.argv
holds them, the search-path file beside the program, and program folders
whose names are awkward (an apostrophe, characters outside the ANSI code
page, a backslash, a long path). The harness is bootstrapper_harness.py.

    environment_test.py --build BUILD --python27 PYTHON27 [--cmake CMAKE]
                        [--wine RUNNER --box-reader READER]
"""
import json
import os
import shutil

import bootstrapper_harness as harness  # first: it puts tests/ on the path
from bootstrapper_harness import fixture, fixture_text, native, read_bytes
import test_support
from test_support import tree, write_package


def ansi(argument):
    """An argument as the program's narrow argv holds it: Wine passes UTF-8
    on as Unicode, which reaches argv in the ANSI code page."""
    return argument.decode("utf-8").encode("cp1252") if harness.WINDOWS else argument


def unicode_arguments_recipe():
    """The recipe for the exact arguments, as the folder's page gives it."""
    page = read_bytes(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "docs",
                                   "application-folder.md")).decode()
    start = page.index("```python\n", page.index("needs the exact text")) + len("```python\n")
    return page[start:page.index("```", start)]


class EnvironmentTest(harness.BootstrapperTest):
    def appended(self, run):
        """What the bootstrapper appended: sys.path after the entries that
        the interpreter itself put there."""
        return run.path_bytes()[self.own_path_entries():]

    def own_path_entries(self):
        """How many entries the interpreter puts on sys.path, seen in a run
        whose search-path file appends nothing."""
        cls = type(self)
        if not hasattr(cls, "own_entries"):
            run, _ = self.started_with_search_path(b"", where=".")
            if not harness.WINDOWS:
                self.assertTrue(run.report["path"][-1].endswith("/lib/python2.7/lib-dynload"))
            cls.own_entries = len(run.report["path"])
        return cls.own_entries

    def started_with_search_path(self, content, name="app", where="modules"):
        """A clean start of a fresh folder named name, with the package under
        where and beside the program a search-path file of the bytes
        content (none for None); (the run, the folder)."""
        folder = self.app_folder(name)
        write_package(folder, fixture(), where=where)
        if content is not None:
            stem = harness.PROGRAM[:-len(".exe")] if harness.WINDOWS else harness.PROGRAM
            with open(os.path.join(folder, stem + ".pth"), "wb") as f:
                f.write(content)
        run = self.run_app(folder)
        self.assert_clean_exit(run)
        return run, folder

    # -- the folder as installed -------------------------------------------

    def test_installed_folder_is_the_same_after_starts(self):
        # The application's code comes compiled: no start compiles it again
        # or writes anything into the folder, which may be read-only.
        def contents():
            found = {}
            for name in tree(self.installed):
                path = os.path.join(self.installed, name)
                found[name] = read_bytes(path) if os.path.isfile(path) else None
            return found
        before = contents()
        self.assertIn("modules/morvex/desktop/main.pyc", before)
        self.assertNotIn("modules/morvex/desktop/main.py", before)
        # One report file for every start: each replaces the one before.
        report = os.path.join(self.root, "report.txt")
        for _ in range(3):
            run = self.run_app(self.installed, [native(report).encode()])
            self.assertEqual([run.code, run.boxes], [0, b""])
            self.assertIn(b"sys.frozen = True", read_bytes(report))
            with open(report, "wb") as f:
                f.write(b"stale")
        self.assertTrue(before == contents(), "the folder changed")

    # -- what the machine holds besides the folder -------------------------

    def test_python_environment_variables_are_ignored(self):
        # A PYTHONPATH left set for another Python names a folder whose os,
        # json and morvex.desktop.main would otherwise be taken.
        elsewhere = os.path.join(os.path.dirname(self.app_folder()), "elsewhere")
        write_package(elsewhere, fixture("sys.stdout.write('replaced\\n')"), where=".")
        os.makedirs(os.path.join(elsewhere, "json"))
        for name in ("os.py", "json/__init__.py"):
            with open(os.path.join(elsewhere, name), "w") as f:
                f.write("raise ImportError('planted')\n")
        folder = self.app_folder()
        write_package(folder, fixture("import os, json"))
        run = self.run_app(folder, env={"PYTHONPATH": native(elsewhere), "PYTHONHOME": native(elsewhere),
                                        "PYTHONVERBOSE": "1"})
        self.assert_clean_exit(run)
        self.assertNotIn(b"replaced", run.stdout)
        self.assertFalse([p for p in run.report["path"] if "elsewhere" in p], run.report["path"])

    def test_no_library_is_loaded_from_the_current_folder(self):
        if not harness.WINDOWS:
            self.skipTest("POSIX loaders search the current folder only where told to")
        # _sqlite3.pyd needs sqlite3.dll, which sits beside it; without it
        # there, a copy in the current folder would be taken. The body prints
        # whether sqlite3 imports and where its DLL came from.
        body = fixture_text("sqlite3_loaded_from_body.py")
        for beside in (True, False):
            with self.subTest(beside=beside):
                folder = self.app_folder()
                write_package(folder, fixture(body))
                work = os.path.join(os.path.dirname(folder), "downloads")
                os.makedirs(work)
                shutil.copy(os.path.join(folder, "DLLs", "sqlite3.dll"), work)
                if not beside:
                    os.remove(os.path.join(folder, "DLLs", "sqlite3.dll"))
                run = self.run_app(folder, cwd=work)
                self.assert_clean_exit(run)
                loaded = run.stdout.splitlines()[-2]
                if beside:
                    self.assertEqual(loaded, b"loaded from " + test_support.windows(
                        os.path.join(folder, "DLLs", "sqlite3.dll")).lower().encode())
                else:
                    self.assertEqual(run.stdout.splitlines()[-3:-1], [b"refused", b"loaded from None"])

    # -- what the application is given -------------------------------------

    def test_arguments_reach_sys_argv_unchanged(self):
        folder = self.app_folder()
        write_package(folder, fixture())
        arguments = [b"plain", b"with space", b'quote"inside', b"", b"tab\there", b"caf\xc3\xa9",
                     b"--flag=1", b"*.txt"]
        run = self.run_app(folder, arguments)
        self.assert_clean_exit(run)
        argv = [a.encode("latin-1") for a in run.report["argv"]]
        self.assertEqual(argv[1:], [ansi(a) for a in arguments])
        program = native(os.path.join(folder, harness.PROGRAM))
        self.assertEqual(argv[0].replace(b"\\", b"/"), program.encode())

    def test_arguments_the_code_page_lacks_open_the_chosen_file_or_none(self):
        if not harness.WINDOWS:
            self.skipTest("POSIX arguments are bytes, passed as they are")
        # Each argument, started directly and through a concrete launcher:
        # what sys.argv holds (None: a short name, checked by what it opens),
        # and the contents of the file it opens (None: none).
        cases = [("x\uff02 --flag \uff02y", "x? --flag ?y", None),
                 ("ARGS\\\u0142\u00f3d\u017a.txt", None, "chosen"),
                 ("Snow \u2603.txt", None, "snow"),
                 ("Gone \u2603.txt", "Gone ?.txt", None),
                 ("caf\u00e9", "caf\u00e9", None), ("", "", None),
                 ("with space", "with space", None)]
        # The docs' recipe goes in the body, which reports what it gives.
        body = fixture_text("arguments_body.py")
        for start in ("directly", "launcher"):
            with self.subTest(start=start):
                folder = self.app_folder()
                files = os.path.join(os.path.dirname(folder), "args")
                os.makedirs(files)
                # The decoy is what the best-fit look-alikes name.
                for name, content in (("\u0142\u00f3d\u017a.txt", "chosen"),
                                      ("l\u00f3dz.txt", "decoy"), ("Snow \u2603.txt", "snow")):
                    with open(os.path.join(files, name), "w") as f:
                        f.write(content)
                report = os.path.join(folder, "arguments.json")
                write_package(folder, fixture(body.replace("RECIPE", unicode_arguments_recipe())
                                              .replace("REPORT", repr(native(report)))))
                given = [a.replace("ARGS", test_support.windows(files)) for a, _, _ in cases]
                if start == "directly":
                    self.assert_clean_exit(self.run_app(folder, [a.encode() for a in given],
                                                        cwd=files))
                else:
                    self.assertEqual(self.run_launcher(folder, given, cwd=files), 0)
                received = json.loads(test_support.wait_for_file(report))
                self.assertEqual(received["exact"], given)
                self.assertEqual(received["opened"], [opened for _, _, opened in cases])
                for argument, (_, expected, opened) in zip(received["argv"], cases):
                    self.assertNotIn('"', argument)
                    if opened is None:
                        self.assertEqual(argument, expected)
                    else:
                        self.assertNotIn("?", argument)

    # -- the search path ---------------------------------------------------

    def test_search_path_file_decides_what_is_appended(self):
        # The rules themselves are search_path_test.cpp's; these rows show
        # that the file beside the program is read and that its entries reach
        # the real interpreter's sys.path. (file bytes or None for no file,
        # appended folders; "P" stands for the program folder and "Q" for its
        # parent)
        cases = [
            (None, [b"P/python27.zip", b"P/modules", b"P/modules/win32modules/win32/lib"]),
            (b"", []),
            # Relative entries, a blank line (the program folder) and CR LF.
            (b"lib\r\n\r\n../shared", [b"P/lib", b"P/", b"Q/shared"]),
            # A drive's absolute path, and "..\\" (not "../"), are under the program folder.
            (b"..\\lib\nC:\\new\\table\\x41\n", [b"P/..\\lib", b"P/C:\\new\\table\\x41"]),
            # A 0x00 byte drops its line, not the rest of the file.
            (b"before\nNUL\x00here\nafter\n", [b"P/before", b"P/after"]),
            # Bytes beyond ASCII, and an entry made to close its literal, as they are.
            (b"\xef\xbb\xbflib\n", [b"P/\xef\xbb\xbflib"]),
            (b"x'); import os; os.write(2, 'pwned'); ('\n",
             [b"P/x'); import os; os.write(2, 'pwned'); ('"]),
        ]
        for content, expected in cases:
            with self.subTest(content=content):
                run, folder = self.started_with_search_path(content, where=".")
                self.assertEqual(self.appended(run), self.resolve(expected, folder))

    # -- program folders of awkward names ----------------------------------

    def test_program_folder_with_apostrophe_and_space(self):
        for content, expected in [(None, [b"P/python27.zip", b"P/modules",
                                          b"P/modules/win32modules/win32/lib"]),
                                  (b"modules\n../shared\n", [b"P/modules", b"Q/shared"])]:
            with self.subTest(content=content):
                run, folder = self.started_with_search_path(content, "O'Brien's app")
                self.assertEqual(self.appended(run), self.resolve(expected, folder))

    def test_program_folder_the_ansi_code_page_cannot_express(self):
        # On Windows the program then goes by its short (8.3) path, which is
        # plain ANSI; on POSIX hosts the path is bytes and used as it is.
        folder = self.app_folder("Snow \u2603 App")
        write_package(folder, fixture())
        run = self.run_app(folder)
        self.assert_clean_exit(run)
        appended = self.appended(run)
        self.assertEqual(len(appended), 3)
        if harness.WINDOWS:
            self.assertTrue(all(b"?" not in entry for entry in appended), appended)
            self.assertTrue(appended[1].endswith(b"/modules"))
            # The program itself goes by that short path too, where it exists.
            executable, exists = run.report["executable"]
            self.assertTrue(exists and "?" not in executable, executable)
            self.assertEqual(run.report["argv"][0], executable)
        else:
            self.assertEqual(appended, self.resolve(
                [b"P/python27.zip", b"P/modules", b"P/modules/win32modules/win32/lib"], folder))

    def test_backslash_in_a_posix_folder_name_is_no_separator(self):
        if harness.WINDOWS:
            self.skipTest("a Windows name cannot hold a backslash")
        folder = self.app_folder("a\\nb")
        write_package(folder, fixture())
        run = self.run_app(folder)
        self.assert_clean_exit(run)
        self.assertEqual(self.appended(run)[1], folder.encode() + b"/modules")

    def test_program_path_longer_than_511_bytes(self):
        if harness.WINDOWS:
            self.skipTest("Windows paths beyond 260 characters need a long-path opt-in")
        run, folder = self.started_with_search_path(
            b"modules\n", os.path.join(*["deep-folder-" + "x" * 50] * 10))
        self.assertGreater(len(os.path.join(folder, harness.PROGRAM)), 600)
        self.assertEqual(self.appended(run), self.resolve([b"P/modules"], folder))


if __name__ == "__main__":
    harness.main()
