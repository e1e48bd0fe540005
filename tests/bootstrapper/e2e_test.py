#!/usr/bin/env python3
"""End-to-end tests of the installed morvex_desktop against the real Python
2.7 interpreter.

The build is installed once with `cmake --install`; every case then gets a
fresh application folder of its own (the program copied, the interpreter's
files linked in), small fixture packages, and a controlled environment.
On POSIX hosts the error box is written to standard error as
"caption: text\\n", which is how these tests read it. A Windows build runs
under Wine (--wine, the runner) with a helper (--box-reader) that reads and
dismisses the real boxes and writes them in that same form.

    e2e_test.py --build BUILD [--cmake CMAKE] [--wine RUNNER --box-reader READER]
"""
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import textwrap
import unittest
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import screen  # noqa: E402
import test_support  # noqa: E402
from test_support import tree  # noqa: E402

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
    """PATH only, plus the settings of the sanitizers and of Wine; never the
    PYTHON* variables of the machine, which the interpreter would honour."""
    env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin")}
    if WINDOWS:
        # In the C locale Wine keeps only the low 7 bits of each byte of a
        # non-ASCII argument ("cafe\u0301" arrives as "cafC)").
        env["LANG"] = "C.UTF-8"
    for name in os.environ:
        if name in ("ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "HOME") or \
                name.startswith("WINE"):
            env[name] = os.environ[name]
    if "LSAN_OPTIONS" in env:
        env["LSAN_OPTIONS"] = leak_options(env["LSAN_OPTIONS"], root)
    env.update(extra or {})
    return env


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

    @classmethod
    def tearDownClass(cls):
        if hasattr(cls, "clean_prefix"):
            test_support.end_wine_session(cls.clean_prefix)
        shutil.rmtree(cls.root, ignore_errors=True)

    def app_folder(self, name="app"):
        """A fresh application folder as the install step lays it out: the
        program copied, so that it finds itself here; the interpreter's files
        linked, which the runs never change; modules/ empty."""
        case = tempfile.mkdtemp(dir=self.root)
        folder = os.path.join(case, name)
        os.makedirs(os.path.join(folder, "modules"))
        shutil.copy2(os.path.join(self.installed, PROGRAM), folder)
        for entry in os.listdir(self.installed):
            source = os.path.join(self.installed, entry)
            if entry in (PROGRAM, "modules", "tools") or entry.startswith("launcher"):
                continue
            if os.path.isdir(source):
                shutil.copytree(source, os.path.join(folder, entry), copy_function=os.link)
            else:
                os.link(source, os.path.join(folder, entry))
        return folder

    def add_package(self, folder, body="", where="modules"):
        package = os.path.join(folder, where, "morvex", "desktop")
        os.makedirs(package)
        for init in ("morvex", "morvex/desktop"):
            open(os.path.join(folder, where, init, "__init__.py"), "w").close()
        with open(os.path.join(package, "main.py"), "w") as f:
            f.write(FIXTURE.replace("    BODY\n", textwrap.indent(body, "    ") + "\n"))

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

    def run_launcher(self, folder):
        """Starts the program through a concrete launcher, which gives it no
        standard handles; the launcher's exit code."""
        launcher = os.path.join(folder, "start" + (".exe" if WINDOWS else ""))
        shutil.copy2(os.path.join(self.installed, "launcher" + (".exe" if WINDOWS else "")), launcher)
        with open(launcher, "ab") as image:
            program = os.path.join(folder, PROGRAM)
            program = test_support.windows(program) if WINDOWS else program
            image.write(b'#!"' + program.encode() + b'"\0')
        command = WINE.split() + [launcher]
        return subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, env=controlled_environment(self.root),
                              cwd=self.root, timeout=300).returncode

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
            folder = self.app_folder()
            self.add_package(folder, where=".")
            open(self.search_path_file(folder), "w").close()
            run = self.run_app(folder)
            self.assert_clean_exit(run)
            if not WINDOWS:
                self.assertTrue(run.report["path"][-1].endswith("/lib/python2.7/lib-dynload"))
            cls.own_entries = len(run.report["path"])
        return cls.own_entries

    @staticmethod
    def search_path_file(folder):
        name = PROGRAM[:-len(".exe")] if WINDOWS else PROGRAM
        return os.path.join(folder, name + ".pth")

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
                self.add_package(folder, TK_BODY)
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
        self.add_package(folder, "return 42")
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
        self.add_package(folder, body)
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
                self.add_package(folder, body)
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
                self.add_package(folder, body.replace("SAVED", repr(native(saved))))
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
        self.add_package(folder)
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
                self.add_package(folder, body.replace("DONE", repr(native(done))))
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
                self.add_package(folder, body)
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
        self.add_package(elsewhere, "sys.stdout.write('replaced\\n')", where=".")
        os.makedirs(os.path.join(elsewhere, "json"))
        for name in ("os.py", "json/__init__.py"):
            with open(os.path.join(elsewhere, name), "w") as f:
                f.write("raise ImportError('planted')\n")
        folder = self.app_folder()
        self.add_package(folder, "import os, json")
        run = self.run_app(folder, env={"PYTHONPATH": native(elsewhere), "PYTHONHOME": native(elsewhere),
                                        "PYTHONVERBOSE": "1"})
        self.assert_clean_exit(run)
        self.assertNotIn(b"replaced", run.stdout)
        self.assertFalse([p for p in run.report["path"] if "elsewhere" in p], run.report["path"])

    # -- what the application is given -------------------------------------

    def test_arguments_reach_sys_argv_unchanged(self):
        folder = self.app_folder()
        self.add_package(folder)
        arguments = [b"plain", b"with space", b'quote"inside', b"", b"tab\there", b"caf\xc3\xa9",
                     b"--flag=1", b"*.txt"]
        run = self.run_app(folder, arguments)
        self.assert_clean_exit(run)
        argv = [a.encode("latin-1") for a in run.report["argv"]]
        self.assertEqual(argv[1:], [ansi(a) for a in arguments])
        program = native(os.path.join(folder, PROGRAM))
        self.assertEqual(argv[0].replace(b"\\", b"/"), program.encode())

    def test_marks_are_set_before_the_package_is_imported(self):
        folder = self.app_folder()
        self.add_package(folder)
        run = self.run_app(folder)
        self.assert_clean_exit(run)
        self.assertEqual(run.report["at_import"]["frozen"], True)
        self.assertEqual(run.report["at_import"]["brenvik_build"], True)
        self.assertEqual([run.report["frozen"], run.report["brenvik_build"]], [True, True])

    def test_marks_are_set_before_the_first_search_path_entry(self):
        folder = self.app_folder()
        self.add_package(folder)
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
        self.add_package(folder)
        run = self.run_app(folder)
        self.assert_clean_exit(run)
        self.assertEqual(run.report["at_import"]["frame"], ["morvex_desktop.exe", 1])
        self.assertEqual(run.report["frame"], ["morvex_desktop.exe", 2])

    # -- the search path ---------------------------------------------------

    def test_search_path_file_decides_what_is_appended(self):
        # (file bytes or None for no file, appended folders; "P" stands for
        # the program folder and "Q" for its parent)
        cases = [
            (None, [b"P/python27.zip", b"P/modules", b"P/modules/win32modules/win32/lib"]),
            (b"", []),
            (b"\n", [b"P/"]),
            (b"lib\r\n\r\n../shared", [b"P/lib", b"P/", b"Q/shared"]),
            (b"a\rb\n", [b"P/a\rb"]),
            (b"../../lib\n../a/../b\n", [b"Q/lib", b"Q/a/b"]),
            (b"before\nit's\nafter\n", [b"P/before", b"P/it's", b"P/after"]),
            (b"..\\lib\nC:\\new\\table\\x41\n", [b"P/..\\lib", b"P/C:\\new\\table\\x41"]),
            (b"before\nNUL\x00here\nafter\n", [b"P/before", b"P/after"]),
            (b"\xef\xbb\xbflib\n", [b"P/\xef\xbb\xbflib"]),
            (b"\x1alib\n", []),
            (b"lib\x1a\nhidden\n", [b"P/lib"]),
            (b" lib \n\tx\t\n", [b"P/ lib ", b"P/\tx\t"]),
            (b"x'); import os; os.write(2, 'pwned'); ('\n",
             [b"P/x'); import os; os.write(2, 'pwned'); ('"]),
        ]
        for content, expected in cases:
            with self.subTest(content=content):
                folder = self.app_folder()
                self.add_package(folder, where=".")
                if content is not None:
                    with open(self.search_path_file(folder), "wb") as f:
                        f.write(content)
                run = self.run_app(folder)
                self.assert_clean_exit(run)
                self.assertEqual(self.appended(run), self.resolve(expected, folder))

    def test_program_folder_with_apostrophe_and_space(self):
        for content, expected in [(None, [b"P/python27.zip", b"P/modules",
                                          b"P/modules/win32modules/win32/lib"]),
                                  (b"modules\n../shared\n", [b"P/modules", b"Q/shared"])]:
            with self.subTest(content=content):
                folder = self.app_folder("O'Brien's app")
                self.add_package(folder)
                if content is not None:
                    with open(self.search_path_file(folder), "wb") as f:
                        f.write(content)
                run = self.run_app(folder)
                self.assert_clean_exit(run)
                self.assertEqual(self.appended(run), self.resolve(expected, folder))

    def test_program_folder_the_ansi_code_page_cannot_express(self):
        # On Windows the program then goes by its short (8.3) path, which is
        # plain ANSI; on POSIX hosts the path is bytes and used as it is.
        folder = self.app_folder("Snow \u2603 App")
        self.add_package(folder)
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
        self.add_package(folder)
        run = self.run_app(folder)
        self.assert_clean_exit(run)
        self.assertEqual(self.appended(run)[1], folder.encode() + b"/modules")

    def test_program_path_longer_than_511_bytes(self):
        if WINDOWS:
            self.skipTest("Windows paths beyond 260 characters need a long-path opt-in")
        folder = self.app_folder(os.path.join(*["deep-folder-" + "x" * 50] * 10))
        self.assertGreater(len(os.path.join(folder, PROGRAM)), 600)
        self.add_package(folder)
        with open(self.search_path_file(folder), "wb") as f:
            f.write(b"modules\n")
        run = self.run_app(folder)
        self.assert_clean_exit(run)
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
            cls.clean_prefix = test_support.clean_machine_prefix(source, cls.root, WINE)
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
                self.add_package(folder, RUNTIME_BODY)
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


def write_package(folder, main):
    """morvex.desktop.main in folder, of the source main."""
    package = os.path.join(folder, "morvex", "desktop")
    os.makedirs(package, exist_ok=True)
    for name, text in (("../__init__.py", ""), ("__init__.py", ""), ("main.py", main)):
        with open(os.path.join(package, name), "w") as f:
            f.write(text)


def shortcut_target(link):
    """The file a shell link (.lnk) starts: the local path and suffix of its
    LinkInfo (MS-SHLLINK 2.3), in the ANSI code page, the one form Wine writes."""
    data = read_bytes(link)
    flags = struct.unpack_from("<I", data, 0x14)[0]
    at = 0x4C
    if flags & 0x1:  # HasLinkTargetIDList
        at += 2 + struct.unpack_from("<H", data, at)[0]
    if not flags & 0x2:  # HasLinkInfo
        return None
    base, _, suffix = struct.unpack_from("<3I", data, at + 0x10)
    return "".join(data[at + start:data.index(b"\0", at + start)].decode("cp1252")
                   for start in (base, suffix))


def registration(values):
    """The values of a .reg export of one key: strings, and numbers for dwords."""
    found = {}
    for line in values.splitlines():
        if not line.startswith('"'):
            continue
        name, value = line.split('"=', 1)
        if value.startswith("dword:"):
            found[name[1:]] = int(value[6:], 16)
        else:
            found[name[1:]] = value[1:-1].replace('\\"', '"').replace("\\\\", "\\")
    return found


class InstallerTest(unittest.TestCase):
    """The installer that `cpack -G NSIS` makes of this build, run silently
    in a fresh copy of the runs' Wine prefix, one without Wine's own Visual
    C++ 2008 runtime when the build carries one in the folder."""

    KEY = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\morvex-desktop"
    FOLDER = "C:\\Program Files\\M\u00f8rvex Desktop"
    SHORTCUT = "ProgramData/Microsoft/Windows/Start Menu/Programs/Morvex Desktop.lnk"
    # Imported as morvex.desktop.main: says that it ran, and with what; given
    # "--until FILE", it runs until that file is there.
    STARTED = textwrap.dedent("""\
        import os, sys, time

        def main():
            with open(os.path.join(os.path.dirname(sys.executable), 'started.txt'), 'w') as f:
                f.write(' '.join(sys.argv[1:]) or '-')
            while sys.argv[1:2] == ['--until'] and not os.path.exists(sys.argv[2]):
                time.sleep(0.1)
        """)

    @classmethod
    def setUpClass(cls):
        if not WINDOWS or not test_support.ARGS.cpack:
            raise unittest.SkipTest("the installer of a Windows build (--cpack)")
        cls.root = tempfile.mkdtemp(prefix="morvex-installer-")
        installed = os.path.join(cls.root, "folder")
        subprocess.run([test_support.ARGS.cmake, "--install", test_support.ARGS.build, "--prefix",
                        installed, "--component", "runtime"], check=True, stdout=subprocess.DEVNULL)
        cls.files = tree(installed) | {"Uninstall.exe"}
        cls.setup, cls.version = cls.make_installer("new")
        # The version before, which shipped one module more.
        extra = os.path.join(cls.root, "extra")
        os.makedirs(os.path.join(extra, "modules"))
        with open(os.path.join(extra, "modules", "stale_module.py"), "w") as f:
            f.write("# shipped by 1.0.0 alone\n")
        cls.old_setup, _ = cls.make_installer("old", "-D", "CPACK_PACKAGE_VERSION=1.0.0",
                                              "-D", "CPACK_INSTALLED_DIRECTORIES=%s;/" % extra)

    @classmethod
    def tearDownClass(cls):
        if hasattr(cls, "server"):
            cls.server.terminate()
            cls.server.wait(30)
        shutil.rmtree(cls.root, ignore_errors=True)

    @classmethod
    def make_installer(cls, name, *definitions):
        packages = os.path.join(cls.root, name)
        subprocess.run([test_support.ARGS.cpack, "-G", "NSIS", "-B", packages] + list(definitions),
                       cwd=test_support.ARGS.build, check=True, stdout=subprocess.DEVNULL)
        setup, = [n for n in os.listdir(packages) if n.endswith("-win64-setup.exe")]
        version = setup[len("morvex-desktop-"):-len("-win64-setup.exe")]
        return os.path.join(packages, setup), version

    def machine(self):
        """A fresh Wine prefix for this test, removed after it; the
        environment of runs in it."""
        where = tempfile.mkdtemp(dir=self.root)
        source = os.environ.get("WINE_RUN_PREFIX") or test_support.ARGS.wine_prefix
        if RUNTIME in self.files:
            self.prefix = test_support.clean_machine_prefix(source, where, WINE)
        else:
            # Wine's own runtime stands in for the one the folder lacks.
            if not os.path.exists(os.path.join(source, ".ready")):
                subprocess.run(WINE.split() + ["cmd", "/c", "exit"], stdin=subprocess.DEVNULL,
                               env=dict(os.environ, WINE_RUN_PREFIX=source), timeout=300)
            self.prefix = os.path.join(where, "prefix")
            shutil.copytree(source, self.prefix, symlinks=True)
        self.addCleanup(test_support.end_wine_session, self.prefix)
        self.env = controlled_environment(self.root, {"WINE_RUN_PREFIX": self.prefix})

    def on_drive_c(self, path):
        """Where a path of drive C: of the prefix is on this host."""
        return os.path.join(self.prefix, "drive_c", path[3:].replace("\\", "/"))

    def wine(self, *command):
        return subprocess.run(WINE.split() + list(command), env=self.env, stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              timeout=300).returncode

    def command_line(self, line):
        """Runs a command line as written: NSIS takes /D= and _?= only last and
        unquoted, and Wine would quote an argument holding a blank."""
        env = dict(self.env, MORVEX_COMMAND=line)
        return subprocess.run(WINE.split() + ["cmd", "/c", "%MORVEX_COMMAND%"], env=env,
                              stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, timeout=300).returncode

    def settled(self):
        """Waits until every program of the prefix has ended: an uninstaller
        started without _?= runs on from a copy of itself."""
        server = shutil.which("wineserver") or "/usr/lib/wine/wineserver"
        subprocess.run([server, "-w"], env=dict(self.env, WINEPREFIX=self.prefix), timeout=300)

    def registered(self, hive):
        """The values of the installed-programs entry in HKLM or HKCU, or None."""
        exported = os.path.join(self.prefix, "drive_c", "entry.reg")
        if self.wine("reg", "export", hive + "\\" + self.KEY, "C:\\entry.reg", "/y") != 0:
            return None
        with open(exported, encoding="utf-16") as f:
            values = registration(f.read())
        os.remove(exported)
        return values

    def install(self):
        """Installs silently into FOLDER; the folder."""
        self.machine()
        folder = self.on_drive_c(self.FOLDER)
        self.assertEqual(self.command_line('"%s" /S /D=%s' % (test_support.windows(self.setup),
                                                             self.FOLDER)), 0)
        self.assertEqual(tree(folder), self.files)
        return folder

    def install_and_use(self):
        """Installs silently into FOLDER; the folder, with the package that
        says it started in place of the installed one."""
        folder = self.install()
        self.installed_bytes = sum(os.path.getsize(os.path.join(folder, name)) for name in self.files
                                   if os.path.isfile(os.path.join(folder, name)))
        write_package(os.path.join(folder, "modules"), self.STARTED)
        return folder

    def started(self, program):
        """The program started in the test's prefix, not waited for."""
        process = subprocess.Popen(WINE.split() + [program], env=self.env, stdin=subprocess.DEVNULL,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(lambda: process.poll() is None and process.kill())
        return process

    def on_screen(self):
        """Shows the prefix's windows on an X display of the tests' own; the
        display. Pictures go to the build's test artefacts."""
        cls = type(self)
        if not hasattr(cls, "display"):
            missing = [tool for tool in ("Xvfb", "xdotool", "xwd", "convert") if not shutil.which(tool)]
            if missing:
                self.skipTest("windows are seen with %s (scripts/setup-machine.sh)" % missing)
            cls.server, cls.display = screen.start_display()
        screen.draw_on_x(self.prefix, WINE, self.env)
        self.env = dict(self.env, WINE_RUN_DISPLAY=cls.display)
        os.makedirs(test_support.ARGS.artefacts, exist_ok=True)
        return cls.display

    def seen(self, display, title, picture):
        """The window titled title, found as a person finds it and kept as a
        picture; its X id."""
        found = screen.find_window(display, title)
        self.assertIsNotNone(found, "no window titled %r" % title)
        window, place = found
        path = os.path.join(test_support.ARGS.artefacts, picture)
        self.assertGreater(screen.picture(display, place, path), 8, "%s is blank" % path)
        return window

    def test_the_installed_sample_opens_its_window(self):
        folder = self.install()
        display = self.on_screen()
        # As its Start-menu shortcut starts it: the window, closed with Escape.
        target = shortcut_target(os.path.join(self.prefix, "drive_c", self.SHORTCUT))
        started = self.started(target)
        window = self.seen(display, "Morvex Desktop", "sample-window.png")
        screen.press(display, window, "Escape")
        self.assertEqual(started.wait(60), 0)
        # Through a concrete launcher beside it, which returns at once: the
        # window, closed with its button (the space bar presses the focused
        # Close).
        launcher = os.path.join(folder, "Morvex Desktop Sample.exe")
        shutil.copy(os.path.join(folder, "launcher.exe"), launcher)
        with open(launcher, "ab") as image:
            image.write(b"#!morvex_desktop.exe\0")
        self.assertEqual(self.wine(self.FOLDER + "\\Morvex Desktop Sample.exe"), 0)
        window = self.seen(display, "Morvex Desktop", "sample-window-from-launcher.png")
        screen.press(display, window, "space")
        self.assertTrue(screen.wait_until_gone(display, "Morvex Desktop"))
        # An application that fails: one "Python Exception" box, dismissed
        # with Enter, and exit code 1.
        with open(os.path.join(folder, "morvex_desktop.pth"), "w") as f:
            f.write("failing\n")
        write_package(os.path.join(folder, "failing"),
                      "def main():\n    raise RuntimeError('shown in a box')\n")
        failing = self.started(target)
        box = self.seen(display, "Python Exception", "python-exception-box.png")
        screen.press(display, box, "Return")
        self.assertEqual(failing.wait(60), 1)

    def test_silent_install_registers_and_starts_from_its_shortcut_and_a_launcher(self):
        folder = self.install_and_use()
        entry = self.registered("HKLM")
        self.assertEqual(entry.pop("EstimatedSize"), self.installed_bytes // 1024)
        self.assertEqual(entry, {
            "DisplayName": "Morvex Desktop", "DisplayVersion": self.version, "Publisher": "Morvex",
            "InstallLocation": self.FOLDER, "DisplayIcon": self.FOLDER + "\\morvex_desktop.exe",
            "UninstallString": '"%s\\Uninstall.exe"' % self.FOLDER,
            "QuietUninstallString": '"%s\\Uninstall.exe" /S' % self.FOLDER,
            "NoModify": 1, "NoRepair": 1})

        target = shortcut_target(os.path.join(self.prefix, "drive_c", self.SHORTCUT))
        self.assertEqual(target, self.FOLDER + "\\morvex_desktop.exe")
        started = os.path.join(folder, "started.txt")
        self.assertEqual(self.wine(target), 0)
        self.assertEqual(test_support.wait_for_file(started), b"-")
        os.remove(started)
        # A launcher made beside the program names it without a folder.
        launcher = os.path.join(folder, "Morvex Notes.exe")
        shutil.copy(os.path.join(folder, "launcher.exe"), launcher)
        with open(launcher, "ab") as image:
            image.write(b"#!morvex_desktop.exe --open notes\0")
        self.assertEqual(self.wine(self.FOLDER + "\\Morvex Notes.exe"), 0)
        self.assertEqual(test_support.wait_for_file(started), b"--open notes")

    def test_uninstall_removes_what_it_installed_and_nothing_else(self):
        folder = self.install_and_use()
        # Refused while a program of the folder runs: exit 4, nothing removed.
        stop = os.path.join(folder, "stop")
        running = subprocess.Popen(
            WINE.split() + [self.FOLDER + "\\morvex_desktop.exe", "--until", self.FOLDER + "\\stop"],
            env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(running.wait, 120)
        self.addCleanup(lambda: open(stop, "w").close())
        self.assertIsNotNone(test_support.wait_for_file(os.path.join(folder, "started.txt")))
        uninstaller = self.FOLDER + "\\Uninstall.exe"
        self.assertEqual(self.command_line('"%s" /S _?=%s' % (uninstaller, self.FOLDER)), 4)
        open(stop, "w").close()
        self.assertEqual(running.wait(120), 0)
        self.assertLessEqual(self.files, tree(folder))
        users = tree(folder) - self.files
        self.assertIn("started.txt", users)

        stale = os.path.join(self.root, "stale-uninstall.exe")
        shutil.copy(os.path.join(folder, "Uninstall.exe"), stale)
        self.assertEqual(self.wine(uninstaller, "/S"), 0)
        self.settled()
        # Left: what the user made, and the folders that hold it.
        kept = users | {name.rsplit("/", i)[0] for name in users for i in range(1, name.count("/") + 1)}
        self.assertEqual(tree(folder), kept)
        self.assertIsNone(self.registered("HKLM"))
        self.assertFalse(os.path.exists(os.path.join(self.prefix, "drive_c", self.SHORTCUT)))
        # An uninstaller of the removed installation finds nothing to do.
        self.assertEqual(self.command_line('"%s" /S _?=%s' % (test_support.windows(stale),
                                                             self.FOLDER)), 3)
        self.assertEqual(tree(folder), kept)

    def test_version_information_names_the_product_and_its_version(self):
        """What Windows shows in the setup program's properties, read by
        Debian's python3-pefile (tests/version_info.py)."""
        def version_info(setup):
            reader = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "version_info.py")
            lines = subprocess.run(["/usr/bin/python3", reader, setup], check=True,
                                   stdout=subprocess.PIPE, universal_newlines=True).stdout
            return dict(line.split("=", 1) for line in lines.splitlines())
        info = version_info(self.setup)
        self.assertRegex(info.pop("LegalCopyright"), r"^Copyright \(C\) \d{4} Morvex$")
        self.assertEqual(info, {
            "ProductName": "Morvex Desktop", "CompanyName": "Morvex",
            "FileDescription": "Morvex Desktop Setup", "FileVersion": self.version,
            "ProductVersion": self.version, "OriginalFilename": os.path.basename(self.setup),
            "FixedFileVersion": self.version + ".0", "FixedProductVersion": self.version + ".0"})
        self.assertEqual(version_info(self.old_setup)["FixedProductVersion"], "1.0.0.0")

    def test_upgrade_leaves_the_new_versions_files_and_the_users(self):
        self.machine()
        self.assertEqual(self.wine(self.old_setup, "/S", "/CurrentUser"), 0)
        old = self.registered("HKCU")
        self.assertEqual(old["DisplayVersion"], "1.0.0")
        folder = self.on_drive_c(old["InstallLocation"])
        self.assertEqual(tree(folder), self.files | {"modules/stale_module.py"})
        with open(os.path.join(folder, "modules", "mine.py"), "w") as f:
            f.write("# the user's\n")
        # The new version, without a word of where or for whom: as before.
        self.assertEqual(self.wine(self.setup, "/S"), 0)
        self.assertEqual(tree(folder), self.files | {"modules/mine.py"})
        new = self.registered("HKCU")
        self.assertEqual([new["DisplayVersion"], new["InstallLocation"]],
                         [self.version, old["InstallLocation"]])
        self.assertIsNone(self.registered("HKLM"))


def add_arguments(parser):
    parser.add_argument("--build", required=True, help="the build folder to install")
    parser.add_argument("--cmake", default="cmake")
    parser.add_argument("--wine", default="", help="program that runs Windows programs")
    parser.add_argument("--box-reader", default="", help="the Windows helper that reads boxes")
    parser.add_argument("--cpack", default="", help="cpack, for the Windows installer's tests")
    parser.add_argument("--wine-prefix", default="",
                        help="the runner's Wine prefix, copied for the clean-machine runs")
    parser.add_argument("--check-app-folder", default="", help="check_app_folder for this machine")
    parser.add_argument("--python27", required=True, help="the build host's Python 2.7")
    parser.add_argument("--artefacts", default="", help="where the pictures of windows are kept")


def configure(args):
    global WINE, WINDOWS, PROGRAM
    WINE = args.wine
    WINDOWS = bool(args.box_reader)
    PROGRAM = "morvex_desktop.exe" if WINDOWS else "morvex_desktop"


if __name__ == "__main__":
    test_support.main(add_arguments, configure)
