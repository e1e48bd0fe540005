#!/usr/bin/env python3
"""End-to-end tests of the installed morvex_desktop against the real Python
2.7 interpreter.

The build is installed once with `cmake --install`; every case then gets a
fresh application folder of its own (the program copied, the interpreter's
files linked in), small fixture packages, and a controlled environment. The
installed Windows folder carries the library the sample imports; the cases'
folders carry the whole library, as MORVEX_STDLIB=ALL lays it, since their
packages import what they test.
On POSIX hosts the error box is written to standard error as
"caption: text\\n", which is how these tests read it. A Windows build runs
under Wine (--wine, the runner) with a helper (--box-reader) that reads and
dismisses the real boxes and writes them in that same form. The installer of
a Windows build has tests of its own (installer_test.py).

    e2e_test.py --build BUILD [--cmake CMAKE] [--wine RUNNER --box-reader READER]
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import textwrap
import unittest
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import test_support  # noqa: E402
from test_support import tree, write_launcher, write_package  # noqa: E402

# Set from the command line before the first test (configure).
WINE = ""
WINDOWS = False
PROGRAM = "morvex_desktop"
BOX = b"Python Exception: "
RUNTIME = "Microsoft.VC90.CRT"
COMPILE_APPLICATION = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                   "scripts", "compile_application.py")

# Imported as morvex.desktop.main. Records what the bootstrap gave it while
# it was imported and when main() runs, and proves finalisation through an
# atexit handler (only Py_Finalize runs it). BODY is main()'s own code.
FIXTURE = textwrap.dedent("""\
    import sys
    from_disk = sorted(name for name, module in sys.modules.items()
                       if getattr(module, '__file__', None) and not name.startswith('morvex'))
    import atexit, json

    def outermost_frame():
        frame = sys._getframe()
        while frame.f_back:
            frame = frame.f_back
        return [frame.f_code.co_filename, frame.f_lineno]

    def text(value):
        return value.decode('latin-1') if isinstance(value, str) else value

    at_import = {'frozen': getattr(sys, 'frozen', None),
                 'brenvik_build': getattr(sys, 'brenvik_build', None),
                 'frame': outermost_frame(), 'from_disk': from_disk}
    atexit.register(lambda: sys.stdout.write('finalised\\n'))

    class AppError(Exception):
        pass

    class Quit(SystemExit):
        pass

    def report():
        print(json.dumps({
            'at_import': at_import,
            'frozen': sys.frozen, 'brenvik_build': sys.brenvik_build,
            'frame': outermost_frame(),
            'argv': [text(a) for a in sys.argv],
            'executable': [text(sys.executable), __import__('os').path.exists(sys.executable)],
            'path': [text(p) for p in sys.path],
            'appends': getattr(sys.path, 'appends', None),
            'codec': __import__('codecs').lookup('cp1252').name,
        }))

    def main():
        report()
        BODY
    """)

# Shadows the standard encodings package, which the interpreter imports
# while it initialises, before any statement of the bootstrapper runs: it
# makes sys.path record every append with the sys marks seen at that moment,
# then loads the real package in its place. It goes into lib/python27.zip,
# the first place of the interpreter's own path on POSIX hosts.
RECORDING_ENCODINGS = textwrap.dedent("""\
    import sys

    class RecordingPath(list):
        def append(self, item):
            self.appends.append([item.decode('latin-1'), getattr(sys, 'frozen', None),
                                 getattr(sys, 'brenvik_build', None)])
            list.append(self, item)

    sys.path = RecordingPath(sys.path)
    sys.path.appends = []
    shim = sys.modules.pop('encodings')  # kept, or its globals would be cleared
    sys.path.remove(HOOK)
    __import__('encodings')
    """)


# main()'s body where the folder's Visual C++ 2008 runtime is to be used: the
# extension modules that need it, and where it was loaded from.
RUNTIME_BODY = textwrap.dedent("""\
    import json, zlib, ctypes, unicodedata, sqlite3
    assert sqlite3.connect(':memory:').execute('select 1 + 1').fetchone() == (2,)
    assert json.loads('[1]') == [1] and zlib.decompress(zlib.compress('x')) == 'x'
    assert unicodedata.name(u'\\u2603') == 'SNOWMAN'
    kernel32 = ctypes.windll.kernel32
    kernel32.GetModuleHandleW.restype = ctypes.c_void_p
    name = ctypes.create_unicode_buffer(1024)
    kernel32.GetModuleFileNameW(ctypes.c_void_p(kernel32.GetModuleHandleW(u'msvcr90.dll')),
                                name, 1024)
    print 'runtime from', name.value.lower()
    """)


# An application as the build compiles it (scripts/compile_application.py):
# a traceback through its frames, and a data file read beside the module.
COMPILED_APPLICATION = {
    "morvex/__init__.py": "",
    "morvex/desktop/__init__.py": "",
    "morvex/desktop/greeting.txt": "hello from beside the module\n",
    "morvex/desktop/helper.py": "def fail():\n    raise ValueError('from the helper')\n",
    "morvex/desktop/main.py": textwrap.dedent("""\
        import os, sys, traceback
        from morvex.desktop import helper

        def main():
            with open(os.path.join(os.path.dirname(__file__), 'greeting.txt')) as f:
                print f.read().strip()
            try:
                helper.fail()
            except ValueError:
                print traceback.format_exc()
        """),
}

# main()'s body for Tk: the Tcl and Tk libraries the folder's Tcl took.
TK_BODY = textwrap.dedent("""\
    import Tkinter
    window = Tkinter.Tk()
    print 'libraries', window.tk.eval('set tcl_library'), window.tk.eval('set tk_library')
    print 'environment', sorted(n for n in __import__('os').environ if n.endswith('_LIBRARY'))
    window.destroy()
    """)
TK_FILES = ["DLLs/_tkinter.pyd", "DLLs/tcl85.dll", "DLLs/tk85.dll", "lib/tcl8.5/init.tcl",
            "lib/tk8.5/tk.tcl", "lib/lib-tk/Tkinter.pyc"]


def fixture(body=""):
    """FIXTURE with body as the code of its main() after the report."""
    return FIXTURE.replace("    BODY\n", textwrap.indent(body, "    ") + "\n")


def leak_options(options, folder):
    """LSAN_OPTIONS for runs of the interpreter. It never frees everything,
    in the library and in its extension modules (lib-dynload) alike, so the
    given suppressions are extended by the latter; the list of suppressions
    used must not reach standard error, which the tests read."""
    fields = [f for f in options.split(":") if f]
    given = [f.split("=", 1)[1] for f in fields if f.startswith("suppressions=")]
    lines = []
    for name in given:
        with open(name) as f:
            lines.append(f.read())
    lines.append("leak:libpython2.7.so\nleak:lib-dynload/\n")
    suppressions = os.path.join(folder, "lsan.supp")
    with open(suppressions, "w") as f:
        f.write("\n".join(lines))
    fields = [f for f in fields if not f.startswith(("suppressions=", "print_suppressions="))]
    return ":".join(fields + ["suppressions=" + suppressions, "print_suppressions=0"])


def controlled_environment(root, extra=None):
    """test_support's, with the interpreter's leaks suppressed."""
    env = test_support.controlled_environment(extra)
    if "LSAN_OPTIONS" in env:
        env["LSAN_OPTIONS"] = leak_options(env["LSAN_OPTIONS"], root)
    return env


def unicode_arguments_recipe():
    """The recipe for the exact arguments, as the folder's page gives it."""
    page = read_bytes(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "docs",
                                   "application-folder.md")).decode()
    start = page.index("```python\n", page.index("needs the exact text")) + len("```python\n")
    return page[start:page.index("```", start)]


def read_bytes(name):
    with open(name, "rb") as f:
        return f.read()


def native(path):
    """A folder as the program sees it: Wine shows the root as drive Z:."""
    return "Z:" + path if WINDOWS else path


def ansi(argument):
    """An argument as the program's narrow argv holds it: Wine passes UTF-8
    on as Unicode, which reaches argv in the ANSI code page."""
    return argument.decode("utf-8").encode("cp1252") if WINDOWS else argument


class Run:
    def __init__(self, completed, boxes=None):
        self.code = completed.returncode
        self.stdout = completed.stdout
        # The boxes shown, one line each; on POSIX all of standard error.
        self.boxes = completed.stderr if boxes is None else boxes
        self.errors = b"" if boxes is None else completed.stderr
        lines = completed.stdout.splitlines()
        self.finalised = b"finalised" in lines
        reports = [line for line in lines if line.startswith(b"{")]
        self.report = json.loads(reports[0]) if reports else None

    def path_bytes(self):
        return [p.encode("latin-1") for p in self.report["path"]]


class BootstrapperTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.mkdtemp(prefix="morvex-e2e-")
        cls.installed = os.path.join(cls.root, "installed")
        subprocess.run([test_support.ARGS.cmake, "--install", test_support.ARGS.build, "--prefix",
                        cls.installed],
                       check=True, stdout=subprocess.DEVNULL)
        cls.library = cls.whole_library()

    @classmethod
    def whole_library(cls):
        """The folder of the build's python27.zip and DLLs/ laid out again
        with every module of the kit; None where the build lays no library
        (POSIX carries it whole)."""
        settings = os.path.join(test_support.ARGS.build, "runtime-settings.json")
        if not os.path.exists(settings):
            return None
        with open(settings) as f:
            whole = dict(json.load(f), stdlib="ALL", report=os.path.join(cls.root, "report.txt"))
        with open(os.path.join(cls.root, "whole.json"), "w") as f:
            json.dump(whole, f)
        library = os.path.join(cls.root, "library")
        script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts",
                              "compile_application.py")
        subprocess.run([test_support.ARGS.python27, "-S", "-E", script, "runtime", f.name, library],
                       check=True, stdout=subprocess.DEVNULL)
        return library

    @classmethod
    def tearDownClass(cls):
        if hasattr(cls, "clean_prefix"):
            test_support.end_wine_session(cls.clean_prefix)
        shutil.rmtree(cls.root, ignore_errors=True)

    def app_folder(self, name="app"):
        """A fresh application folder as the install step lays it out: the
        program copied, so that it finds itself here; the interpreter's files
        linked, which the runs never change, with the whole library; modules/
        empty."""
        case = tempfile.mkdtemp(dir=self.root)
        folder = os.path.join(case, name)
        os.makedirs(os.path.join(folder, "modules"))
        shutil.copy2(os.path.join(self.installed, PROGRAM), folder)
        for entry in os.listdir(self.installed):
            source = os.path.join(self.installed, entry)
            if self.library and entry in ("python27.zip", "DLLs"):
                source = os.path.join(self.library, entry)
            if entry in (PROGRAM, "modules", "tools") or entry.startswith("launcher"):
                continue
            if os.path.isdir(source):
                shutil.copytree(source, os.path.join(folder, entry), copy_function=os.link)
            else:
                os.link(source, os.path.join(folder, entry))
        return folder

    def run_app(self, folder, arguments=(), env=None, cwd=None):
        command = [os.path.join(folder, PROGRAM).encode()] + list(arguments)
        env = controlled_environment(self.root, env)
        if not WINDOWS:
            return Run(subprocess.run(command, capture_output=True, timeout=120, env=env,
                                      cwd=cwd or self.root))
        # Files, not pipes: the wineserver that the first run starts inherits
        # the descriptors and would hold pipes open long after the programs.
        work = tempfile.mkdtemp(dir=self.root)
        stop, outputs = os.path.join(work, "stop"), [os.path.join(work, n) for n in "oeb"]
        with open(outputs[0], "wb") as out, open(outputs[1], "wb") as err, \
                open(outputs[2], "wb") as box_lines:
            reader = subprocess.Popen(WINE.split() + [test_support.ARGS.box_reader, native(stop)], env=env,
                                      stdout=box_lines)
            try:
                code = subprocess.run(WINE.split() + command, stdout=out, stderr=err,
                                      timeout=300, env=env, cwd=cwd or self.root).returncode
            finally:
                open(stop, "w").close()
                reader.wait(timeout=120)
        stdout, stderr, boxes = (read_bytes(name) for name in outputs)
        completed = subprocess.CompletedProcess(command, code, stdout, stderr)
        return Run(completed, boxes)

    def run_closed(self, folder):
        """Runs the program with standard output and error closed; its exit code."""
        command = WINE.split() + [os.path.join(folder, PROGRAM)]
        return subprocess.run(["sh", "-c", 'exec "$@" >&- 2>&-', "sh"] + command,
                              stdin=subprocess.DEVNULL, env=controlled_environment(self.root),
                              cwd=self.root, timeout=300).returncode

    def run_launcher(self, folder, arguments=(), cwd=None):
        """Starts the program through a concrete launcher, which gives it no
        standard handles, and the arguments; the launcher's exit code."""
        launcher = os.path.join(folder, "start" + (".exe" if WINDOWS else ""))
        program = os.path.join(folder, PROGRAM)
        write_launcher(os.path.join(self.installed, "launcher" + (".exe" if WINDOWS else "")),
                       launcher, '"%s"' % (test_support.windows(program) if WINDOWS else program))
        command = WINE.split() + [launcher] + list(arguments)
        return subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, env=controlled_environment(self.root),
                              cwd=cwd or self.root, timeout=300).returncode

    def assert_clean_exit(self, run):
        self.assertEqual(run.boxes, b"")
        self.assertEqual(run.errors, b"")
        self.assertEqual(run.code, 0)
        self.assertTrue(run.finalised)

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
            if not WINDOWS:
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
            stem = PROGRAM[:-len(".exe")] if WINDOWS else PROGRAM
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

    def test_compiled_application_keeps_source_lines_and_data_files(self):
        folder = self.app_folder()
        source = os.path.join(self.root, "application-source")
        for name, text in COMPILED_APPLICATION.items():
            os.makedirs(os.path.dirname(os.path.join(source, name)), exist_ok=True)
            with open(os.path.join(source, name), "w") as f:
                f.write(text)
        modules = os.path.join(folder, "modules")
        os.rmdir(modules)
        subprocess.run([test_support.ARGS.python27, "-S", "-E", COMPILE_APPLICATION, "build",
                        modules, source], check=True)
        files = tree(folder)
        run = self.run_app(folder)
        self.assertEqual([run.code, run.boxes, run.errors], [0, b"", b""])
        lines = [line.strip() for line in run.stdout.decode().splitlines()]
        self.assertEqual(lines[0], "hello from beside the module")
        self.assertIn('File "python-source/morvex/desktop/helper.py", line 2, in fail', lines)
        self.assertIn("raise ValueError('from the helper')", lines)
        self.assertEqual(tree(folder), files)

    def test_tk_takes_the_folders_own_tcl(self):
        if not WINDOWS:
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

    # -- outcomes ---------------------------------------------------------

    def test_normal_return_finalises_and_exits_0(self):
        folder = self.app_folder()
        write_package(folder, fixture("return 42"))
        run = self.run_app(folder)
        self.assert_clean_exit(run)
        self.assertEqual(run.report["codec"], "cp1252")

    def test_standard_library_works_silently(self):
        codecs = ["utf-8", "cp1252"] + (["mbcs"] if WINDOWS else [])
        body = textwrap.dedent("""\
            import os, json, ctypes, zlib, unicodedata, codecs
            assert json.loads(json.dumps({'a': [1]})) == {'a': [1]}
            assert zlib.decompress(zlib.compress('x' * 100)) == 'x' * 100
            assert unicodedata.name(u'\\u2603') == 'SNOWMAN'
            assert ctypes.sizeof(ctypes.c_void_p) == 8
            assert os.path.isdir(os.path.dirname(os.__file__)) or '.zip' in os.__file__
            for name in CODECS:
                assert u'caf\\xe9'.encode(name).decode(name) == u'caf\\xe9', name
            """).replace("CODECS", repr(codecs))
        folder = self.app_folder()
        write_package(folder, fixture(body))
        self.assert_clean_exit(self.run_app(folder))

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
                self.assertEqual(run.boxes, b"" if WINDOWS else errors)
                if WINDOWS:
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
        body = textwrap.dedent("""\
            try:
                for i in range(200):
                    print 'x' * 99
                    sys.stderr.write('e' * 99 + '\\n')
                sys.stdout.flush()
                outcome = 'ok'
            except Exception as error:
                outcome = repr(error)
            open(DONE, 'w').write(outcome)
            """)
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

    def test_no_library_is_loaded_from_the_current_folder(self):
        if not WINDOWS:
            self.skipTest("POSIX loaders search the current folder only where told to")
        # _sqlite3.pyd needs sqlite3.dll, which sits beside it; without it
        # there, a copy in the current folder would be taken.
        body = textwrap.dedent("""\
            import ctypes
            try:
                import sqlite3
            except ImportError as error:
                print 'refused'
            kernel32 = ctypes.windll.kernel32
            kernel32.GetModuleHandleW.restype = ctypes.c_void_p
            module = kernel32.GetModuleHandleW(u'sqlite3.dll')
            name = ctypes.create_unicode_buffer(1024)
            kernel32.GetModuleFileNameW(ctypes.c_void_p(module), name, 1024)
            print 'loaded from', name.value.lower() if module else None
            """)
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
        program = native(os.path.join(folder, PROGRAM))
        self.assertEqual(argv[0].replace(b"\\", b"/"), program.encode())

    def test_arguments_the_code_page_lacks_open_the_chosen_file_or_none(self):
        if not WINDOWS:
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
        body = textwrap.dedent("""\
            import os
            RECIPE
            opened = [open(a).read() if os.path.isfile(a) else None for a in sys.argv[1:]]
            exact = unicode_arguments()[1:]
            with open(REPORT, 'w') as f:
                json.dump({'argv': [text(a) for a in sys.argv[1:]], 'opened': opened,
                           'exact': exact}, f)
            """)
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
        if WINDOWS:
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
        if WINDOWS:
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
        if WINDOWS:
            self.skipTest("a Windows name cannot hold a backslash")
        folder = self.app_folder("a\\nb")
        write_package(folder, fixture())
        run = self.run_app(folder)
        self.assert_clean_exit(run)
        self.assertEqual(self.appended(run)[1], folder.encode() + b"/modules")

    def test_program_path_longer_than_511_bytes(self):
        if WINDOWS:
            self.skipTest("Windows paths beyond 260 characters need a long-path opt-in")
        run, folder = self.started_with_search_path(
            b"modules\n", os.path.join(*["deep-folder-" + "x" * 50] * 10))
        self.assertGreater(len(os.path.join(folder, PROGRAM)), 600)
        self.assertEqual(self.appended(run), self.resolve([b"P/modules"], folder))

    # -- on a machine that has nothing but Windows -------------------------

    def clean_machine(self):
        """The environment of a run on a machine without the Visual C++ 2008
        runtime: a copy of the runs' own Wine prefix without Wine's, made once."""
        cls = type(self)
        if not hasattr(cls, "clean_prefix"):
            source = os.environ.get("WINE_RUN_PREFIX") or test_support.ARGS.wine_prefix
            if not source:
                self.skipTest("the Wine prefix of the runs is not known (--wine-prefix)")
            cls.clean_prefix = test_support.copy_prefix(source, cls.root, WINE)
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
        if not WINDOWS:
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
        if not WINDOWS or not tool:
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

    @staticmethod
    def resolve(expected, folder):
        program = native(folder).encode()
        parent = native(os.path.dirname(folder)).encode()
        return [program + e[1:] if e.startswith(b"P") else parent + e[1:] for e in expected]


def add_arguments(parser):
    parser.add_argument("--build", required=True, help="the build folder to install")
    parser.add_argument("--cmake", default="cmake")
    parser.add_argument("--wine", default="", help="program that runs Windows programs")
    parser.add_argument("--box-reader", default="", help="the Windows helper that reads boxes")
    parser.add_argument("--wine-prefix", default="",
                        help="the runner's Wine prefix, copied for the clean-machine runs")
    parser.add_argument("--check-app-folder", default="", help="check_app_folder for this machine")
    parser.add_argument("--python27", required=True, help="the build host's Python 2.7")


def configure(args):
    global WINE, WINDOWS, PROGRAM
    WINE = args.wine
    WINDOWS = bool(args.box_reader)
    PROGRAM = "morvex_desktop.exe" if WINDOWS else "morvex_desktop"


if __name__ == "__main__":
    test_support.main(add_arguments, configure)
