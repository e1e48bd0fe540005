#!/usr/bin/env python3
"""End-to-end tests of how the installed morvex_desktop starts the
application and how it ends: a normal return and finalisation, exceptions
that escape main() and the box they show, system exit, a package that is
missing or fails while it is imported, output without usable standard
streams, the entry frames, and the sys marks set before any code of the
application runs. The harness is bootstrapper_harness.py.

    start_exit_test.py --build BUILD --python27 PYTHON27 [--cmake CMAKE]
                       [--wine RUNNER --box-reader READER]
"""
import os
import zipfile

import bootstrapper_harness as harness  # first: it puts tests/ on the path
from bootstrapper_harness import fixture, fixture_text, native
import test_support
from test_support import write_package

BOX = b"Python Exception: "

# Shadows the standard encodings package to record each append to sys.path
# with the marks seen at that moment; HOOK is the archive that holds it.
RECORDING_ENCODINGS = fixture_text("recording_encodings.py")


class StartExitTest(harness.BootstrapperTest):
    # -- outcomes ---------------------------------------------------------

    def test_normal_return_finalises_and_exits_0(self):
        folder = self.app_folder()
        write_package(folder, fixture("return 42"))
        run = self.run_app(folder)
        self.assert_clean_exit(run)
        self.assertEqual(run.report["codec"], "cp1252")

    def test_escaping_exceptions_show_one_box_and_exit_1(self):
        cases = [
            ("raise ValueError('bad value')", b"<type 'exceptions.ValueError'>bad value"),
            ("raise RuntimeError", b"<type 'exceptions.RuntimeError'>"),
            ("raise AppError('disk full')", b"<class 'morvex.desktop.main.AppError'>disk full"),
            ("raise KeyboardInterrupt", b"<type 'exceptions.KeyboardInterrupt'>"),
            # Unicode the default encoding cannot convert: the ANSI code page,
            # "?" for what it lacks.
            ("raise ValueError(u'caf\\xe9')", b"<type 'exceptions.ValueError'>caf\xe9"),
            ("raise ValueError(u'snow \\u2603 \\U0001f600!')",
             b"<type 'exceptions.ValueError'>snow ? ?!"),
            ("raise ValueError('line one\\nline two')",
             b"<type 'exceptions.ValueError'>line one\nline two"),
        ]
        for body, text in cases:
            with self.subTest(body=body):
                folder = self.app_folder()
                write_package(folder, fixture(body))
                run = self.run_app(folder)
                self.assertEqual(run.boxes, BOX + text + b"\n")
                self.assertEqual(run.code, 1)
                self.assertFalse(run.finalised)

    def test_system_exit_ends_as_the_interpreter_ends(self):
        # (main()'s body, exit code, what reaches standard error)
        cases = [
            ("sys.exit()", 0, b""),
            ("sys.exit(None)", 0, b""),
            ("sys.exit(0)", 0, b""),
            ("sys.exit(3)", 3, b""),
            ("sys.exit(True)", 1, b""),
            ("sys.exit('message')", 1, b"message\n"),
            ("raise Quit(0)", 0, b""),
            ("raise Quit(4)", 4, b""),
            ("raise SystemExit(5, 'extra')", 1, b"(5, 'extra')\n"),
            ("atexit.register(lambda: open(SAVED, 'w').write('saved'))\n"
             "sys.stdout.write('buffered\\n')\nsys.exit(0)", 0, b""),
        ]
        for body, code, errors in cases:
            with self.subTest(body=body):
                folder = self.app_folder()
                saved = os.path.join(folder, "saved.txt")
                write_package(folder, fixture(body.replace("SAVED", repr(native(saved)))))
                run = self.run_app(folder)
                self.assertEqual(run.boxes, b"" if harness.WINDOWS else errors)
                if harness.WINDOWS:
                    self.assertEqual(run.errors.replace(b"\r\n", b"\n"), errors)
                self.assertEqual(run.code, code)
                # Finalised: the atexit handlers ran and buffered output is out.
                self.assertTrue(run.finalised)
                if "SAVED" in body:
                    self.assertIn(b"buffered", run.stdout)
                    with open(saved) as f:
                        self.assertEqual(f.read(), "saved")

    def test_missing_package_shows_the_import_error(self):
        folder = self.app_folder()
        run = self.run_app(folder)
        self.assertEqual(run.boxes,
                         BOX + b"<type 'exceptions.ImportError'>No module named morvex.desktop.main\n")
        self.assertEqual(run.code, 1)

    def test_exception_while_importing_the_package(self):
        folder = self.app_folder()
        write_package(folder, fixture())
        with open(os.path.join(folder, "modules", "morvex", "desktop", "main.py"), "a") as f:
            f.write("import no_such_module\n")
        run = self.run_app(folder)
        self.assertEqual(run.boxes,
                         BOX + b"<type 'exceptions.ImportError'>No module named no_such_module\n")
        self.assertEqual(run.code, 1)

    def test_output_without_usable_standard_streams(self):
        # 200 lines to each stream: far beyond a stream's buffer, so a stream
        # without a usable handle fails as soon as the buffer is written out.
        body = fixture_text("output_streams_body.py")
        for streams in ("redirected", "closed", "launcher"):
            with self.subTest(streams=streams):
                folder = self.app_folder()
                done = os.path.join(folder, "done.txt")
                write_package(folder, fixture(body.replace("DONE", repr(native(done)))))
                if streams == "redirected":
                    run = self.run_app(folder)
                    self.assertEqual(run.stdout.replace(b"\r\n", b"\n").count(b"x" * 99 + b"\n"), 200)
                    self.assertEqual(run.code, 0)
                elif streams == "closed":
                    self.assertEqual(self.run_closed(folder), 0)
                else:
                    self.assertEqual(self.run_launcher(folder), 0)
                self.assertEqual(test_support.wait_for_file(done), b"ok")

    # -- what the application finds when its code first runs ---------------

    def test_marks_are_set_before_the_package_is_imported(self):
        folder = self.app_folder()
        write_package(folder, fixture())
        run = self.run_app(folder)
        self.assert_clean_exit(run)
        self.assertEqual(run.report["at_import"]["frozen"], True)
        self.assertEqual(run.report["at_import"]["brenvik_build"], True)
        self.assertEqual([run.report["frozen"], run.report["brenvik_build"]], [True, True])

    def test_marks_are_set_before_the_first_search_path_entry(self):
        folder = self.app_folder()
        write_package(folder, fixture())
        defaults = [native(folder) + "/python27.zip", native(folder) + "/modules",
                    native(folder) + "/modules/win32modules/win32/lib"]
        if harness.WINDOWS:
            # The Windows interpreter imports nothing from disk while it
            # starts (encodings waits for the first codec lookup), so no code
            # of the application can run, and see the marks, before the
            # package itself: the package finds no module from disk loaded
            # ahead of it, and sees the marks and the appended folders.
            run = self.run_app(folder)
            self.assert_clean_exit(run)
            self.assertEqual(run.report["at_import"]["from_disk"], [])
            self.assertEqual(run.report["at_import"]["frozen"], True)
            self.assertEqual(run.report["at_import"]["brenvik_build"], True)
            self.assertEqual(run.report["path"][-3:], defaults)
            return
        # The interpreter imports encodings while it starts, before any
        # statement of the bootstrapper: a shadowing package records every
        # append with the marks seen at that moment.
        hook = os.path.join(folder, "lib", "python27.zip")
        with zipfile.ZipFile(hook, "w") as archive:
            archive.writestr("encodings/__init__.py",
                             RECORDING_ENCODINGS.replace("HOOK", repr(native(hook))))
        run = self.run_app(folder)
        self.assert_clean_exit(run)
        self.assertEqual(run.report["appends"], [[entry, True, True] for entry in defaults])

    def test_entry_frames_are_in_the_program_at_lines_1_and_2(self):
        folder = self.app_folder()
        write_package(folder, fixture())
        run = self.run_app(folder)
        self.assert_clean_exit(run)
        self.assertEqual(run.report["at_import"]["frame"], ["morvex_desktop.exe", 1])
        self.assertEqual(run.report["frame"], ["morvex_desktop.exe", 2])


if __name__ == "__main__":
    harness.main()
