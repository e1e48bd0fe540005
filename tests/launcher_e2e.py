#!/usr/bin/env python3
"""End-to-end tests of concrete launchers.

Each test makes a concrete launcher from the real stub with make_launcher,
starts it with arguments, and reads the report that the child (report_child)
writes: its raw command line, its split arguments, its working folder and
whether it has standard handles. With --wine the programs are Windows
programs run under Wine.
"""
import os
import shutil
import struct
import tempfile
import unittest

import signing_keys
import test_support
from test_support import (ABSENCE_WAIT, ARGS, certificate_table, exe, host_path, run,
                          security_entry, wait_for, write_launcher)


def quote(path):
    return '"' + path + '"'


class LauncherTest(unittest.TestCase):
    def setUp(self):
        self.folder, self.child, self.report = test_support.stage_child(
            self, ARGS.child, "morvex-launcher-")

    def make(self, command, folder=None, name="app"):
        """A concrete launcher whose trailer is command."""
        launcher = os.path.join(folder or self.folder, exe(name))
        result = run(ARGS.make_launcher, [host_path(ARGS.launcher), host_path(launcher), command])
        self.assertEqual(result.returncode, 0, result.stderr)
        return launcher

    def child_command(self):
        return quote(host_path(self.child)) + " " + quote(host_path(self.report))

    def start(self, launcher, args, **kwargs):
        """The report of the child that the launcher started (one left by an
        earlier start is removed first)."""
        if os.path.exists(self.report):
            os.remove(self.report)
        result = run(launcher, args, **kwargs)
        self.assertEqual(result.returncode, 0)
        report = wait_for(self.report)
        self.assertIsNotNone(report, "the child wrote no report")
        return report

    def assertReceived(self, report, expected_args):
        self.assertEqual(report["args"][1:], [host_path(self.report)] + expected_args)


class ArgumentsTest(LauncherTest):
    def test_no_arguments(self):
        report = self.start(self.make(self.child_command()), [])
        self.assertReceived(report, [])
        if ARGS.wine:  # a POSIX child only sees its split arguments
            self.assertEqual(report["commandline"], self.child_command())

    def test_arguments_arrive_intact(self):
        cases = {
            "spaced": ["a b", "  lead", "trail  "],
            "empty": ["", "x", ""],
            "quoted": ['say "hi"', '"', '\\"', 'a\\\\"b'],
            "backslashes": ["dir\\", "a b\\", "\\\\server\\share\\"],
            "blanks": ["tab\there", "line\nfeed", "v\vt"],
            "non-ascii": ["café", "日本語", "emoji \U0001F600", "ünï cödé"],
            "marker-like": ["#!", "'single'", "%PATH%", "$HOME", "*.txt"],
        }
        launcher = self.make(self.child_command())
        for name, args in cases.items():
            with self.subTest(name):
                report = self.start(launcher, args)
                self.assertReceived(report, args)
                if ARGS.wine:
                    self.assertTrue(report["commandline"].startswith(self.child_command() + " "))

    def test_non_utf8_argument_arrives_byte_for_byte(self):
        if ARGS.wine:
            self.skipTest("Windows arguments are UTF-16 text")
        argument = os.fsdecode(b"\xff\xfe raw \xe9 \xed\xa0\x80")
        report = self.start(self.make(self.child_command()), [argument])
        self.assertEqual(os.fsencode(report["args"][2]), os.fsencode(argument))

    def test_trailer_tokens_come_first(self):
        launcher = self.make(self.child_command() + ' fixed "two words"')
        self.assertReceived(self.start(launcher, ["x"]), ["fixed", "two words", "x"])

    def test_own_path_with_quotes_and_blanks(self):
        if ARGS.wine:
            self.skipTest("a Windows file name cannot hold a quote")
        folder = os.path.join(self.folder, 'q "x" y')
        os.mkdir(folder)
        args = ["a b", '"q"', "", "tail"]
        self.assertReceived(self.start(self.make(self.child_command(), folder=folder), args), args)

    def test_child_gets_the_launchers_folder_and_no_handles(self):
        workdir = os.path.join(self.folder, "work dir")
        os.mkdir(workdir)
        report = self.start(self.make(self.child_command()), [], cwd=workdir)
        self.assertEqual(report["cwd"].rstrip("\\/"), host_path(workdir))
        self.assertTrue(report["no_standard_handles"])


class ProgramSearchTest(LauncherTest):
    def test_a_program_named_without_a_folder_never_comes_from_the_current_folder(self):
        """A file planted in the folder the user starts from (a downloads
        folder) must not run in place of the program on PATH."""
        work, on_path, beside = (os.path.join(self.folder, n) for n in ("work", "bin", "beside"))
        # (case, folders holding a copy of the child as "prog", the one that
        # must start, or None for no child at all)
        cases = [
            ("on PATH", [work, on_path], on_path),
            # POSIX rules never look in the launcher's folder.
            ("beside the launcher", [work, on_path, beside], beside if ARGS.wine else on_path),
            ("only in the current folder", [work], None),
        ]
        env = dict(os.environ)
        if ARGS.wine:
            env["WINEPATH"] = host_path(on_path)
        else:
            # An empty entry first: the current folder, to POSIX's own search.
            env["PATH"] = ":" + on_path
        for name, holders, expected in cases:
            with self.subTest(name):
                for folder in (work, on_path, beside):
                    shutil.rmtree(folder, ignore_errors=True)
                    os.mkdir(folder)
                for folder in holders:
                    shutil.copy(self.child, os.path.join(folder, exe("prog")))
                if os.path.exists(self.report):
                    os.remove(self.report)
                launcher = self.make("prog " + quote(host_path(self.report)), folder=beside)
                result = run(launcher, [], cwd=work, env=env)
                if expected is None:
                    self.assertEqual(result.returncode, 1)
                    self.assertIsNone(wait_for(self.report, ABSENCE_WAIT), "a child was started")
                    continue
                self.assertEqual(result.returncode, 0)
                report = wait_for(self.report)
                self.assertIsNotNone(report, "the child wrote no report")
                self.assertEqual(report["program"], host_path(os.path.join(expected, exe("prog"))))
                self.assertEqual(report["args"][0], "prog")


class TrailerTest(LauncherTest):
    def test_the_last_of_two_trailers_wins(self):
        # Appended by hand: make_launcher refuses a stub that has a trailer.
        second = self.make("does-not-exist", name="second")
        with open(second, "ab") as image:
            image.write(b"#!" + (self.child_command() + " second").encode() + b"\0")
        self.assertReceived(self.start(second, []), ["second"])

    def assertNoChild(self, launcher):
        result = run(launcher, ["arg"])
        self.assertEqual(result.returncode, 1)
        self.assertIsNone(wait_for(self.report, ABSENCE_WAIT), "a child was started")

    def test_stub_without_trailer_starts_no_child(self):
        stub = os.path.join(self.folder, os.path.basename(ARGS.launcher))
        shutil.copy(ARGS.launcher, stub)
        self.assertNoChild(stub)

    def test_cut_off_trailer_starts_no_child(self):
        launcher = os.path.join(self.folder, exe("cut"))
        self.assertNoChild(write_launcher(ARGS.launcher, launcher, self.child_command(),
                                          terminated=False))

    def test_missing_child_exits_1(self):
        launcher = self.make(quote(host_path(os.path.join(self.folder, "missing"))) + " x")
        self.assertEqual(run(launcher, ["a"]).returncode, 1)

    def test_non_utf8_trailer_is_read_in_the_ansi_code_page(self):
        folder = os.path.join(self.folder, "café")
        os.mkdir(folder)
        shutil.move(self.child, folder)
        self.child = os.path.join(folder, os.path.basename(self.child))
        launcher = os.path.join(self.folder, exe("latin1"))
        write_launcher(ARGS.launcher, launcher, self.child_command().encode("latin-1"))
        self.assertReceived(self.start(launcher, []), [])

    def test_utf8_trailer_with_non_ascii_child_folder(self):
        folder = os.path.join(self.folder, "日本 ü")
        os.mkdir(folder)
        shutil.move(self.child, folder)
        self.child = os.path.join(folder, os.path.basename(self.child))
        self.assertReceived(self.start(self.make(self.child_command()), ["é"]), ["é"])

    def test_launcher_in_a_non_ansi_folder(self):
        folder = os.path.join(self.folder, "запуск 日本")
        os.mkdir(folder)
        self.assertReceived(self.start(self.make(self.child_command(), folder=folder), ["a"]),
                            ["a"])

    def test_launcher_under_a_long_path(self):
        if ARGS.wine:
            self.skipTest("paths beyond MAX_PATH need opt-in on Windows")
        folder = self.folder
        while len(folder) < 600:
            folder = os.path.join(folder, "a-rather-long-folder-name")
        os.makedirs(folder)
        self.assertReceived(self.start(self.make(self.child_command(), folder=folder), []), [])

    def test_child_outlives_the_launcher(self):
        env = dict(os.environ, MORVEX_CHILD_LINGER_MS="3000")
        launcher = self.make(self.child_command())
        result = run(launcher, ["late"], env=env)
        self.assertEqual(result.returncode, 0)
        self.assertFalse(os.path.exists(self.report), "the launcher waited for its child")
        report = wait_for(self.report)
        self.assertIsNotNone(report)
        self.assertReceived(report, ["late"])


class ExitCodeTest(LauncherTest):
    """0 when a child was started, 1 when none was, on every path."""

    def make_stub(self):
        stub = os.path.join(self.folder, exe("stub"))
        shutil.copy(ARGS.launcher, stub)
        return stub

    def make_cut(self):
        return write_launcher(ARGS.launcher, os.path.join(self.folder, exe("cut")),
                              self.child_command(), terminated=False)

    def make_sized(self, size):
        return write_launcher(ARGS.launcher, os.path.join(self.folder, exe("sized")),
                              self.child_command(), at=size)

    def make_unreadable(self):
        """Executable but not readable: the launcher cannot read its own
        trailer. Root reads anything, so then it runs as nobody."""
        os.chmod(self.folder, 0o777)
        launcher = self.make(self.child_command())
        os.chmod(launcher, 0o111)
        return launcher

    def make_running(self, command):
        # By hand: make_launcher refuses some of these commands.
        return write_launcher(ARGS.launcher, os.path.join(self.folder, exe("other")), command)

    def test_exit_codes(self):
        missing = os.path.join(self.folder, exe("missing"))
        not_a_program = os.path.join(self.folder, "notes.txt")
        with open(not_a_program, "w") as notes:
            notes.write("not a program\n")
        as_nobody = 65534 if os.geteuid() == 0 else None
        # name, how the launcher is made, user, exit code, whether the
        # command names the child (so that its absence can be seen)
        cases = [
            ("child started", lambda: self.make(self.child_command()), None, 0, True),
            ("no trailer", self.make_stub, None, 1, False),
            ("cut-off trailer", self.make_cut, None, 1, True),
            ("own file of 64 MiB", lambda: self.make_sized(64 << 20), None, 0, True),
            ("own file of 2 GiB", lambda: self.make_sized(2 << 30), None, 1, True),
            ("program does not exist", lambda: self.make_running(quote(host_path(missing))),
             None, 1, False),
            ("program is not a program",
             lambda: self.make_running(quote(host_path(not_a_program))), None, 1, False),
            ("empty command", lambda: self.make_running(""), None, 1, False),
            ("empty program name", lambda: self.make_running('"" x'), None, 1, False),
        ]
        if not ARGS.wine:
            cases.append(("own file unreadable", self.make_unreadable, as_nobody, 1, True))
        for name, make, user, code, names_child in cases:
            with self.subTest(name):
                if os.path.exists(self.report):
                    os.remove(self.report)
                launcher = make()
                self.assertEqual(run(launcher, ["arg"], user=user).returncode, code)
                if code == 0:
                    report = wait_for(self.report)
                    self.assertIsNotNone(report, "the child wrote no report")
                    self.assertReceived(report, ["arg"])
                elif names_child:
                    self.assertIsNone(wait_for(self.report, ABSENCE_WAIT), "a child was started")
                os.remove(launcher)


class SigningTest(LauncherTest):
    """Concrete launchers signed with Authenticode: the signature lies behind
    the trailer and may hold "#!" and 0x00 bytes of its own."""
    keys = None

    @classmethod
    def setUpClass(cls):
        if not ARGS.wine:
            raise unittest.SkipTest("Authenticode signs Windows programs (run with --wine)")
        missing = [tool for tool in ("osslsigncode", "openssl") if not shutil.which(tool)]
        if missing:
            raise unittest.SkipTest("not installed: " + ", ".join(missing))
        cls.keys = tempfile.mkdtemp(prefix="morvex-keys-")

    @classmethod
    def tearDownClass(cls):
        if cls.keys:
            shutil.rmtree(cls.keys, ignore_errors=True)

    @classmethod
    def key(cls, name, self_signed):
        """Fresh keys: a self-signed certificate, or a CA and a code-signing
        leaf it issued (the leaf signs, with the chain in the signature, and
        the CA alone is trusted)."""
        return signing_keys.make_keys(os.path.join(cls.keys, name), self_signed=self_signed)

    def sign(self, launcher, keys):
        """The launcher signed (no timestamp: there is no network), checked to
        verify and to keep its unsigned bytes, trailer included, in front of
        the certificate table."""
        signed = launcher[:-len(".exe")] + "-signed.exe"
        signing_keys.sign(keys, launcher, signed)
        signing_keys.tool("osslsigncode", "verify", "-CAfile", keys.ca, "-in", signed)
        with open(launcher, "rb") as f:
            unsigned = f.read()
        with open(signed, "rb") as f:
            image = f.read()
        offset, size = certificate_table(image)
        self.assertGreaterEqual(offset, len(unsigned))
        self.assertEqual(offset + size, len(image))
        self.assertEqual(image[unsigned.index(b"#!"):len(unsigned)],
                         unsigned[unsigned.index(b"#!"):])
        return signed

    def test_signed_launcher_starts_its_child(self):
        for name, key in (("self-signed", self.key("single", self_signed=True)),
                          ("CA and leaf", self.key("chain", self_signed=False))):
            with self.subTest(name):
                command = self.child_command() + " é"
                signed = self.sign(self.make(command, name=name.replace(" ", "-")), key)
                args = ["a b", '"q"', "", "dir\\"]
                self.assertReceived(self.start(signed, args), ["é"] + args)
                shown = run(ARGS.make_launcher, ["--show", host_path(signed)])
                self.assertEqual(shown.returncode, 0, shown.stderr)
                self.assertEqual(shown.stdout.decode("utf-8").rstrip("\r\n"), command)

    def test_many_signings_in_a_row(self):
        # Commands of every length modulo 8, whatever the folders' paths add
        # (numbers of two digits, so that only the x and é vary), since
        # signing pads the file to eight bytes; a new key every eight
        # signings, a chain every other key: every signed launcher finds its
        # own trailer in front of 0 to 7 bytes of padding and a real
        # signature, and starts its child with its command and arguments.
        key, paddings = None, set()
        for i in range(40):
            if i % 8 == 0:
                key = self.key("key%d" % i, self_signed=not i % 16)
            with self.subTest(i):
                self.report = os.path.join(self.folder, "report-%02d.json" % i)
                extra = ["n%02d" % i, "x" * (i % 8), "é" * (i % 3)]
                command = self.child_command() + " " + " ".join(extra)
                launcher = self.make(command, name="app%d" % i)
                unsigned = os.path.getsize(launcher)
                signed = self.sign(launcher, key)
                with open(signed, "rb") as f:
                    paddings.add(certificate_table(f.read())[0] - unsigned)
                self.assertReceived(self.start(signed, ["arg %d" % i]),
                                    [a for a in extra if a] + ["arg %d" % i])
        # The commands above gave every padding there is.
        self.assertEqual(paddings, set(range(8)))

    def test_certificate_holding_a_trailer(self):
        # A table of our own making whose bytes hold a whole trailer that
        # would start the child with another report: only the real one counts.
        launcher = self.make(self.child_command() + " real")
        evil_report = os.path.join(self.folder, "evil.json")
        evil = quote(host_path(self.child)) + " " + quote(host_path(evil_report)) + " evil"
        with open(launcher, "rb") as f:
            image = bytearray(f.read())
        image += b"\0" * (-len(image) % 8)
        certificate = b"\x30\x82#!" + evil.encode() + b"\0" + b"\x05\x00"
        table = struct.pack("<IHH", 8 + len(certificate), 0x0200, 0x0002) + certificate
        table += b"\0" * (-len(table) % 8)
        struct.pack_into("<II", image, security_entry(image), len(image), len(table))
        image += table
        with open(launcher, "wb") as f:
            f.write(image)
        self.assertReceived(self.start(launcher, ["a"]), ["real", "a"])
        self.assertIsNone(wait_for(evil_report, ABSENCE_WAIT), "the signature's command ran")
        shown = run(ARGS.make_launcher, ["--show", host_path(launcher)])
        self.assertEqual(shown.stdout.decode("utf-8").rstrip("\r\n"), self.child_command() + " real")


def add_arguments(parser):
    parser.add_argument("--launcher", required=True)
    parser.add_argument("--make-launcher", required=True)
    parser.add_argument("--child", required=True)
    parser.add_argument("--wine", help="program that runs Windows programs")


if __name__ == "__main__":
    test_support.main(add_arguments)
