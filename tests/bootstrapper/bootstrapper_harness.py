"""What the drivers of the installed morvex_desktop share (start_exit_test.py,
environment_test.py, runtime_test.py): their options, the install, the
application folders, the runs and the fixtures.

Each driver installs the build once with `cmake --install`; every case
then gets a fresh application folder of its own (the program copied, the
interpreter's files linked in), small fixture packages, and a controlled
environment. The installed Windows folder carries the library the sample
imports; the cases' folders carry the whole library, as MORVEX_STDLIB=ALL
lays it, since their packages import what they test.
On POSIX hosts the error box is written to standard error as
"caption: text\\n", which is how these tests read it. A Windows build runs
under Wine (--wine, the runner) with a helper (--box-reader) that reads and
dismisses the real boxes and writes them in that same form. The installer of
a Windows build has tests of its own (installer_test.py).

The fixtures are files in fixtures/: reporting_main.py is the package's
main.py, whose main() runs a body of the case's own after its report; the
*_body.py files are such bodies, with the names a case fills in written in
capitals; compiled_application/ is an application's source folder.
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import textwrap
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import test_support  # noqa: E402
from test_support import write_launcher  # noqa: E402

# Set from the command line before the first test (configure).
WINE = ""
WINDOWS = False
PROGRAM = "morvex_desktop"

FIXTURES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "fixtures")


def read_bytes(name):
    with open(name, "rb") as f:
        return f.read()


def fixture_text(name):
    """The text of a file under fixtures/."""
    with open(os.path.join(FIXTURES, name)) as f:
        return f.read()


# Imported as morvex.desktop.main; BODY is main()'s own code.
FIXTURE = fixture_text("reporting_main.py")


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


def native(path):
    """A folder as the program sees it: Wine shows the root as drive Z:."""
    return "Z:" + path if WINDOWS else path


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
    """The base of the drivers' test classes: the build installed once for
    the class, and the ways to start the program of a folder."""

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
        with open(os.path.join(test_support.ARGS.build, "application-folder.json")) as f:
            plan = json.load(f)
        if plan["platform"] != "windows":
            return None
        library = os.path.join(cls.root, "library")
        plan.update(stdlib="ALL", output=library, report=os.path.join(cls.root, "report.txt"))
        with open(os.path.join(cls.root, "whole.json"), "w") as f:
            json.dump(plan, f)
        layout = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts",
                              "application_folder")
        subprocess.run([test_support.ARGS.python27, "-S", "-E", "-B", layout, "lay", f.name,
                        test_support.ARGS.check_app_folder], check=True, stdout=subprocess.DEVNULL)
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

    @staticmethod
    def resolve(expected, folder):
        """Search-path entries with "P" for the program folder and "Q" for
        its parent, as the program sees those folders."""
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


def main():
    """Runs the calling driver's tests with the harness's options."""
    test_support.main(add_arguments, configure)
